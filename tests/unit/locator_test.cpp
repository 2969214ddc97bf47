// Finding Corvex from its shell registration, and the version gate.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "mainapp/locator.h"
#include "unit_fixture.h"

namespace {

using unit::SetRaw;
using unit::SetText;

class LocatorTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        spaced_ = Scratch() + "\\Corvex Dir\\corvex32.exe";
        plain_ = Scratch() + "\\Plain\\corvex32.exe";
        unit::MakeFile(spaced_);
        unit::MakeFile(plain_);
    }
    std::string spaced_;   // folder name with a blank
    std::string plain_;    // no blank anywhere
};

TEST(ExecutablePathFromCommand, TakesQuotedPathOrCutsAtLastBlank)
{
    struct Case {
        const char *command;
        const char *path;
    } cases[] = {
        { "\"C:\\Corvex Dir\\corvex32.exe\" \"%1\"", "C:\\Corvex Dir\\corvex32.exe" },
        { "\"C:\\Corvex Dir\\corvex32.exe\"", "C:\\Corvex Dir\\corvex32.exe" },
        { "\"C:\\Corvex Dir\\corvex32.exe", "C:\\Corvex Dir\\corvex32.exe" },   // no closing quote
        { "C:\\Corvex\\corvex32.exe \"%1\"", "C:\\Corvex\\corvex32.exe" },
        { "C:\\Corvex\\corvex32.exe %1", "C:\\Corvex\\corvex32.exe" },
        { "C:\\Corvex\\corvex32.exe", "C:\\Corvex\\corvex32.exe" },
        { "C:\\Corvex Dir\\corvex32.exe", "C:\\Corvex" },
        { "C:\\Corvex\\corvex32.exe /a \"%1\"", "C:\\Corvex\\corvex32.exe /a" },
        { "C:\\Corvex\\corvex32.exe \"%1 x\"", "C:\\Corvex\\corvex32.exe \"%1" },
        { " C:\\corvex32.exe", " C:\\corvex32.exe" },   // a blank in first place cuts nothing
        { "", "" },
    };
    for (const Case &c : cases) {
        char path[MAX_PATH + 1];
        memset(path, 'z', sizeof path);
        ExecutablePathFromCommand(c.command, path, sizeof path);
        EXPECT_STREQ(c.path, path) << "command: " << c.command;
    }
}

TEST_F(LocatorTest, OpenCommandShapes)
{
    struct Case {
        std::string command;
        int found;
        std::string path;
    } cases[] = {
        { "\"" + spaced_ + "\" \"%1\"", 1, spaced_ },
        { plain_ + " \"%1\"", 1, plain_ },
        { plain_ + " %1", 1, plain_ },
        // The blank inside the folder name is taken for the argument's start.
        { spaced_, 0, Scratch() + "\\Corvex" },
        { plain_ + " /a \"%1\"", 0, plain_ + " /a" },
        { "\"" + Scratch() + "\\Gone\\corvex32.exe\" \"%1\"", 0, Scratch() + "\\Gone\\corvex32.exe" },
        // Only existence is asked for: a folder passes.
        { "\"" + Scratch() + "\\Plain\" \"%1\"", 1, Scratch() + "\\Plain" },
    };
    for (const Case &c : cases) {
        SetOpenCommand(c.command);
        char path[MAX_PATH + 1];
        EXPECT_EQ(c.found, LocateMainApp(path) != 0) << c.command;
        EXPECT_EQ(c.path, std::string(path)) << c.command;
    }
}

TEST_F(LocatorTest, OpenCommandWithoutTerminatorIsUsedWhole)
{
    std::string command = "\"" + plain_ + "\"";
    unit::SetTextNoNul(HKEY_CLASSES_ROOT, unit::kOpenCommandKey, NULL, command);
    char path[MAX_PATH + 1];
    EXPECT_TRUE(LocateMainApp(path));
    EXPECT_EQ(plain_, std::string(path));
}

TEST_F(LocatorTest, AppPathsOnlyWhenOpenCommandIsAbsent)
{
    char path[MAX_PATH + 1];
    EXPECT_FALSE(LocateMainApp(path)) << "nothing registered";

    SetAppPath(plain_);
    EXPECT_TRUE(LocateMainApp(path));
    EXPECT_EQ(plain_, std::string(path));

    // The usual App Paths value: unquoted, with blanks, cut at the last one.
    SetAppPath(spaced_);
    EXPECT_FALSE(LocateMainApp(path));

    // A registered but stale open command wins over a good fallback.
    SetAppPath(plain_);
    SetOpenCommand("\"" + Scratch() + "\\Gone\\corvex32.exe\" \"%1\"");
    EXPECT_FALSE(LocateMainApp(path));

    // An open command beyond the 260-byte limit cannot be read: fallback.
    SetOpenCommand("\"" + plain_ + "\" " + std::string(300, 'a'));
    EXPECT_TRUE(LocateMainApp(path));
    EXPECT_EQ(plain_, std::string(path));
}

TEST_F(LocatorTest, VanishedExecutableFails)
{
    SetOpenCommand("\"" + plain_ + "\" \"%1\"");
    char path[MAX_PATH + 1];
    ASSERT_TRUE(LocateMainApp(path));
    DeleteFileA(plain_.c_str());
    EXPECT_FALSE(LocateMainApp(path));
}

