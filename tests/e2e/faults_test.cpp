// Faults that the running agent has to outlive: a tray that is not there yet,
// a shell that restarts, Corvex or its help file taken away underneath it,
// copies started on top of it and close requests that reach nobody. Every
// story ends the same way: the menu still opens, a left click still starts
// Corvex, and "/remove" ends the agent cleanly.
#include "tests/e2e/driver.h"
#include "tests/e2e/shell_tray.h"

#include <shellapi.h>

#include <stdio.h>

using namespace driver;

namespace {

const UINT kTrayId = 1006;
const DWORD kRetryPeriodMs = 2500;

// One line per call, so that a wrong sequence shows in full.
Lines Describe(const std::vector<TrayCall> &calls)
{
    Lines lines;
    for (const TrayCall &call : calls)
        lines.push_back(std::string(TrayActionName(call.action)) + " \"" + call.tooltip + "\" " +
                        (call.answer ? "TRUE" : "FALSE"));
    return lines;
}

const std::string kAdded = "NIM_ADD \"\" TRUE", kRefused = "NIM_ADD \"\" FALSE";
const std::string kTipped = "NIM_MODIFY \"Corvex Traymark\" TRUE";
const std::string kTipLost = "NIM_MODIFY \"Corvex Traymark\" FALSE";

Lines Requests(const std::vector<HelpRequest> &requests)
{
    Lines lines;
    for (const HelpRequest &r : requests)
        lines.push_back(HelpRequestText(r));
    return lines;
}
std::string Request(WORD command, LONG data) { return ExpectedHelpRequest(command, data, "corvex.hlp"); }

// A window of ours that a foreign record can name: a dialog of the agent's
// class under another caption, which notes every request to close or act.
std::vector<UINT> g_received;

INT_PTR CALLBACK ForeignProc(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_COMMAND || message == WM_CLOSE || message == WM_SYSCOMMAND)
        g_received.push_back(message);
    return message == WM_INITDIALOG;
}

#define STEP(call) ASSERT_NO_FATAL_FAILURE(call)

// Windows XP, so that the messages name the common Startup folder.
class FaultTest : public ShellTrayTest {
protected:
    void SetUp() override
    {
        ShellTrayTest::SetUp();
        SetWindowsVersion("winxp");
    }
    void TearDown() override
    {
        ShellTrayTest::TearDown();
        if (foreign)
            DestroyWindow(foreign);
        g_received.clear();
    }

    void AnswerMessage(const std::string &text) { AnswerMessageBox(pid, window, text); }

    void OpenMenu() { ASSERT_NE((HWND)NULL, OpenTrayMenu(window, pid)) << "no menu"; }

    void ExpectMenuOpensAndCloses()
    {
        STEP(OpenMenu());
        TapKeys({VK_ESCAPE});
        ASSERT_TRUE(WaitUntil([&] { return FindVisibleMenu(pid) == NULL; })) << "menu still up";
    }

