// The temporary and cache folders in their long and short forms, and the
// test whether a path lies inside one of them. Real folders in the prefix.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/agent_state.h"
#include "recent/volatile_folders.h"
#include "unit_fixture.h"

namespace {

using unit::Lower;
using unit::Upper;

std::string Expand(const std::string &in)
{
    char out[FOLDER_FIELD_SIZE];
    ExpandLongPath(in.c_str(), out);
    return out;
}

class VolatileFoldersTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        outer_ = Scratch() + "\\Long Folder Name";
        inner_ = outer_ + "\\Inner Dir";
        unit::MakeFolders(inner_);
        outerShort_ = unit::ShortPath(outer_);
        innerShort_ = unit::ShortPath(inner_);
        ASSERT_FALSE(innerShort_.empty());
        ASSERT_NE(inner_, innerShort_) << "no 8.3 names here";
    }
    std::string outer_, inner_, outerShort_, innerShort_;
};

TEST_F(VolatileFoldersTest, ExpandLongPathShapes)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        { innerShort_ + "\\", inner_ },
        { innerShort_, inner_ },
        { Upper(innerShort_), inner_ },
        // The root is kept as written, every name as stored on disk.
        { Lower(inner_), "c:\\" + inner_.substr(3) },
        { Lower(inner_) + "\\", "c:\\" + inner_.substr(3) },
        { "C:\\", "C:\\" },
        { "C:", "C:" },
        { "Work", "Work" },
        { "", "" },
        { "\\\\server\\share\\x", "\\\\server\\share\\x" },
        { "\\\\server\\share\\", "\\\\server\\share\\" },
        { "\\\\server\\share", "\\\\server\\share" },
        { "\\\\server", "\\\\server" },
        // What cannot be found, or would match by wildcard, stays as written.
        { outerShort_ + "\\No Such Dir\\deeper", outer_ + "\\No Such Dir\\deeper" },
        { outerShort_ + "\\No Such Dir\\", outer_ + "\\No Such Dir" },
        { Scratch() + "\\Long*\\Inner Dir", Scratch() + "\\Long*\\Inner Dir" },
        { outerShort_ + "\\Inn?r Dir", outer_ + "\\Inn?r Dir" },
        { outerShort_ + "\\*", outer_ + "\\*" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.out, Expand(c.in)) << "in: " << c.in;
}

TEST_F(VolatileFoldersTest, DoubleByteFolderName)
{
    REQUIRE_BACKSLASH_TRAIL();
    // The trail byte 0x5C of this character must not split the component.
    std::string dbcs = Scratch() + "\\x" + unit::Wide1() + "y";
    unit::MakeFolders(dbcs + "\\Long Folder Name");
    std::string shortLast = unit::ShortPath(dbcs + "\\Long Folder Name");
    ASSERT_FALSE(shortLast.empty());
    std::string in = dbcs + shortLast.substr(shortLast.rfind('\\'));
    EXPECT_EQ(dbcs + "\\Long Folder Name", Expand(in));
}

// Names long enough that the long form outgrows the field while the short
// form stays short: the field is never overrun, the input comes back.
TEST_F(VolatileFoldersTest, LongFormThatDoesNotFit)
{
    const std::string deep = Scratch() + "\\Deep";
    const std::string a(100, 'a'), b(100, 'b');
    const std::string fits(263 - (deep.size() + 1 + a.size() + 1 + b.size() + 1), 'c');
    const std::string over(fits.size() + 1, 'd');

    unit::MakeFolders(deep + "\\" + a);
    std::string shortA = unit::ShortPath(deep + "\\" + a);
    ASSERT_TRUE(CreateDirectoryA((shortA + "\\" + b).c_str(), NULL)) << shortA << " error " << GetLastError();
    std::string shortB = unit::ShortPath(shortA + "\\" + b);
    ASSERT_TRUE(CreateDirectoryA((shortB + "\\" + fits).c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA((shortB + "\\" + over).c_str(), NULL));

    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        { unit::ShortPath(shortB + "\\" + fits), deep + "\\" + a + "\\" + b + "\\" + fits },
        { unit::ShortPath(shortB + "\\" + over), "" },   // out: the input itself
        { unit::ShortPath(shortB + "\\" + over) + "\\", "" },
    };
    ASSERT_EQ(263u, cases[0].out.size());
    for (Case &c : cases) {
        ASSERT_FALSE(c.in.empty());
        ASSERT_LT(c.in.size(), 100u);
        if (c.out.empty())
            c.out = c.in;
        char field[8 + FOLDER_FIELD_SIZE + 8];
        memset(field, 0x5A, sizeof field);
        ExpandLongPath(c.in.c_str(), field + 8);
        for (int i = 0; i < 8; i++) {
            EXPECT_EQ(0x5A, (unsigned char)field[i]) << "guard before, byte " << i;
            EXPECT_EQ(0x5A, (unsigned char)field[8 + FOLDER_FIELD_SIZE + i]) << "guard after, byte " << i;
        }
        field[8 + FOLDER_FIELD_SIZE - 1] = 0;
        EXPECT_EQ(c.out, std::string(field + 8)) << "in: " << c.in;
    }
}

