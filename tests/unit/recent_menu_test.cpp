// The recent-archive section of the tray menu, built into a real pop-up menu
// and read back; and how often building it touches the disk.
#include <windows.h>

#include <stdio.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/agent_state.h"
#include "recent/recent_files.h"
#include "unit_fixture.h"

namespace {

using unit::MenuItem;

std::vector<MenuItem> BuildRecentMenu()
{
    return unit::BuildAndReadMenu(BuildRecentFileItems);
}

std::string ValueName(int n)
{
    return "filemenu" + std::to_string(n);
}

// Counts the program's own calls of FindFirstFileA; the directory searches
// that kernel32 makes for itself (GetShortPathNameA) are not seen.
typedef HANDLE(WINAPI *FindFirstFileAFn)(LPCSTR, LPWIN32_FIND_DATAA);
FindFirstFileAFn gRealFindFirstFileA;
int gFindFirstFileCalls;

HANDLE WINAPI CountingFindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data)
{
    gFindFirstFileCalls++;
    return gRealFindFirstFileA(name, data);
}

class FindFirstFileCounter {
public:
    FindFirstFileCounter() : hook_("kernel32.dll", "FindFirstFileA", (void *)CountingFindFirstFileA)
    {
        gRealFindFirstFileA = (FindFirstFileAFn)hook_.Original();
        gFindFirstFileCalls = 0;
    }
    bool Installed() const { return hook_.Installed(); }
    int Calls() const { return gFindFirstFileCalls; }

private:
    unit::ImportHook hook_;
};

class RecentMenuTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        temp_ = Scratch() + "\\Tmp";          // three components, as is the cache
        cache_ = Scratch() + "\\Cache";
        unit::MakeFolders(temp_);
        unit::MakeFolders(cache_);
        tempOverride_ = new unit::TempPathOverride(temp_ + "\\");
        unit::SetText(HKEY_CURRENT_USER, unit::kShellFoldersKey, "Cache", cache_);
    }
    void TearDown() override
    {
        delete tempOverride_;
        CorvexRegistryTest::TearDown();
    }
    static void SetValue(int n, const std::string &path)
    {
        unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, ValueName(n).c_str(), path);
    }
    // Values 1 to 15 named after their number, in an ordinary folder that does not exist.
    static void SetFifteenOutside()
    {
        for (int n = 1; n <= 15; n++)
            SetValue(n, Outside(n));
    }
    static std::string Outside(int n) { return "D:\\Archives\\set" + std::to_string(n) + ".zip"; }

    std::string temp_, cache_;
    unit::TempPathOverride *tempOverride_ = nullptr;
};

// Expected items: recent values in the order given, then a separator when any.
void ExpectRecentItems(const std::vector<MenuItem> &items,
                       const std::vector<std::pair<int, std::string>> &expected)
{
    ASSERT_EQ(expected.size() + (expected.empty() ? 0 : 1), items.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_FALSE(items[i].separator) << "item " << i;
        EXPECT_EQ(1034u + expected[i].first, items[i].id) << "item " << i;
        EXPECT_EQ(expected[i].second, items[i].text) << "item " << i;
    }
    if (!expected.empty())
        EXPECT_TRUE(items.back().separator);
}

TEST_F(RecentMenuTest, TenHighestNumbersFirst)
{
    SetFifteenOutside();
    std::vector<std::pair<int, std::string>> expected;
    for (int n = 15; n >= 6; n--)
        expected.push_back({ n, Outside(n) });
    ExpectRecentItems(BuildRecentMenu(), expected);
}