    void ExpectWorks()
    {
        ASSERT_TRUE(Running(agent));
        STEP(ExpectMenuOpensAndCloses());
        ResetLaunchLog();
        WaitPastDoubleClickTime();
        PostTrayClick(window, WM_LBUTTONUP);
        EXPECT_EQ(Lines({ExpectedLaunch(""), ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
        EXPECT_FALSE(IsVisible(window));
    }

    // "/remove" ends it with 0, and the icon and the marker go with it.
    void ExpectRemoveEnds()
    {
        ClearTrayCalls();
        DWORD code = 99;
        ASSERT_TRUE(WaitForExit(StartTraymark("/remove"), 10000, &code)) << "the /remove start did not end";
        EXPECT_EQ(0u, code);
        code = 99;
        ASSERT_TRUE(WaitForExit(agent, 10000, &code)) << "the agent did not end";
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(MarkerPresent());
        EXPECT_EQ(Lines({"NIM_DELETE \"\" TRUE"}), Describe(TrayCalls()));
        EXPECT_FALSE(TrayHoldsIcon(window, kTrayId));
    }

    HWND foreign = NULL;   // a window of ours, for a record to name
};

}  // namespace

TEST_F(FaultTest, TrayAbsentAtStartRetriesOnceThenTheIconComesWithTheShell)
{
    RefuseTrayAdds(1 << 30);
    ASSERT_TRUE(Start());
    WaitForTrayCalls(3, 4 * kRetryPeriodMs);
    DWORD quietFrom = GetTickCount();
    // The agent is usable without its icon; meanwhile no third attempt may come.
    STEP(ExpectWorks());
    DWORD waited = GetTickCount() - quietFrom;
    if (waited < 3 * kRetryPeriodMs)
        Sleep(3 * kRetryPeriodMs - waited);
    std::vector<TrayCall> calls = TrayCalls();
    ASSERT_EQ(Lines({kRefused, kRefused, kTipLost}), Describe(calls));
    for (const TrayCall &call : calls) {
        EXPECT_EQ(window, call.window);
        EXPECT_EQ(kTrayId, call.id);
    }
    printf("[   info   ] retry %lu ms after the refused add\n", (unsigned long)(calls[1].tick - calls[0].tick));
    EXPECT_FALSE(TrayHoldsIcon(window, kTrayId));

    // The shell comes back and says so.
    ClearTrayCalls();
    RefuseTrayAdds(0);
    PostMessageA(window, TaskbarCreatedMessage(), 0, 0);
    EXPECT_EQ(Lines({kAdded, kTipped}), Describe(SettledTrayCalls(2)));
    EXPECT_TRUE(TrayHoldsIcon(window, kTrayId));
    STEP(ExpectWorks());
    STEP(ExpectRemoveEnds());
}

TEST_F(FaultTest, ShellRestartsThreeTimesAndTheIconIsBackEachTime)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(Lines({kAdded, kTipped}), Describe(SettledTrayCalls(2)));
    for (int restart = 1; restart <= 3; restart++) {
        SCOPED_TRACE(restart);
        ForgetTrayIcons();
        ClearTrayCalls();
        PostMessageA(window, TaskbarCreatedMessage(), 0, 0);
        // A second add of the same icon would show as a refused one here.
        EXPECT_EQ(Lines({kAdded, kTipped}), Describe(SettledTrayCalls(2)));
        for (const TrayCall &call : TrayCalls())
            EXPECT_EQ(window, call.window);
        EXPECT_TRUE(TrayHoldsIcon(window, kTrayId));
        STEP(ExpectMenuOpensAndCloses());
    }
    ClearTrayCalls();
    STEP(ExpectWorks());
    EXPECT_EQ(Lines(), Describe(TrayCalls())) << "the icon was touched without a restart";
    STEP(ExpectRemoveEnds());
}

TEST_F(FaultTest, CorvexUninstalledWhileRunningThenReinstalled)
{
    ASSERT_TRUE(Start());
    UninstallCorvex();

    PostTrayClick(window, WM_LBUTTONUP);
    STEP(AnswerMessage(CorvexMissingText(true)));

    // Without Corvex the help file cannot be found, so the third item is "About...".
    STEP(OpenMenu());
    ChooseFromTop(2);
    ASSERT_TRUE(WaitUntil([&] { return IsVisible(window); })) << "the third item is not About...";
    // Dismissing it would close the help viewer, which needs the help file.
    PressButton(window, IDCANCEL);
    STEP(AnswerMessage(HelpMissingText(true)));
    EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));

    STEP(OpenMenu());
    ChooseFromTop(0);   // "Favorites..."
    STEP(AnswerMessage(CorvexMissingText(true)));
    EXPECT_EQ(Lines(), LaunchLog());

    // The uninstall took the handle record along: "/remove" reaches nobody.
    bool recorded = true;
    HandleRecordText(NULL, &recorded);
    EXPECT_FALSE(recorded);
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(StartTraymark("/remove"), 10000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(Running(agent));
    EXPECT_TRUE(MarkerPresent());

    InstallCorvex();
    STEP(ExpectWorks());
    // Only the lost record kept the agent out of reach.
    WriteHandleRecord(window);
    STEP(ExpectRemoveEnds());
}

