// The whole tray menu as the right click shows it, read back from the menu.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/tray_menu.h"
#include "registry_fixture.h"

namespace {

struct Item {
    UINT id;   // 0 for the separator
    std::string text;
};

std::vector<Item> BuildWholeMenu()
{
    HMENU menu = CreatePopupMenu();
    BuildTrayMenu(menu);
    std::vector<Item> items;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[600] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        bool separator = (GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR) != 0;
        items.push_back({ separator ? 0u : GetMenuItemID(menu, i), separator ? "-" : text });
    }
    DestroyMenu(menu);
    return items;
}

std::string Describe(const std::vector<Item> &items)
{
    std::string text;
    for (const Item &item : items)
        text += std::to_string(item.id) + " " + item.text + "\n";
    return text;
}

class TrayMenuBuildTest : public unit::CorvexRegistryTest {
protected:
    void SetUp() override
    {
        CorvexRegistryTest::SetUp();
        folder_ = Scratch() + "\\Corvex Menu\\";
        unit::MakeFile(folder_ + "corvex32.exe");
        unit::MakeFile(folder_ + "corvex.hlp");
        SetOpenCommand("\"" + folder_ + "corvex32.exe\" \"%1\"");
    }
    std::string folder_;
};

const Item kFavorites = { 105, "Favorites..." };
const Item kOpen = { 102, "Open Corvex" };
const Item kHelp = { 104, "Corvex Help" };
const Item kAbout = { 101, "About..." };
const Item kClose = { 106, "Close..." };

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

        std::vector<Item> expected;
        if (c.recent) {
            unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, "filemenu1", "D:\\one.zip");
            unit::SetText(HKEY_CURRENT_USER, unit::kFileMenuKey, "filemenu2", "D:\\two.zip");
            expected = { { 1036, "D:\\two.zip" }, { 1035, "D:\\one.zip" }, { 0, "-" } };
        }
        expected.push_back(kFavorites);
        expected.push_back(kOpen);
        if (c.withHelp)
            expected.push_back(kHelp);
        expected.push_back(kAbout);
        expected.push_back(kClose);

        std::vector<Item> items = BuildWholeMenu();
        EXPECT_EQ(Describe(expected), Describe(items));
    }
}

}  // namespace
