// Help requests as the help viewer receives them, and the message the agent
// shows instead when Corvex's help file is not there.
#include "tests/e2e/driver.h"

#include <stdio.h>

using namespace driver;

namespace {

const UINT kIdmQuit = 3;
const UINT kAboutHelp = 9;
const UINT kIdmAbout = 101;
const UINT kIdmHelp = 104;
const UINT kIdmClose = 106;
const int kCloseHelp = 1002;
const LONG kTopic = 15012;
const WORD kHelpContext = 1, kHelpQuit = 2, kHelpContents = 3, kHelpFinder = 11;
const char kCloseCaption[] = "Corvex Traymark - Close";
const char kMessageCaption[] = "Corvex Traymark";

HWND StartAgent(HANDLE *process)
{
    *process = StartTraymark();
    return WaitForAgentReady(*process);
}

std::string HelpFile(const char *name) { return CorvexFolder() + name; }

// One help request, written so that a mismatch shows every field.
std::string Describe(const HelpRequest &r, HWND expectedSender)
{
    char text[400];
    sprintf(text, "command %u data %ld file %s%s", r.command, (long)r.data, r.file.c_str(),
            r.sender == expectedSender ? "" : " from another window");
    return text;
}

std::string Request(WORD command, LONG data, const char *file)
{
    char text[400];
    sprintf(text, "command %u data %ld file %s", command, (long)data, HelpFile(file).c_str());
    return text;
}

// The single request that the last action made, once it is in.
std::string OnlyRequest(HWND sender)
{
    std::vector<HelpRequest> seen = WaitForHelpRequests(1);
    Sleep(200);
    seen = HelpRequests();
    if (seen.size() != 1)
        return std::to_string(seen.size()) + " requests";
    return Describe(seen[0], sender);
}

void ShowAbout(HWND window)
{
    PostMessageA(window, WM_COMMAND, kIdmAbout, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsVisible(window); }));
}

std::string HelpMissingText()
{
    char text[1024];
    sprintf(text,
            "The Corvex help file was not found.\n\nEither:\n        reinstall Corvex 8.1 or later,\nor\n"
            "        remove the Corvex Traymark shortcut from the \"%s\" folder.",
            StartupFolder(true).c_str());
    return text;
}

}  // namespace

TEST_F(AgentTest, HelpCommandOpensTheHelpFileOfTheMode)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    // The mode is read again for every request.
    struct Row {
        const char *name;
        DWORD type;                          // 0: no value
        const char *data;
        DWORD size;
        bool wizard;
    } rows[] = {
        { "no value", 0, "", 0, false },
        { "1", REG_SZ, "1", 2, true },
        { "0", REG_SZ, "0", 2, false },
        { "10", REG_SZ, "10", 3, true },
        { "01", REG_SZ, "01", 3, false },
        { "six characters fit", REG_SZ, "123456", 7, true },
        { "seven characters do not", REG_SZ, "1234567", 8, false },
        { "number 0x31", REG_DWORD, "1\0\0\0", 4, false },
        { "binary 1", REG_BINARY, "1", 1, false },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.type)
            SetBytes(HKEY_CURRENT_USER, kCorvexKey, "Wizard", row.type, row.data, row.size);
        else
            DeleteValue(HKEY_CURRENT_USER, kCorvexKey, "Wizard");
        ClearHelpRequests();
        PostMessageA(window, WM_COMMAND, kIdmHelp, 0);
        EXPECT_EQ(row.wizard ? Request(kHelpContents, 0, "cxwizard.hlp") : Request(kHelpFinder, 0, "corvex.hlp"),
                  OnlyRequest(window));
    }
}

TEST_F(AgentTest, AboutBoxHelpOpensTheAgentTopicAndDismissingQuits)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    const char *modes[] = { "0", "1" };
    for (const char *mode : modes) {
        SCOPED_TRACE(mode);
        const char *file = mode[0] == '1' ? "cxwizard.hlp" : "corvex.hlp";
        SetString(HKEY_CURRENT_USER, kCorvexKey, "Wizard", mode);
        ShowAbout(window);
        ClearHelpRequests();
        PressButton(window, kAboutHelp);
        EXPECT_EQ(Request(kHelpContext, kTopic, file), OnlyRequest(window));
        EXPECT_TRUE(IsVisible(window));

        ClearHelpRequests();
        PressButton(window, IDCANCEL);
        EXPECT_EQ(Request(kHelpQuit, 0, file), OnlyRequest(window));
        EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    }
}

TEST_F(AgentTest, CloseDialogHelpBelongsToTheDialog)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    PostMessageA(window, WM_COMMAND, kIdmClose, 0);
    HWND dialog = WaitForProcessWindow(ProcessId(agent), "#32770", kCloseCaption, 5000);
    ASSERT_NE((HWND)NULL, dialog);
    PressButton(dialog, kCloseHelp);
    EXPECT_EQ(Request(kHelpContext, kTopic, "corvex.hlp"), OnlyRequest(dialog));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(WaitForSingleObject(agent, 0) == WAIT_TIMEOUT);
}

// Ways of closing the agent or its About box, each of which closes the help viewer.
struct QuitPath {
    const char *name;
    void (*act)(HWND window, DWORD pid);
    bool ends;                               // the agent ends afterwards
};

static void PrintTo(const QuitPath &c, std::ostream *os) { *os << c.name; }

