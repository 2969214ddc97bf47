// The Close dialog: its initial choice, the ways to back out of it, and the
// two ways to close the agent, one of which tells Corvex "/notm".
#include "tests/e2e/driver.h"

using namespace driver;

namespace {

const int kForNow = 1003;
const int kAndRemove = 1004;

// "Close..." is the bottom item; End selects it whatever the menu starts with.
HWND OpenCloseDialogFromMenu(HWND window, DWORD pid)
{
    if (!OpenTrayMenu(window, pid))
        return NULL;
    TapKeys({VK_END, VK_RETURN});
    return WaitForProcessWindow(pid, "#32770", kCloseCaption, 5000);
}

LRESULT Check(HWND dialog, int id) { return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0); }

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

}  // namespace

TEST_F(AgentTest, CloseDialogOffersCloseForNowFirst)
{
    InstallCorvex();
    ASSERT_TRUE(Start());

    HWND dialog = OpenCloseDialog(window, pid);
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
    ASSERT_TRUE(Start());

    HWND dialog = GetParam().fromMenu ? OpenCloseDialogFromMenu(window, pid) : OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    // Backing out keeps the choice from mattering.
    Click(dialog, kAndRemove);
    GetParam().dismiss(dialog);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));

    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ ExpectedLaunch(""), ExpectedLaunch("/favorites") }), LaunchesUpToMarker(window));
    EXPECT_TRUE(Running(agent));
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
    Lines launches;
};

static void PrintTo(const Confirmation &c, std::ostream *os) { *os << c.name; }

class CloseDialogConfirmed : public AgentTest, public ::testing::WithParamInterface<Confirmation> {};

TEST_P(CloseDialogConfirmed, EndsTheAgent)
{
    const Confirmation &c = GetParam();
    InstallCorvex();
    ASSERT_TRUE(Start());

    HWND dialog = OpenCloseDialog(window, pid);
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
    ASSERT_TRUE(Start());

    HWND dialog = OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    Click(dialog, kAndRemove);
    UninstallCorvex();
    PressButton(dialog, IDOK);

    // Corvex cannot be told "/notm"; then, with Corvex gone, its help file is gone too.
    ASSERT_NO_FATAL_FAILURE(AnswerMessageBox(pid, window, CorvexMissingText(true)));
    ASSERT_NO_FATAL_FAILURE(AnswerMessageBox(pid, window, HelpMissingText(true)));
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(agent, 10000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(LaunchLog().empty());
}