TEST_F(RecentMenuTest, VolatileEntriesListedOnlyWhileTheyExist)
{
    unit::MakeFile(temp_ + "\\here.zip");
    unit::MakeFile(cache_ + "\\cached.zip");
    struct Case {
        const char *what;
        std::string value15;
        bool listed;
    } cases[] = {
        { "vanished in temp", temp_ + "\\gone.zip", false },
        { "vanished in temp, other case", unit::Upper(temp_) + "\\GONE.ZIP", false },
        { "existing in temp", temp_ + "\\here.zip", true },
        { "vanished in cache", cache_ + "\\gone.zip", false },
        { "existing in cache", cache_ + "\\cached.zip", true },
        { "vanished, ordinary folder", Scratch() + "\\Elsewhere\\gone.zip", true },
        { "vanished, sibling extending the temp name", temp_ + "2\\gone.zip", false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unit::DeleteKeyTree(HKEY_CURRENT_USER, unit::kFileMenuKey);
        SetFifteenOutside();
        SetValue(15, c.value15);
        std::vector<std::pair<int, std::string>> expected;
        if (c.listed)
            expected.push_back({ 15, c.value15 });
        // The next lower number takes a skipped entry's place.
        for (int n = 14; n >= (c.listed ? 6 : 5); n--)
            expected.push_back({ n, Outside(n) });
        ExpectRecentItems(BuildRecentMenu(), expected);
    }
}

TEST_F(RecentMenuTest, EmptyOrMissingKeyAddsNothing)
{
    unit::CreateEmptyKey(HKEY_CURRENT_USER, unit::kFileMenuKey);
    EXPECT_EQ(0u, BuildRecentMenu().size()) << "empty key";

    // Without the key the folders are not looked up either.
    unit::DeleteKeyTree(HKEY_CURRENT_USER, unit::kFileMenuKey);
    AgentState.VolatileFolders.tempKnown = 77;
    EXPECT_EQ(0u, BuildRecentMenu().size()) << "missing key";
    EXPECT_EQ(77, AgentState.VolatileFolders.tempKnown);
    AgentState.VolatileFolders.tempKnown = 0;
}

TEST_F(RecentMenuTest, LabelsAndOddValues)
{
    // A 64-character folder part and a 10-character name: the first 50
    // characters, "...\" and the whole name.
    const std::string folder = "D:\\" + std::string(60, 'f') + "\\";
    const std::string longPath = folder + "r&port.zip";
    ASSERT_EQ(74u, longPath.size());
    const std::string shortened = longPath.substr(0, 50) + "...\\" + "r&&port.zip";

    SetValue(9, "D:\\A&B\\x&y.zip");
    SetValue(8, longPath);
    unit::SetTextNoNul(HKEY_CURRENT_USER, unit::kFileMenuKey, ValueName(7).c_str(), "D:\\nonul.zip");
    unit::SetNumber(HKEY_CURRENT_USER, unit::kFileMenuKey, ValueName(6).c_str(), 1234);
    unit::SetRaw(HKEY_CURRENT_USER, unit::kFileMenuKey, ValueName(5).c_str(), REG_BINARY,
                 std::string("D:\\bin.zip", 11));
    SetValue(4, std::string("D:\\") + std::string(300, 'o') + ".zip");   // beyond the 261-byte limit
    SetValue(3, "D:\\three.zip");
    SetValue(16, "D:\\sixteen.zip");                                      // not one of the fifteen
    unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, "filemenu02", "D:\\two.zip");

    ExpectRecentItems(BuildRecentMenu(), {
        { 9, "D:\\A&&B\\x&&y.zip" },
        { 8, shortened },
        { 7, "D:\\nonul.zip" },
        { 3, "D:\\three.zip" },
    });
}

TEST_F(RecentMenuTest, ValueFillingTheLimit)
{
    // 261 bytes and no terminator: read within the buffer, shortened as usual.
    std::string path = "D:\\" + std::string(254, 'q') + ".zip";
    ASSERT_EQ(261u, path.size());
    unit::SetTextNoNul(HKEY_CURRENT_USER, unit::kFileMenuKey, ValueName(1).c_str(), path);
    std::vector<MenuItem> items = BuildRecentMenu();
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(1035u, items[0].id);
    // The folder is the bare root, so only the name is cut: 58 of its characters and "...".
    EXPECT_EQ("D:\\" + std::string(58, 'q') + "...", items[0].text);
}

// Disk access while building: the folder look-ups are the same with or
// without values, so the difference is what the values themselves cost.
TEST_F(RecentMenuTest, FileSystemCallsPerValue)
{
    unit::CreateEmptyKey(HKEY_CURRENT_USER, unit::kFileMenuKey);
    struct Run {
        const char *what;
        const char *key;      // property name for the test report
        int tempValues;       // values 1..15 put into the temp folder
        bool existing;        // those archives exist
        int extraCalls;       // over the empty key
    } runs[] = {
        { "15 outside", "outside15", 0, false, 0 },
        { "15 vanished in temp", "temp15_vanished", 15, false, 15 },
        // The first ten are listed and the list is full: values 5..1 are not looked at.
        { "15 existing in temp", "temp15_existing", 15, true, 10 },
        { "values 15..11 in temp, vanished", "temp5_vanished", 5, false, 5 },
    };

    int emptyKeyCalls;
    {
        FindFirstFileCounter counter;
        ASSERT_TRUE(counter.Installed());
        EXPECT_EQ(0u, BuildRecentMenu().size());
        emptyKeyCalls = counter.Calls();
    }
    // One search per component of C:\TraymarkUnit\Work\Tmp and ...\Cache.
    EXPECT_EQ(6, emptyKeyCalls);
    printf("[ counts   ] empty key: %d FindFirstFileA calls\n", emptyKeyCalls);
    RecordProperty("FindFirstFileA_empty_key", emptyKeyCalls);

    for (const Run &r : runs) {
        SCOPED_TRACE(r.what);
        for (int n = 1; n <= 15; n++) {
            std::string path = Outside(n);
            if (n > 15 - r.tempValues) {
                path = temp_ + "\\t" + std::to_string(n) + ".zip";
                if (r.existing)
                    unit::MakeFile(path);
                else
                    DeleteFileA(path.c_str());
            }
            SetValue(n, path);
        }
        int calls;
        {
            FindFirstFileCounter counter;
            BuildRecentMenu();
            calls = counter.Calls();
        }
        EXPECT_EQ(r.extraCalls, calls - emptyKeyCalls);
        printf("[ counts   ] %s: %d FindFirstFileA calls, %d over the empty key\n", r.what, calls,
               calls - emptyKeyCalls);
        RecordProperty(std::string("FindFirstFileA_") + r.key, calls);
    }

    unit::DeleteKeyTree(HKEY_CURRENT_USER, unit::kFileMenuKey);
    FindFirstFileCounter counter;
    BuildRecentMenu();
    EXPECT_EQ(0, counter.Calls()) << "missing key: no folder look-ups";
    printf("[ counts   ] missing key: %d FindFirstFileA calls\n", counter.Calls());
}

}  // namespace
