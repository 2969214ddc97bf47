// The tray menu as the user drives it with the keyboard: the fixed items, the
// help item that comes and goes with the help file, and recent archives.
#include "tests/e2e/driver.h"

#include <stdio.h>

using namespace driver;

namespace {

const char kCloseCaption[] = "Corvex Traymark - Close";

HWND StartAgent(HANDLE *process)
{
    *process = StartTraymark();
    return WaitForAgentReady(*process);
}

HWND OpenMenu(HWND window, DWORD pid)
{
    PostTrayClick(window, WM_RBUTTONUP);
    return WaitForVisibleMenu(pid);
}

// Wine opens the menu with nothing selected: the first Down selects the top
// item, the first Up the bottom one, and the selection wraps. Home selects the
// top item whatever was selected before, so the count of Downs after it is the
// item's position from the top, separators not counted.
void ChooseFromTop(int position)
{
    std::vector<BYTE> keys(1, VK_HOME);
    keys.insert(keys.end(), position, VK_DOWN);
    keys.push_back(VK_RETURN);
    TapKeys(keys);
}

// The first thing that choosing an item made happen, as text.
std::string ObserveCommand(HWND window, DWORD pid)
{
    std::string seen;
    WaitUntil([&] {
        std::vector<std::string> launches = LaunchLog();
        std::vector<HelpRequest> help = HelpRequests();
        if (!launches.empty()) {
            seen = "launch " + launches[0];
        } else if (!help.empty()) {
            char text[400];
            sprintf(text, "help %u %ld %s%s", help[0].command, (long)help[0].data, help[0].file.c_str(),
                    help[0].sender == window ? "" : " (other sender)");
            seen = text;
        } else if (IsVisible(window)) {
            seen = "about";
        } else if (FindProcessWindow(pid, "#32770", kCloseCaption)) {
            seen = "close dialog";
        }
        return !seen.empty();
    }, 5000);
    return seen;
}

// Takes away whatever the command left up and starts the next round clean.
void Settle(HWND window, DWORD pid)
{
    ASSERT_TRUE(WaitUntil([&] { return FindVisibleMenu(pid) == NULL; })) << "menu still up";
    if (IsVisible(window)) {
        PressButton(window, IDCANCEL);
        ASSERT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    }
    if (HWND dialog = FindProcessWindow(pid, "#32770", kCloseCaption)) {
        PressButton(dialog, IDCANCEL);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    }
    LaunchesUpToMarker(window);   // lets a late help-quit request and launch come in first
    // Dismissing the About box without a help file reports the missing file.
    if (HWND box = FindProcessWindow(pid, "#32770", "Corvex Traymark")) {
        PressButton(box, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    }
    ResetLaunchLog();
    ClearHelpRequests();
}

std::string Launch(const std::string &args) { return "launch " + ExpectedLaunch(args); }

std::string Help(int command, const char *file)
{
    char text[400];
    sprintf(text, "help %d 0 %s%s", command, CorvexFolder().c_str(), file);
    return text;
}

void PlaceFile(const char *name, bool present)
{
    std::string path = CorvexFolder() + name;
    if (!present) {
        DeleteFileA(path.c_str());
        return;
    }
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    CloseHandle(f);
}

}  // namespace

TEST_F(AgentTest, MenuKeysReachEveryFixedItem)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    struct Row {
        int position;
        std::string outcome;
    } rows[] = {
        { 0, Launch("/favorites") },
        { 1, Launch("") },
        { 2, Help(11, "corvex.hlp") },
        { 3, "about" },
        { 4, "close dialog" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.position);
        ASSERT_NE((HWND)NULL, OpenMenu(window, pid));
        ChooseFromTop(row.position);
        EXPECT_EQ(row.outcome, ObserveCommand(window, pid));
        Settle(window, pid);
    }
}

TEST_F(AgentTest, MenuHelpItemFollowsTheHelpFileOfTheMode)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    // The menu is built anew each time, so files and mode change under the running agent.
    struct Row {
        const char *wizard;                  // NULL: no "Wizard" value
        bool classicFile, wizardFile;
        std::string third, fourth;           // what the third and fourth items do
    } rows[] = {
        { NULL, true, true, Help(11, "corvex.hlp"), "about" },
        { NULL, false, true, "about", "close dialog" },
        { "1", true, false, "about", "close dialog" },
        { "1", false, true, Help(3, "cxwizard.hlp"), "about" },
        { "0", true, false, Help(11, "corvex.hlp"), "about" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.wizard ? row.wizard : "no value") + (row.classicFile ? " classic" : "") +
                     (row.wizardFile ? " wizard" : ""));
        if (row.wizard)
            SetString(HKEY_CURRENT_USER, kCorvexKey, "Wizard", row.wizard);
        else
            DeleteValue(HKEY_CURRENT_USER, kCorvexKey, "Wizard");
        PlaceFile("corvex.hlp", row.classicFile);
        PlaceFile("cxwizard.hlp", row.wizardFile);
        for (int position = 2; position <= 3; position++) {
            ASSERT_NE((HWND)NULL, OpenMenu(window, pid));
            ChooseFromTop(position);
            EXPECT_EQ(position == 2 ? row.third : row.fourth, ObserveCommand(window, pid)) << position;
            Settle(window, pid);
        }
    }
}

