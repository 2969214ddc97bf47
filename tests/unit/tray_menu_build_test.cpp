// The whole tray menu as the right click shows it, read back from the menu.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/tray_menu.h"
#include "unit_fixture.h"

namespace {

using unit::MenuItem;

std::string Describe(const std::vector<MenuItem> &items)
{
    std::string text;
    for (const MenuItem &item : items)
        text += item.separator ? "-\n" : std::to_string(item.id) + " " + item.text + "\n";
    return text;
}

class TrayMenuBuildTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        folder_ = InstallCorvex("Corvex Menu");
    }
    std::string folder_;
};

const MenuItem kFavorites = { 105, "Favorites...", false };
const MenuItem kOpen = { 102, "Open Corvex", false };
const MenuItem kHelp = { 104, "Corvex Help", false };
const MenuItem kAbout = { 101, "About...", false };
const MenuItem kClose = { 106, "Close...", false };

TEST_F(TrayMenuBuildTest, SectionsInOrder)
{
    struct Case {
        const char *what;
        bool recent;          // two archives in the recent list
        const char *wizard;   // NULL: no mode value
        bool classicFile;     // corvex.hlp stays beside the executable
        bool locatable;       // Corvex is registered
        bool withHelp;
    } cases[] = {
        { "classic help present", true, NULL, true, true, true },
        { "no recent list", false, NULL, true, true, true },
        { "help file absent", true, NULL, false, true, false },
        { "wizard mode, only the classic file", true, "1", true, true, false },
        { "Corvex not registered", true, NULL, true, false, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unit::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Velmora");
        unit::DeleteKeyTree(HKEY_CLASSES_ROOT, "Corvex");
        if (c.locatable)
            SetOpenCommand("\"" + folder_ + "corvex32.exe\" \"%1\"");
        if (c.classicFile)
            unit::MakeFile(folder_ + "corvex.hlp");
        else
            DeleteFileA((folder_ + "corvex.hlp").c_str());
        if (c.wizard)
            unit::SetText(HKEY_CURRENT_USER, unit::kCorvexKey, "Wizard", c.wizard);

        std::vector<MenuItem> expected;
        if (c.recent) {
            unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, "filemenu1", "D:\\one.zip");
            unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, "filemenu2", "D:\\two.zip");
            expected = { { 1036, "D:\\two.zip", false }, { 1035, "D:\\one.zip", false }, { 0, "-", true } };
        }
        expected.push_back(kFavorites);
        expected.push_back(kOpen);
        if (c.withHelp)
            expected.push_back(kHelp);
        expected.push_back(kAbout);
        expected.push_back(kClose);

        EXPECT_EQ(Describe(expected), Describe(unit::BuildAndReadMenu(BuildTrayMenu)));
    }
}

}  // namespace