TEST(StartsWithFolder, PrefixIgnoringCase)
{
    const char *longForm = "C:\\Temp Files", *shortForm = "C:\\TEMPFI~1\\";
    struct Case {
        const char *path;
        const char *longForm;
        const char *shortForm;
        int inside;
    } cases[] = {
        { "C:\\Temp Files\\a.zip", longForm, "", 1 },
        { "c:\\TEMP FILES\\A.ZIP", longForm, "", 1 },
        { "C:\\TEMPFI~1\\a.zip", longForm, shortForm, 1 },
        { "c:\\tempfi~1\\a.zip", "", shortForm, 1 },
        // No component boundary: a sibling that extends the name counts.
        { "C:\\Temp Filesystem\\a.zip", longForm, "", 1 },
        { "C:\\Temp Files", longForm, "", 1 },
        { "C:\\Temp Fil", longForm, "", 0 },
        { "C:\\Other\\a.zip", longForm, shortForm, 0 },
        { "D:\\Temp Files\\a.zip", longForm, "", 0 },
        // The short form keeps its backslash: the folder itself without it is not inside.
        { "C:\\TEMPFI~1", "", shortForm, 0 },
        { "", longForm, shortForm, 0 },
        // Empty forms take no part; they would otherwise match everything.
        { "C:\\anything", "", "", 0 },
        { "", "", "", 0 },
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.inside, StartsWithFolder(c.path, c.longForm, c.shortForm) != 0)
            << c.path << " / " << c.longForm << " / " << c.shortForm;

    // Case is folded as the code page has it: 0xC4 and 0xE4 are one letter in
    // 1252, two in 874; a trail byte 'A' is no letter to fold.
    std::string upperTrail, lowerTrail;
    for (int lead = 0x81; lead <= 0xFE && upperTrail.empty(); lead++) {
        if (IsDBCSLeadByte((BYTE)lead) && unit::IsRealDoubleByte((BYTE)lead, 'A') &&
            unit::IsRealDoubleByte((BYTE)lead, 'a')) {
            upperTrail = "C:\\" + std::string(1, (char)lead) + "A";
            lowerTrail = "C:\\" + std::string(1, (char)lead) + "a\\x.zip";
        }
    }
    const struct { UINT codePage; std::string folder, path; int inside; } pageCases[] = {
        { 1252, "C:\\Temp\xC4", "c:\\temp\xE4\\a.zip", 1 },
        { 874, "C:\\Temp\xC4", "c:\\temp\xE4\\a.zip", 0 },
        { 932, upperTrail, lowerTrail, 0 }, { 936, upperTrail, lowerTrail, 0 },
        { 949, upperTrail, lowerTrail, 0 }, { 950, upperTrail, lowerTrail, 0 },
    };
    for (const auto &c : pageCases) {
        if (c.codePage != GetACP())
            continue;
        ASSERT_FALSE(c.folder.empty()) << "no letter trail bytes in code page " << c.codePage;
        EXPECT_EQ(c.inside, StartsWithFolder(c.path.c_str(), c.folder.c_str(), "") != 0) << c.path;
    }
}

