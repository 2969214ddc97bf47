// The tray menu as the user drives it with the keyboard: the fixed items, the
// help item that comes and goes with the help file, and recent archives.
#include "tests/e2e/driver.h"
#include "tests/e2e/menu_probe.h"

using namespace driver;

namespace {

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
            seen = "help " + HelpRequestText(help[0], window);
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
    if (HWND box = FindProcessWindow(pid, "#32770", kMessageCaption)) {
        PressButton(box, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    }
    ResetLaunchLog();
    ClearHelpRequests();
}

std::string Launch(const std::string &args) { return "launch " + ExpectedLaunch(args); }

std::string Help(WORD command, const char *file) { return "help " + ExpectedHelpRequest(command, 0, file); }

// Opens the menu, chooses the item at that position, checks what it did and
// takes it away again.
void ExpectChoice(HWND window, DWORD pid, int position, const std::string &outcome)
{
    ASSERT_NE((HWND)NULL, OpenTrayMenu(window, pid));
    ChooseFromTop(position);
    EXPECT_EQ(outcome, ObserveCommand(window, pid));
    Settle(window, pid);
}

struct Choice {
    int position;
    std::string outcome;
};

void ExpectChoices(HWND window, DWORD pid, const std::vector<Choice> &choices)
{
    for (const Choice &choice : choices) {
        SCOPED_TRACE(choice.position);
        ASSERT_NO_FATAL_FAILURE(ExpectChoice(window, pid, choice.position, choice.outcome));
    }
}

// filemenu<n> holding C:\Archives\archive<n>.zip, for each n from first to last.
void SetRecentArchives(int first, int last)
{
    for (int n = first; n <= last; n++) {
        std::string number = std::to_string(n);
        SetString(HKEY_CURRENT_USER, kFileMenuKey, ("filemenu" + number).c_str(),
                  ("C:\\Archives\\archive" + number + ".zip").c_str());
    }
}

// A character of 0x80 and above in the code page in force: under a double-byte
// one a character of two bytes, the second a backslash; else 0xE9.
std::string HighCharacter()
{
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 2)
        return "\xE9";
    for (int lead = 0x81; lead <= 0xFE; lead++) {
        const char c[3] = { (char)lead, '\\', 0 };
        WCHAR wide[2];
        if (IsDBCSLeadByte((BYTE)lead) && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, c, 2, wide, 2) == 1)
            return c;
    }
    return "";
}

// What the menu shows for ANSI text of the code page in force.
std::wstring Shown(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}

}  // namespace

TEST_F(AgentTest, MenuKeysReachEveryFixedItem)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    ExpectChoices(window, pid, {
        { 0, Launch("/favorites") },
        { 1, Launch("") },
        { 2, Help(HELP_FINDER, "corvex.hlp") },
        { 3, "about" },
        { 4, "close dialog" },
    });
}

TEST_F(AgentTest, MenuHelpItemFollowsTheHelpFileOfTheMode)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    // The menu is built anew each time, so files and mode change under the running agent.
    struct Row {
        const char *wizard;                  // NULL: no "Wizard" value
        bool classicFile, wizardFile;
        std::string third, fourth;           // what the third and fourth items do
    } rows[] = {
        { NULL, true, true, Help(HELP_FINDER, "corvex.hlp"), "about" },
        { NULL, false, true, "about", "close dialog" },
        { "1", true, false, "about", "close dialog" },
        { "1", false, true, Help(HELP_CONTENTS, "cxwizard.hlp"), "about" },
        { "0", true, false, Help(HELP_FINDER, "corvex.hlp"), "about" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.wizard ? row.wizard : "no value") + (row.classicFile ? " classic" : "") +
                     (row.wizardFile ? " wizard" : ""));
        if (row.wizard)
            SetString(HKEY_CURRENT_USER, kCorvexKey, "Wizard", row.wizard);
        else
            DeleteValue(HKEY_CURRENT_USER, kCorvexKey, "Wizard");
        PlaceHelpFile("corvex.hlp", row.classicFile);
        PlaceHelpFile("cxwizard.hlp", row.wizardFile);
        ASSERT_NO_FATAL_FAILURE(ExpectChoices(window, pid, { { 2, row.third }, { 3, row.fourth } }));
    }
}