TEST_F(AgentTest, EscapeClosesTheMenuAndClearsBusy)
{
    InstallCorvex();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    HWND menu = OpenMenu(window, pid);
    ASSERT_NE((HWND)NULL, menu);
    TapKeys({VK_ESCAPE});
    EXPECT_TRUE(WaitUntil([&] { return FindVisibleMenu(pid) == NULL; }));
    EXPECT_EQ(std::vector<std::string>(1, ExpectedLaunch("/favorites")), LaunchesUpToMarker(window));
    EXPECT_TRUE(WaitForSingleObject(agent, 0) == WAIT_TIMEOUT);
    EXPECT_FALSE(IsVisible(window));

    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(2u, WaitForLaunches(2).size());
    EXPECT_EQ(ExpectedLaunch(""), LaunchLog().back());
}

TEST_F(AgentTest, RecentArchivesComeFirstHighestNumberOnTop)
{
    InstallCorvex();
    for (int n = 1; n <= 12; n++) {
        char name[32], path[64];
        sprintf(name, "filemenu%d", n);
        sprintf(path, "C:\\Archives\\archive%d.zip", n);
        SetString(HKEY_CURRENT_USER, kFileMenuKey, name, path);
    }
    // An archive that vanished from the temporary folder gives its place to the next.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu13", (std::string(temp) + "vanished.zip").c_str());
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu14", "C:\\Archives\\Tom & Jerry.zip");
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu15", "C:\\Archives\\x.zip");
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    // Ten archives, then the separator, which the keys pass over.
    struct Row {
        int position;
        std::string outcome;
    } rows[] = {
        { 0, Launch("\"C:\\Archives\\x.zip\"") },
        { 1, Launch("\"C:\\Archives\\Tom & Jerry.zip\"") },
        { 2, Launch("\"C:\\Archives\\archive12.zip\"") },
        { 9, Launch("\"C:\\Archives\\archive5.zip\"") },
        { 10, Launch("/favorites") },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.position);
        ASSERT_NE((HWND)NULL, OpenMenu(window, pid));
        ChooseFromTop(row.position);
        EXPECT_EQ(row.outcome, ObserveCommand(window, pid));
        Settle(window, pid);
    }
}

TEST_F(AgentTest, RecentArchiveIsReadAgainWhenChosen)
{
    InstallCorvex();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    // What happens to the value while the menu is open.
    struct Row {
        const char *name;
        const char *now;                     // NULL: the value is deleted
        std::string outcome;
    } rows[] = {
        { "changed", "C:\\Archives\\newer.zip", Launch("\"C:\\Archives\\newer.zip\"") },
        { "emptied", "", Launch("") },
        { "deleted", NULL, Launch("") },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu3", "C:\\Archives\\x.zip");
        ASSERT_NE((HWND)NULL, OpenMenu(window, pid));
        if (row.now)
            SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu3", row.now);
        else
            DeleteValue(HKEY_CURRENT_USER, kFileMenuKey, "filemenu3");
        ChooseFromTop(0);
        EXPECT_EQ(row.outcome, ObserveCommand(window, pid));
        Settle(window, pid);
    }
}

TEST_F(AgentTest, RecentArchiveCommandsOpenWhatTheValueHoldsNow)
{
    InstallCorvex();
    for (int n = 0; n <= 16; n++) {
        char name[32], path[64];
        sprintf(name, "filemenu%d", n);
        sprintf(path, "C:\\Archives\\archive%d.zip", n);
        SetString(HKEY_CURRENT_USER, kFileMenuKey, name, path);
    }
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu15", "C:\\Other\\later.zip");
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu2", "");
    // 1034 and 1050 lie just outside the commands of the fifteen values.
    const UINT commands[] = { 1034, 1035, 1036, 1044, 1049, 1050 };
    for (UINT command : commands)
        PostMessageA(window, WM_COMMAND, command, 0);
    std::vector<std::string> expected = {
        ExpectedLaunch("\"C:\\Archives\\archive1.zip\""),
        ExpectedLaunch(""),
        ExpectedLaunch("\"C:\\Archives\\archive10.zip\""),
        ExpectedLaunch("\"C:\\Other\\later.zip\""),
        ExpectedLaunch("/favorites"),
    };
    EXPECT_EQ(expected, LaunchesUpToMarker(window));

    // Without the key at all the command still starts Corvex, with nothing to open.
    DeleteTree(HKEY_CURRENT_USER, kFileMenuKey);
    ResetLaunchLog();
    PostMessageA(window, WM_COMMAND, 1040, 0);
    EXPECT_EQ(std::vector<std::string>({ ExpectedLaunch(""), ExpectedLaunch("/favorites") }),
              LaunchesUpToMarker(window));
}