static void DismissAbout(HWND window, DWORD)
{
    ShowAbout(window);
    PressButton(window, IDCANCEL);
}
static void PostQuit(HWND window, DWORD) { PostMessageA(window, WM_COMMAND, kIdmQuit, 0); }
static void EndSession(HWND window, DWORD) { PostMessageA(window, WM_ENDSESSION, 1, 0); }
static void ConfirmClose(HWND window, DWORD pid)
{
    PostMessageA(window, WM_COMMAND, kIdmClose, 0);
    HWND dialog = WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
    ASSERT_NE((HWND)NULL, dialog);
    PressButton(dialog, IDOK);
}

static const QuitPath kQuitPaths[] = {
    { "AboutDismissed", DismissAbout, false },
    { "QuitCommand", PostQuit, true },
    { "EndSession", EndSession, true },
    { "CloseConfirmed", ConfirmClose, true },
};

static std::string QuitPathName(const ::testing::TestParamInfo<QuitPath> &info) { return info.param.name; }

class HelpQuit : public AgentTest, public ::testing::WithParamInterface<QuitPath> {};

TEST_P(HelpQuit, ClosesTheHelpViewer)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    GetParam().act(window, ProcessId(agent));
    EXPECT_EQ(Request(kHelpQuit, 0, "corvex.hlp"), OnlyRequest(window));
    DWORD code = 99;
    EXPECT_EQ(GetParam().ends, WaitForExit(agent, GetParam().ends ? 10000 : 500, &code));
    if (GetParam().ends)
        EXPECT_EQ(0u, code);
}

INSTANTIATE_TEST_SUITE_P(Help, HelpQuit, ::testing::ValuesIn(kQuitPaths), QuitPathName);

class HelpMissingOnQuit : public AgentTest, public ::testing::WithParamInterface<QuitPath> {};

TEST_P(HelpMissingOnQuit, ShowsTheMessageThenGoesOn)
{
    SetWindowsVersion("winxp");
    CorvexSetup setup;
    setup.classicHelp = setup.wizardHelp = false;
    InstallCorvex(setup);
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    GetParam().act(window, pid);
    HWND box = WaitForProcessWindow(pid, "#32770", kMessageCaption, 5000);
    ASSERT_NE((HWND)NULL, box);
    EXPECT_EQ(HelpMissingText(), MessageBoxText(box));
    EXPECT_EQ(window, GetWindow(box, GW_OWNER));
    // The agent waits for the user before it goes on.
    EXPECT_TRUE(WaitForSingleObject(agent, 0) == WAIT_TIMEOUT);

    PressButton(box, IDOK);
    DWORD code = 99;
    EXPECT_EQ(GetParam().ends, WaitForExit(agent, GetParam().ends ? 10000 : 500, &code));
    if (GetParam().ends) {
        EXPECT_EQ(0u, code);
    } else {
        EXPECT_FALSE(IsVisible(window));
        PostTrayClick(window, WM_LBUTTONUP);   // busy was cleared
        EXPECT_EQ(1u, WaitForLaunches(1).size());
    }
    EXPECT_TRUE(HelpRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(Help, HelpMissingOnQuit, ::testing::ValuesIn(kQuitPaths), QuitPathName);

// Requests for help that show the message when the file is missing; the agent goes on running.
struct HelpAsked {
    const char *name;
    bool wizard;                             // mode, with only the other mode's file in place
    bool fromCloseDialog;
    UINT command;                            // to the agent window, unless from the Close dialog
};

static void PrintTo(const HelpAsked &c, std::ostream *os) { *os << c.name; }

class HelpMissing : public AgentTest, public ::testing::WithParamInterface<HelpAsked> {};

TEST_P(HelpMissing, ShowsTheMessageAndKeepsRunning)
{
    const HelpAsked &c = GetParam();
    SetWindowsVersion("winxp");
    CorvexSetup setup;
    setup.classicHelp = c.wizard;
    setup.wizardHelp = !c.wizard;
    InstallCorvex(setup);
    if (c.wizard)
        SetString(HKEY_CURRENT_USER, kCorvexKey, "Wizard", "1");
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    HWND owner = window;
    if (c.fromCloseDialog) {
        PostMessageA(window, WM_COMMAND, kIdmClose, 0);
        owner = WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
        ASSERT_NE((HWND)NULL, owner);
        PressButton(owner, kCloseHelp);
    } else {
        if (c.command == kAboutHelp)
            ShowAbout(window);
        PostMessageA(window, WM_COMMAND, c.command, 0);
    }
    HWND box = WaitForProcessWindow(pid, "#32770", kMessageCaption, 5000);
    ASSERT_NE((HWND)NULL, box);
    EXPECT_EQ(HelpMissingText(), MessageBoxText(box));
    EXPECT_EQ(owner, GetWindow(box, GW_OWNER));
    PressButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));

    EXPECT_EQ(std::vector<std::string>(1, ExpectedLaunch("/favorites")), LaunchesUpToMarker(window));
    EXPECT_TRUE(WaitForSingleObject(agent, 0) == WAIT_TIMEOUT);
    if (c.fromCloseDialog)
        EXPECT_TRUE(IsWindow(owner));
    EXPECT_TRUE(HelpRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpMissing,
    ::testing::Values(HelpAsked{ "MenuHelpClassic", false, false, kIdmHelp },
                      HelpAsked{ "MenuHelpWizard", true, false, kIdmHelp },
                      HelpAsked{ "AboutHelp", false, false, kAboutHelp },
                      HelpAsked{ "CloseDialogHelp", false, true, 0 }),
    [](const ::testing::TestParamInfo<HelpAsked> &info) { return std::string(info.param.name); });
