// Help requests as the help viewer receives them, and the message the agent
// shows instead when Corvex's help file is not there.
#include "tests/e2e/driver.h"

using namespace driver;

namespace {

const int kCloseHelp = 1002;
const LONG kTopic = 15012;

// The single request that the last action made, once it is in.
std::string OnlyRequest(HWND sender)
{
    std::vector<HelpRequest> seen = WaitForHelpRequests(1);
    Sleep(200);
    seen = HelpRequests();
    if (seen.size() != 1)
        return std::to_string(seen.size()) + " requests";
    return HelpRequestText(seen[0], sender);
}

}  // namespace

TEST_F(AgentTest, HelpCommandOpensTheHelpFileOfTheMode)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

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
        EXPECT_EQ(row.wizard ? ExpectedHelpRequest(HELP_CONTENTS, 0, "cxwizard.hlp")
                             : ExpectedHelpRequest(HELP_FINDER, 0, "corvex.hlp"),
                  OnlyRequest(window));
    }
}

TEST_F(AgentTest, AboutBoxHelpOpensTheAgentTopicAndDismissingQuits)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    const char *modes[] = { "0", "1" };
    for (const char *mode : modes) {
        SCOPED_TRACE(mode);
        const char *file = mode[0] == '1' ? "cxwizard.hlp" : "corvex.hlp";
        SetString(HKEY_CURRENT_USER, kCorvexKey, "Wizard", mode);
        ASSERT_TRUE(ShowAboutBox(window));
        ClearHelpRequests();
        PressButton(window, kIdAboutHelp);
        EXPECT_EQ(ExpectedHelpRequest(HELP_CONTEXT, kTopic, file), OnlyRequest(window));
        EXPECT_TRUE(IsVisible(window));

        ClearHelpRequests();
        PressButton(window, IDCANCEL);
        EXPECT_EQ(ExpectedHelpRequest(HELP_QUIT, 0, file), OnlyRequest(window));
        EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    }
}

TEST_F(AgentTest, CloseDialogHelpBelongsToTheDialog)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    HWND dialog = OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    PressButton(dialog, kCloseHelp);
    EXPECT_EQ(ExpectedHelpRequest(HELP_CONTEXT, kTopic, "corvex.hlp"), OnlyRequest(dialog));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(Running(agent));
}

// Ways of closing the agent or its About box, each of which closes the help viewer.
struct QuitPath {
    const char *name;
    void (*act)(HWND window, DWORD pid);
    bool ends;                               // the agent ends afterwards
    bool attended;                           // somebody is at the screen
};

static void PrintTo(const QuitPath &c, std::ostream *os) { *os << c.name; }

static void DismissAbout(HWND window, DWORD)
{
    ASSERT_TRUE(ShowAboutBox(window));
    PressButton(window, IDCANCEL);
}
static void PostQuit(HWND window, DWORD) { PostMessageA(window, WM_COMMAND, kIdmQuit, 0); }
static void EndSession(HWND window, DWORD) { PostMessageA(window, WM_ENDSESSION, 1, 0); }
static void ConfirmClose(HWND window, DWORD pid)
{
    HWND dialog = OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    PressButton(dialog, IDOK);
}

static const QuitPath kQuitPaths[] = {
    { "AboutDismissed", DismissAbout, false, true },
    { "QuitCommand", PostQuit, true, false },
    { "EndSession", EndSession, true, false },
    { "CloseConfirmed", ConfirmClose, true, true },
};

// Only a person can answer the message; the unattended paths stay silent
// (see the unattended close tests of the start-up suite).
static std::vector<QuitPath> AttendedQuitPaths()
{
    std::vector<QuitPath> paths;
    for (const QuitPath &path : kQuitPaths)
        if (path.attended)
            paths.push_back(path);
    return paths;
}

// A path that ends the agent ends it with 0; the other leaves it running.
static void ExpectEnding(HANDLE agent, bool ends)
{
    DWORD code = 99;
    EXPECT_EQ(ends, WaitForExit(agent, ends ? 10000 : 500, &code));
    if (ends)
        EXPECT_EQ(0u, code);
}

static std::string QuitPathName(const ::testing::TestParamInfo<QuitPath> &info) { return info.param.name; }

class HelpQuit : public AgentTest, public ::testing::WithParamInterface<QuitPath> {};

TEST_P(HelpQuit, ClosesTheHelpViewer)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    GetParam().act(window, pid);
    EXPECT_EQ(ExpectedHelpRequest(HELP_QUIT, 0, "corvex.hlp"), OnlyRequest(window));
    ExpectEnding(agent, GetParam().ends);
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
    ASSERT_TRUE(Start());

    GetParam().act(window, pid);
    HWND box = WaitForMessageBox(pid);
    ASSERT_NE((HWND)NULL, box);
    EXPECT_EQ(HelpMissingText(true), MessageBoxText(box));
    EXPECT_EQ(window, GetWindow(box, GW_OWNER));
    // The agent waits for the user before it goes on.
    EXPECT_TRUE(Running(agent));

    PressButton(box, IDOK);
    ExpectEnding(agent, GetParam().ends);
    if (!GetParam().ends) {
        EXPECT_FALSE(IsVisible(window));
        PostTrayClick(window, WM_LBUTTONUP);   // busy was cleared
        EXPECT_EQ(1u, WaitForLaunches(1).size());
    }
    EXPECT_TRUE(HelpRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(Help, HelpMissingOnQuit, ::testing::ValuesIn(AttendedQuitPaths()), QuitPathName);

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
    ASSERT_TRUE(Start());

    HWND owner = window;
    if (c.fromCloseDialog) {
        owner = OpenCloseDialog(window, pid);
        ASSERT_NE((HWND)NULL, owner);
        PressButton(owner, kCloseHelp);
    } else {
        if (c.command == kIdAboutHelp)
            ASSERT_TRUE(ShowAboutBox(window));
        PostMessageA(window, WM_COMMAND, c.command, 0);
    }
    ASSERT_NO_FATAL_FAILURE(AnswerMessageBox(pid, owner, HelpMissingText(true)));

    EXPECT_EQ(Lines{ ExpectedLaunch("/favorites") }, LaunchesUpToMarker(window));
    EXPECT_TRUE(Running(agent));
    if (c.fromCloseDialog)
        EXPECT_TRUE(IsWindow(owner));
    EXPECT_TRUE(HelpRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpMissing,
    ::testing::Values(HelpAsked{ "MenuHelpClassic", false, false, kIdmHelp },
                      HelpAsked{ "MenuHelpWizard", true, false, kIdmHelp },
                      HelpAsked{ "AboutHelp", false, false, kIdAboutHelp },
                      HelpAsked{ "CloseDialogHelp", false, true, 0 }),
    [](const ::testing::TestParamInfo<HelpAsked> &info) { return std::string(info.param.name); });
