// Choosing Corvex's help file: classic or wizard mode, beside the executable.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "mainapp/help.h"
#include "unit_fixture.h"

namespace {


class HelpLocateTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        folder_ = InstallCorvex("Help Dir");
        unit::MakeFile(folder_ + "cxwizard.hlp");
    }
    void SetWizard(const std::string &text) { unit::SetText(HKEY_CURRENT_USER, unit::kCorvexKey, "Wizard", text); }

    std::string folder_;   // with trailing backslash
};

TEST_F(HelpLocateTest, ModeFromWizardValue)
{
    struct Case {
        const char *what;
        DWORD type;          // 0: no value (key present)
        std::string data;    // stored exactly as given
        int classic;
    } cases[] = {
        { "1", REG_SZ, std::string("1", 2), 0 },
        { "1abc", REG_SZ, std::string("1abc", 5), 0 },
        { "1abcde: six characters and NUL fill the 7 bytes", REG_SZ, std::string("1abcde", 7), 0 },
        { "1abcdef without NUL: 7 bytes", REG_SZ, "1abcdef", 0 },
        { "1abcdef and NUL: over the 7-byte limit", REG_SZ, std::string("1abcdef", 8), 1 },
        { "0", REG_SZ, std::string("0", 2), 1 },
        { "2", REG_SZ, std::string("2", 2), 1 },
        { " 1", REG_SZ, std::string(" 1", 3), 1 },
        { "empty", REG_SZ, std::string("", 1), 1 },
        { "binary '1'", REG_BINARY, "1", 1 },
        { "no value", 0, "", 1 },
    };
    for (const Case &c : cases) {
        unit::ResetKeyWithValue(HKEY_CURRENT_USER, unit::kCorvexKey, "Wizard", c.type, c.data);
        EXPECT_EQ(c.classic, IsClassicMode()) << c.what;
    }
    unit::DeleteKeyTree(HKEY_CURRENT_USER, unit::kCorvexKey);
    EXPECT_EQ(1, IsClassicMode()) << "no key";
}

TEST_F(HelpLocateTest, HelpFileBesideExecutable)
{
    char path[HELP_PATH_SIZE];
    EXPECT_TRUE(LocateHelpFile(path));
    EXPECT_EQ(folder_ + "corvex.hlp", std::string(path));

    SetWizard("1");
    EXPECT_TRUE(LocateHelpFile(path));
    EXPECT_EQ(folder_ + "cxwizard.hlp", std::string(path));

    // Each mode needs its own file; the other one does not stand in.
    DeleteFileA((folder_ + "cxwizard.hlp").c_str());
    EXPECT_FALSE(LocateHelpFile(path));
    SetWizard("0");
    EXPECT_TRUE(LocateHelpFile(path));
    DeleteFileA((folder_ + "corvex.hlp").c_str());
    EXPECT_FALSE(LocateHelpFile(path));
}

TEST_F(HelpLocateTest, NoCorvexNoHelp)
{
    unit::DeleteKeyTree(HKEY_CLASSES_ROOT, "Corvex");
    char path[HELP_PATH_SIZE];
    EXPECT_FALSE(LocateHelpFile(path));

    SetOpenCommand("\"" + folder_ + "gone.exe\"");
    EXPECT_FALSE(LocateHelpFile(path)) << "help file present, executable gone";
}

TEST_F(HelpLocateTest, ExecutablePathWithoutUsableBackslash)
{
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    char path[HELP_PATH_SIZE];

    // Found relative to the current folder, which holds corvex.hlp as well.
    SetOpenCommand("corvex32.exe");
    EXPECT_FALSE(LocateHelpFile(path)) << "no backslash";

    // The only backslash is the first character.
    unit::MakeFile("C:\\corvex32.exe");
    unit::MakeFile("C:\\corvex.hlp");
    SetOpenCommand("\\corvex32.exe");
    EXPECT_FALSE(LocateHelpFile(path)) << "backslash in first place";
    DeleteFileA("C:\\corvex32.exe");
    DeleteFileA("C:\\corvex.hlp");

    SetCurrentDirectoryA(saved);
}

TEST_F(HelpLocateTest, TrailByteThatLooksLikeBackslash)
{
    REQUIRE_CP932();
    // 0x95 0x5C is one character; its trail byte is no folder separator.
    std::string exe = folder_ + "x\x95\x5C";
    unit::MakeFile(exe);
    SetOpenCommand("\"" + exe + "\"");
    char path[HELP_PATH_SIZE];
    EXPECT_TRUE(LocateHelpFile(path));
    EXPECT_EQ(folder_ + "corvex.hlp", std::string(path));
}

}  // namespace