TEST_F(AgentTest, EscapeClosesTheMenuAndClearsBusy)
{
    InstallCorvex();
    ASSERT_TRUE(Start());

    ASSERT_NE((HWND)NULL, OpenTrayMenu(window, pid));
    TapKeys({VK_ESCAPE});
    EXPECT_TRUE(WaitUntil([&] { return FindVisibleMenu(pid) == NULL; }));
    EXPECT_EQ(Lines{ ExpectedLaunch("/favorites") }, LaunchesUpToMarker(window));
    EXPECT_TRUE(Running(agent));
    EXPECT_FALSE(IsVisible(window));

    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(2u, WaitForLaunches(2).size());
    EXPECT_EQ(ExpectedLaunch(""), LaunchLog().back());
}

TEST_F(AgentTest, RecentArchivesComeFirstHighestNumberOnTop)
{
    InstallCorvex();
    SetRecentArchives(1, 12);
    // An archive that vanished from the temporary folder gives its place to the next.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu13", (std::string(temp) + "vanished.zip").c_str());
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu14", "C:\\Archives\\Tom & Jerry.zip");
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu15", "C:\\Archives\\x.zip");
    ASSERT_TRUE(Start());

    // Ten archives, then the separator, which the keys pass over.
    ExpectChoices(window, pid, {
        { 0, Launch("\"C:\\Archives\\x.zip\"") },
        { 1, Launch("\"C:\\Archives\\Tom & Jerry.zip\"") },
        { 2, Launch("\"C:\\Archives\\archive12.zip\"") },
        { 9, Launch("\"C:\\Archives\\archive5.zip\"") },
        { 10, Launch("/favorites") },
    });
}

TEST_F(AgentTest, RecentArchiveIsReadAgainWhenChosen)
{
    InstallCorvex();
    ASSERT_TRUE(Start());

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
        ASSERT_NE((HWND)NULL, OpenTrayMenu(window, pid));
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
    SetRecentArchives(0, 16);
    ASSERT_TRUE(Start());

    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu15", "C:\\Other\\later.zip");
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu2", "");
    // 1034 and 1050 lie just outside the commands of the fifteen values.
    const UINT commands[] = { 1034, 1035, 1036, 1044, 1049, 1050 };
    for (UINT command : commands)
        PostMessageA(window, WM_COMMAND, command, 0);
    Lines expected = {
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
    EXPECT_EQ(Lines({ ExpectedLaunch(""), ExpectedLaunch("/favorites") }), LaunchesUpToMarker(window));
}

// Cut labels keep whole characters of the code page in force, ampersands show
// as themselves, and the whole path reaches Corvex.
TEST_F(AgentTest, AnsiTextRecentArchiveLabelsAsTheMenuShowsThem)
{
    char asked[16];
    if (GetEnvironmentVariableA("_TRAYMARK_CODE_PAGE", asked, sizeof asked))
        ASSERT_EQ(std::string(asked), std::to_string(GetACP())) << "the run's locale gave another code page";
    const std::string c = HighCharacter();
    ASSERT_FALSE(c.empty());
    auto times = [&](int n) { std::string s; while (n-- > 0) s += c; return s; };
    const struct { std::string path, label; } rows[] = {
        { "C:\\Archives\\" + times(70), "C:\\...\\" + times(54) + "..." },
        { "C:\\" + times(60) + "\\report.zip", "C:\\" + times(47) + "...\\report.zip" },
        { "C:\\Archives\\Tom & " + c + ".zip", "C:\\Archives\\Tom && " + c + ".zip" },
    };
    InstallCorvex();
    for (int i = 0; i < 3; i++)   // the highest number comes first
        SetString(HKEY_CURRENT_USER, kFileMenuKey, ("filemenu" + std::to_string(3 - i)).c_str(),
                  rows[i].path.c_str());
    ASSERT_TRUE(StartMenuProbe());
    ASSERT_TRUE(Start());

    ASSERT_NE((HWND)NULL, OpenTrayMenu(window, pid));
    std::vector<std::wstring> texts = WaitForMenuTexts();
    ASSERT_GE(texts.size(), 3u);
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(Shown(rows[i].label) == texts[i]) << "label " << i << " of code page " << GetACP();
    ChooseFromTop(0);
    EXPECT_EQ(Launch("\"" + rows[0].path + "\""), ObserveCommand(window, pid));
}
