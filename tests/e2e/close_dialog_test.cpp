// The Close dialog: its initial choice, the ways to back out of it, and the
// two ways to close the agent, one of which tells Corvex "/notm".
#include "tests/e2e/driver.h"

#include <stdio.h>

using namespace driver;

namespace {

const UINT kIdmClose = 106;
const int kForNow = 1003;
const int kAndRemove = 1004;
const char kCloseCaption[] = "Corvex Traymark - Close";
const char kMessageCaption[] = "Corvex Traymark";

HWND StartAgent(HANDLE *process)
{
    *process = StartTraymark();
    return WaitForAgentReady(*process);
}

HWND OpenCloseDialog(HWND window, DWORD pid)
{
    PostMessageA(window, WM_COMMAND, kIdmClose, 0);
    return WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
}

// "Close..." is the bottom item; End selects it whatever the menu starts with.
HWND OpenCloseDialogFromMenu(HWND window, DWORD pid)
{
    PostTrayClick(window, WM_RBUTTONUP);
    if (!WaitForVisibleMenu(pid))
        return NULL;
    TapKeys({VK_END, VK_RETURN});
    return WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
}

LRESULT Check(HWND dialog, int id) { return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0); }

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string StartupMessage(const char *first)
{
    char text[1024];
    sprintf(text,
            "%s\n\nEither:\n        reinstall Corvex 8.1 or later,\nor\n"
            "        remove the Corvex Traymark shortcut from the \"%s\" folder.",
            first, StartupFolder(true).c_str());
    return text;
}

}  // namespace

TEST_F(AgentTest, CloseDialogOffersCloseForNowFirst)
{
    InstallCorvex();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    HWND dialog = OpenCloseDialog(window, ProcessId(agent));
    ASSERT_NE((HWND)NULL, dialog);
    EXPECT_EQ(window, GetWindow(dialog, GW_OWNER));
    EXPECT_EQ(BST_CHECKED, Check(dialog, kForNow));
    EXPECT_EQ(BST_UNCHECKED, Check(dialog, kAndRemove));
}

struct Dismissal {
    const char *name;
    bool fromMenu;
    void (*dismiss)(HWND dialog);
};

static void PrintTo(const Dismissal &c, std::ostream *os) { *os << c.name; }

static void CancelButton(HWND dialog) { PressButton(dialog, IDCANCEL); }
static void EscapeKey(HWND) { TapKeys({VK_ESCAPE}); }
static void EscapeCommand(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); }
static void CloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }
static void CloseMessage(HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }

class CloseDialogDismissed : public AgentTest, public ::testing::WithParamInterface<Dismissal> {};

TEST_P(CloseDialogDismissed, KeepsTheAgentRunningAndClickable)
{
    InstallCorvex();
    StartHelpViewer();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    HWND dialog = GetParam().fromMenu ? OpenCloseDialogFromMenu(window, pid) : OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    // Backing out keeps the choice from mattering.
    Click(dialog, kAndRemove);
    GetParam().dismiss(dialog);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));

    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(std::vector<std::string>({ ExpectedLaunch(""), ExpectedLaunch("/favorites") }),
              LaunchesUpToMarker(window));
    EXPECT_TRUE(WaitForSingleObject(agent, 0) == WAIT_TIMEOUT);
    EXPECT_TRUE(HelpRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Close, CloseDialogDismissed,
    ::testing::Values(Dismissal{ "CancelButton", false, CancelButton },
                      Dismissal{ "EscapeKey", true, EscapeKey },
                      Dismissal{ "EscapeCommand", false, EscapeCommand },
                      Dismissal{ "CloseBox", false, CloseBox },
                      Dismissal{ "CloseMessage", false, CloseMessage }),
    [](const ::testing::TestParamInfo<Dismissal> &info) { return std::string(info.param.name); });

struct Confirmation {
    const char *name;
    std::vector<int> clicks;                 // radio buttons clicked, in order
    int forNowChecked;                       // state of "Close for now" before OK
    std::vector<std::string> launches;
};

static void PrintTo(const Confirmation &c, std::ostream *os) { *os << c.name; }

class CloseDialogConfirmed : public AgentTest, public ::testing::WithParamInterface<Confirmation> {};

TEST_P(CloseDialogConfirmed, EndsTheAgent)
{
    const Confirmation &c = GetParam();
    InstallCorvex();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);

    HWND dialog = OpenCloseDialog(window, ProcessId(agent));
    ASSERT_NE((HWND)NULL, dialog);
    for (int id : c.clicks)
        Click(dialog, id);
    EXPECT_EQ(c.forNowChecked, Check(dialog, kForNow));
    EXPECT_EQ(c.forNowChecked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, Check(dialog, kAndRemove));
    PressButton(dialog, IDOK);

    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(agent, 10000, &code));
    EXPECT_EQ(0u, code);
    // The agent waits for each start of Corvex, so the log is complete now.
    EXPECT_EQ(c.launches, LaunchLog());
}

INSTANTIATE_TEST_SUITE_P(
    Close, CloseDialogConfirmed,
    ::testing::Values(
        Confirmation{ "ForNow", {}, BST_CHECKED, {} },
        Confirmation{ "AndRemove", { kAndRemove }, BST_UNCHECKED, { ExpectedLaunch("/notm") } },
        Confirmation{ "ForNowAgain", { kAndRemove, kForNow }, BST_CHECKED, {} }),
    [](const ::testing::TestParamInfo<Confirmation> &info) { return std::string(info.param.name); });

TEST_F(AgentTest, CloseAndRemoveWithCorvexGoneReportsItAndStillEnds)
{
    SetWindowsVersion("winxp");
    InstallCorvex();
    HANDLE agent;
    HWND window = StartAgent(&agent);
    ASSERT_NE((HWND)NULL, window);
    DWORD pid = ProcessId(agent);

    HWND dialog = OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    Click(dialog, kAndRemove);
    UninstallCorvex();
    PressButton(dialog, IDOK);

    // Corvex cannot be told "/notm"; then, with Corvex gone, its help file is gone too.
    const std::string expected[] = {
        StartupMessage("Corvex was not found or it is the incorrect version."),
        StartupMessage("The Corvex help file was not found."),
    };
    for (const std::string &text : expected) {
        HWND box = WaitForProcessWindow(pid, "#32770", kMessageCaption, 5000);
        ASSERT_NE((HWND)NULL, box);
        EXPECT_EQ(text, MessageBoxText(box));
        EXPECT_EQ(window, GetWindow(box, GW_OWNER));
        PressButton(box, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    }
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(agent, 10000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(LaunchLog().empty());
}