TEST_F(FaultTest, HelpFileRemovedWhileRunningThenPutBack)
{
    StartHelpViewer();
    ASSERT_TRUE(Start());
    ASSERT_TRUE(ShowAboutBox(window)) << "no About box";

    PlaceHelpFile("corvex.hlp", false);
    PlaceHelpFile("cxwizard.hlp", false);
    PressButton(window, kIdAboutHelp);
    STEP(AnswerMessage(HelpMissingText(true)));
    EXPECT_TRUE(IsVisible(window)) << "the About box went away with the message";
    PressButton(window, IDCANCEL);
    STEP(AnswerMessage(HelpMissingText(true)));
    EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    EXPECT_EQ(Lines(), Requests(HelpRequests()));
    STEP(ExpectWorks());

    STEP(PlaceHelpFile("corvex.hlp", true));
    ClearHelpRequests();
    STEP(OpenMenu());
    ChooseFromTop(2);   // "Corvex Help" is back
    WaitForHelpRequests(1);
    ASSERT_TRUE(ShowAboutBox(window));
    PressButton(window, kIdAboutHelp);
    WaitForHelpRequests(2);
    PressButton(window, IDCANCEL);
    EXPECT_EQ(Lines({Request(HELP_FINDER, 0), Request(HELP_CONTEXT, 15012), Request(HELP_QUIT, 0)}),
              Requests(WaitForHelpRequests(3)));
    EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    EXPECT_EQ((HWND)NULL, FindProcessWindow(pid, "#32770", kMessageCaption));
    STEP(ExpectWorks());
    STEP(ExpectRemoveEnds());
}

TEST_F(FaultTest, TwentySecondCopiesLeaveTheRunningOneAlone)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(Lines({kAdded, kTipped}), Describe(SettledTrayCalls(2)));
    ClearTrayCalls();
    ATOM marker = GlobalFindAtomA(kMarkerName);
    std::string record = HandleRecordText();
    for (int i = 1; i <= 20; i++) {
        SCOPED_TRACE(i);
        DWORD code = 99;
        bool showed = true;
        ASSERT_TRUE(WaitForQuietExit(StartTraymark(), &code, &showed)) << "a second copy did not end";
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(showed);
        EXPECT_EQ(marker, GlobalFindAtomA(kMarkerName));
        EXPECT_EQ(record, HandleRecordText());
        EXPECT_EQ(window, FindProcessWindow(pid, "#32770", kAgentCaption));
        EXPECT_FALSE(IsVisible(window));
        EXPECT_TRUE(Running(agent));
    }
    EXPECT_EQ(Lines(), Describe(TrayCalls())) << "a second copy touched the tray";
    EXPECT_EQ(Lines(), LaunchLog());
    STEP(ExpectWorks());
    // A reference left behind by any of them would keep the marker after this.
    STEP(ExpectRemoveEnds());
}

TEST_F(FaultTest, RemoveWithStaleOrForeignRecordSendsNothingThenANormalStartWorks)
{
    foreign = CreateTestDialog(kMessageCaption, ForeignProc);
    ASSERT_NE((HWND)NULL, foreign);
    ASSERT_EQ("#32770", ClassName(foreign));
    ASSERT_TRUE(Start());
    HWND ended = window;
    STEP(ExpectRemoveEnds());
    ASSERT_FALSE(IsWindow(ended));
    ASSERT_EQ(DecimalHandle(ended), HandleRecordText()) << "the record outlives the agent";

    const struct {
        const char *name;
        HWND named;
    } records[] = { { "an agent that has ended", ended }, { "a window of ours", foreign } };
    ATOM ours = GlobalAddAtomA(kMarkerName);
    ASSERT_NE(0, ours);
    for (const auto &r : records) {
        SCOPED_TRACE(r.name);
        WriteHandleRecord(r.named);
        ClearTrayCalls();
        DWORD code = 99;
        bool showed = true;
        ASSERT_TRUE(WaitForQuietExit(StartTraymark("/remove"), &code, &showed)) << "the /remove start did not end";
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(showed);
        EXPECT_EQ(ours, GlobalFindAtomA(kMarkerName));
        EXPECT_EQ(std::vector<UINT>(), g_received);
        EXPECT_TRUE(IsWindow(foreign));
        EXPECT_FALSE(IsWindowVisible(foreign));
        EXPECT_EQ(kMessageCaption, WindowText(foreign));
        EXPECT_EQ(DecimalHandle(r.named), HandleRecordText());
        EXPECT_EQ(Lines(), Describe(TrayCalls())) << "the /remove start ran as an agent";
    }

    // "/clear" takes the stale marker away; then a plain start comes up as usual.
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(StartTraymark("/clear"), 10000, &code));
    EXPECT_EQ(0u, code);
    ASSERT_FALSE(MarkerPresent());
    ClearTrayCalls();
    ASSERT_TRUE(Start());
    EXPECT_NE(ended, window);
    EXPECT_EQ(Lines({kAdded, kTipped}), Describe(SettledTrayCalls(2)));
    STEP(ExpectWorks());
    STEP(ExpectRemoveEnds());
    EXPECT_EQ(std::vector<UINT>(), g_received);
}