class VersionGateTest : public unit::CorvexRegistryTest {};

TEST_F(VersionGateTest, VersionTexts)
{
    struct Case {
        const char *version;   // NULL: key without the value
        int ok;
    } cases[] = {
        { "8.1", 1 }, { "8.2", 1 }, { "9.0", 1 }, { "R8.1", 1 }, { "8.1.4319", 1 },
        { "8.0", 0 }, { "7.0", 0 }, { "", 0 }, { NULL, 0 }, { "R", 0 }, { "8.", 0 },
        { "10.0", 0 },                      // '1' sorts below '8'
        { "RABC-8.1", 1 }, { "ABC-8.1", 1 }, { "ABC-7.9", 0 }, { "RABC-8.0", 0 },
        { "R12-8.1", 0 },                   // "12-": two characters before the dash, no skip
        { "R12-9.0", 0 },
        { "AB-8.1", 1 },                    // "AB-": 'A' sorts above '8'
        { "9.0-", 1 },                      // exactly 4 characters: nothing skipped
        { "7.0-9", 1 },                     // 5 characters, dash fourth: judged by "9"
    };
    for (const Case &c : cases) {
        unit::DeleteKeyTree(HKEY_LOCAL_MACHINE, unit::kWinIniKey);
        unit::CreateEmptyKey(HKEY_LOCAL_MACHINE, unit::kWinIniKey);
        if (c.version)
            SetText(HKEY_LOCAL_MACHINE, unit::kWinIniKey, "win32_version", c.version);
        EXPECT_EQ(c.ok, MainAppVersionOk() != 0) << (c.version ? c.version : "(no value)");
    }
}

TEST_F(VersionGateTest, UserKeyOnlyWhenMachineKeyIsMissing)
{
    struct Case {
        const char *machine;   // NULL: no machine key; "" here: key without the value
        const char *user;      // NULL: no user key
        int ok;
    } cases[] = {
        { NULL, NULL, 0 },
        { NULL, "8.1", 1 },
        { NULL, "8.0", 0 },
        { "", "8.1", 0 },      // the machine key decides, even without its value
        { "8.0", "9.0", 0 },
        { "8.1", "7.0", 1 },
    };
    for (const Case &c : cases) {
        unit::DeleteKeyTree(HKEY_LOCAL_MACHINE, unit::kWinIniKey);
        unit::DeleteKeyTree(HKEY_CURRENT_USER, unit::kWinIniKey);
        if (c.machine) {
            unit::CreateEmptyKey(HKEY_LOCAL_MACHINE, unit::kWinIniKey);
            if (*c.machine)
                SetText(HKEY_LOCAL_MACHINE, unit::kWinIniKey, "win32_version", c.machine);
        }
        if (c.user)
            SetText(HKEY_CURRENT_USER, unit::kWinIniKey, "win32_version", c.user);
        EXPECT_EQ(c.ok, MainAppVersionOk() != 0)
            << "machine " << (c.machine ? c.machine : "(no key)") << ", user "
            << (c.user ? c.user : "(no key)");
    }
}

TEST_F(VersionGateTest, RawValuesAreReadWithinTheLimit)
{
    const std::string pad28(28, 'x');
    struct Case {
        const char *what;
        DWORD type;
        std::string data;   // stored exactly as given
        int ok;
    } cases[] = {
        { "no terminator", REG_SZ, "8.1", 1 },
        { "no terminator, too old", REG_SZ, "8.0", 0 },
        { "31 characters and NUL", REG_SZ, std::string("8.1") + pad28 + '\0', 1 },
        { "32 bytes, no NUL: fills the limit", REG_SZ, std::string("8.1") + pad28 + 'x', 1 },
        { "32 bytes, too old", REG_SZ, std::string("7.9") + pad28 + 'x', 0 },
        // Over the limit the value cannot be read: as if missing.
        { "33 bytes", REG_SZ, std::string("8.1") + pad28 + "x" + '\0', 0 },
        { "binary", REG_BINARY, "8.1", 0 },
        { "number", REG_DWORD, std::string("\x39\x39\x39\x39", 4), 0 },
    };
    for (const Case &c : cases) {
        unit::DeleteKeyTree(HKEY_LOCAL_MACHINE, unit::kWinIniKey);
        SetRaw(HKEY_LOCAL_MACHINE, unit::kWinIniKey, "win32_version", c.type, c.data);
        EXPECT_EQ(c.ok, MainAppVersionOk() != 0) << c.what;
    }
}

TEST_F(LocatorTest, UsableNeedsBothExecutableAndVersion)
{
    EXPECT_FALSE(MainAppUsable());
    SetText(HKEY_LOCAL_MACHINE, unit::kWinIniKey, "win32_version", "8.1");
    EXPECT_FALSE(MainAppUsable()) << "version without executable";
    SetOpenCommand("\"" + spaced_ + "\" \"%1\"");
    EXPECT_TRUE(MainAppUsable());
    SetText(HKEY_LOCAL_MACHINE, unit::kWinIniKey, "win32_version", "8.0");
    EXPECT_FALSE(MainAppUsable()) << "executable with old version";
}

}  // namespace