TEST_F(VolatileFoldersTest, RefreshFromBothSourcesAndFilter)
{
    const std::string cacheLong = Scratch() + "\\Cache Folder Long";
    const std::string otherLong = Scratch() + "\\Other Cache Folder";
    unit::MakeFolders(cacheLong);
    unit::MakeFolders(otherLong);
    const std::string cacheShort = unit::ShortPath(cacheLong);
    const std::string otherShort = unit::ShortPath(otherLong);
    unit::TempPathOverride temp(innerShort_ + "\\");
    VolatileFolderSet &folders = AgentState.VolatileFolders;

    struct Case {
        const char *what;
        bool userCache, machineDirectory;
        int cacheKnown;
        std::string cacheLong, cacheShort;
    } cases[] = {
        { "both", true, true, 1, cacheLong, cacheShort },
        { "second choice only", false, true, 1, otherLong, otherShort },
        { "neither", false, false, 0, "", "" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.userCache)
            unit::SetText(HKEY_CURRENT_USER, unit::kShellFoldersKey, "Cache", cacheShort);
        else
            unit::RemoveValue(HKEY_CURRENT_USER, unit::kShellFoldersKey, "Cache");
        if (c.machineDirectory)
            unit::SetText(HKEY_LOCAL_MACHINE, unit::kCachePathsKey, "Directory", otherShort);
        else
            unit::RemoveValue(HKEY_LOCAL_MACHINE, unit::kCachePathsKey, "Directory");

        RefreshVolatileFolders();
        EXPECT_EQ(1, folders.tempKnown);
        EXPECT_STREQ(inner_.c_str(), folders.tempLong);
        EXPECT_STREQ((innerShort_ + "\\").c_str(), folders.tempShort);
        EXPECT_EQ(c.cacheKnown, folders.cacheKnown);
        if (c.cacheKnown) {
            EXPECT_STREQ(c.cacheLong.c_str(), folders.cacheLong);
            EXPECT_STREQ(c.cacheShort.c_str(), folders.cacheShort);
        }

        struct Probe {
            std::string path;
            int inside;
        } probes[] = {
            { inner_ + "\\a.zip", 1 },
            { innerShort_ + "\\a.zip", 1 },
            { Lower(inner_) + "\\A.ZIP", 1 },
            { inner_ + "ior\\a.zip", 1 },
            { outer_ + "\\a.zip", 0 },
            { c.cacheLong.empty() ? cacheLong + "\\x.zip" : c.cacheLong + "\\x.zip", c.cacheKnown },
            { c.cacheShort.empty() ? cacheShort + "\\x.zip" : Upper(c.cacheShort) + "\\x.zip", c.cacheKnown },
            { "D:\\x.zip", 0 },
        };
        for (const Probe &p : probes)
            EXPECT_EQ(p.inside, IsInVolatileFolder(p.path.c_str()) != 0) << p.path;
    }
}

TEST_F(VolatileFoldersTest, CacheSourceEdgeCases)
{
    VolatileFolderSet &folders = AgentState.VolatileFolders;
    const std::string otherLong = Scratch() + "\\Other Cache Folder";
    unit::MakeFolders(otherLong);
    unit::SetText(HKEY_LOCAL_MACHINE, unit::kCachePathsKey, "Directory", otherLong);

    // A number where the path belongs reads as failure: second choice.
    unit::SetNumber(HKEY_CURRENT_USER, unit::kShellFoldersKey, "Cache", 7);
    RefreshVolatileFolders();
    EXPECT_EQ(1, folders.cacheKnown);
    EXPECT_STREQ(otherLong.c_str(), folders.cacheLong);

    // A vanished folder is still known, as written, and has no short form.
    const std::string gone = Scratch() + "\\Gone Cache\\Sub";
    unit::SetText(HKEY_CURRENT_USER, unit::kShellFoldersKey, "Cache", gone);
    RefreshVolatileFolders();
    EXPECT_EQ(1, folders.cacheKnown);
    EXPECT_STREQ(gone.c_str(), folders.cacheLong);
    EXPECT_STREQ("", folders.cacheShort);
    EXPECT_TRUE(IsInVolatileFolder((gone + "\\a.zip").c_str()));
}

TEST(IsInVolatileFolder, OnlyKnownFoldersTakePart)
{
    VolatileFolderSet saved = AgentState.VolatileFolders;
    VolatileFolderSet &folders = AgentState.VolatileFolders;
    lstrcpyA(folders.tempLong, "C:\\Tmp");
    lstrcpyA(folders.tempShort, "");
    lstrcpyA(folders.cacheLong, "C:\\Cache");
    lstrcpyA(folders.cacheShort, "C:\\CACHE~1\\");
    struct Case {
        int tempKnown, cacheKnown;
        const char *path;
        int inside;
    } cases[] = {
        { 1, 1, "C:\\Tmp\\a.zip", 1 },   { 0, 1, "C:\\Tmp\\a.zip", 0 },
        { 1, 1, "C:\\Cache\\a.zip", 1 }, { 1, 0, "C:\\Cache\\a.zip", 0 },
        { 1, 1, "c:\\cache~1\\a.zip", 1 }, { 1, 0, "c:\\cache~1\\a.zip", 0 },
        { 0, 0, "C:\\Tmp\\a.zip", 0 },
    };
    for (const Case &c : cases) {
        folders.tempKnown = c.tempKnown;
        folders.cacheKnown = c.cacheKnown;
        EXPECT_EQ(c.inside, IsInVolatileFolder(c.path) != 0)
            << c.path << " temp " << c.tempKnown << " cache " << c.cacheKnown;
    }
    AgentState.VolatileFolders = saved;
}

}  // namespace
