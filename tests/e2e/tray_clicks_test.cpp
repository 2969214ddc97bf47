// Left and right clicks on the tray icon, as the shell reports them to the
// agent window, and the busy guard that keeps them out while something is up.
#include "tests/e2e/driver.h"
#include "tests/e2e/shell_tray.h"

using namespace driver;

namespace {

// An unquoted "C:\Program Files\Corvex Test\corvex32.exe" would be started as
// "C:\Program Files\Corvex.exe" when that exists; a second stand-in there
// records it if it happens.
class DecoyAtBlank {
public:
    DecoyAtBlank() : path_(CorvexFolder().substr(0, CorvexFolder().rfind(' ')) + ".exe")
    {
        EXPECT_TRUE(CopyFileA(StandinExe().c_str(), path_.c_str(), FALSE)) << path_;
    }
    ~DecoyAtBlank() { DeleteFileA(path_.c_str()); }

private:
    std::string path_;
};

}  // namespace

// A single left click starts Corvex once, as every other launch does, with the path quoted.
TEST_F(AgentTest, EveryLaunchQuotesThePathWithBlanks)
{
    InstallCorvex();
    SetString(HKEY_CURRENT_USER, kFileMenuKey, "filemenu1", "C:\\Archives\\x.zip");
    DecoyAtBlank decoy;
    ASSERT_TRUE(Start());

    PostTrayClick(window, WM_LBUTTONUP);
    PostMessageA(window, WM_COMMAND, 102, 0);    // "Open Corvex"
    PostMessageA(window, WM_COMMAND, 1035, 0);   // recent archive 1
    EXPECT_EQ(Lines({ExpectedLaunch(""), ExpectedLaunch(""), ExpectedLaunch("\"C:\\Archives\\x.zip\""),
                     ExpectedLaunch("/favorites")}),
              LaunchesUpToMarker(window));
}

TEST_F(AgentTest, DoubleClickStartsCorvexOnceAndALaterClickAgain)
{
    InstallCorvex();
    ASSERT_TRUE(Start());

    // Both arrive well within the double-click time of each other.
    PostTrayClick(window, WM_LBUTTONUP);
    PostTrayClick(window, WM_LBUTTONUP);
    ASSERT_EQ(Lines({ExpectedLaunch(""), ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));

    WaitPastDoubleClickTime();
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch(""), ExpectedLaunch("/favorites"), ExpectedLaunch(""),
                     ExpectedLaunch("/favorites")}),
              LaunchesUpToMarker(window));
}

TEST_F(AgentTest, ClickOnAnotherIconStartsNothingButMovesTheDeadline)
{
    InstallCorvex();
    ASSERT_TRUE(Start());

    const UINT otherIds[] = { 0, 1005, 1007 };
    for (UINT id : otherIds) {
        SCOPED_TRACE(id);
        ResetLaunchLog();
        WaitPastDoubleClickTime();
        PostTrayClick(window, WM_LBUTTONUP, id);
        PostTrayClick(window, WM_LBUTTONUP);       // inside the deadline that click set
        PostTrayClick(window, WM_RBUTTONUP, id);
        EXPECT_EQ(Lines({ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
        // A menu would still be up, waiting for the user, when the marker arrives.
        EXPECT_EQ(0, CountVisibleWindows(pid, "#32768"));
    }
}

// Each row puts something in front of the user, clicks, and takes it away again.
struct BusyCase {
    const char *name;
    HWND (*show)(HWND window, DWORD pid);   // what is up, or NULL
    void (*dismiss)(HWND shown);
    bool (*gone)(HWND window, HWND shown);
};

static void PrintTo(const BusyCase &c, std::ostream *os) { *os << c.name; }

static HWND ShowAbout(HWND window, DWORD) { return ShowAboutBox(window) ? window : NULL; }
static void DismissAbout(HWND shown) { PressButton(shown, IDCANCEL); }
static bool AboutGone(HWND window, HWND) { return !IsVisible(window); }

static void CancelDialog(HWND shown) { PressButton(shown, IDCANCEL); }
static bool WindowGone(HWND, HWND shown) { return !IsWindow(shown); }

static void EscapeMenu(HWND) { TapKeys({VK_ESCAPE}); }
static bool MenuGone(HWND, HWND shown) { return !IsWindow(shown) || !IsWindowVisible(shown); }

// A longer double-click time keeps a click made right after a dismissal inside
// the deadline even on a slow machine; the agent reads it when it starts.
class LongDoubleClickTime {
public:
    LongDoubleClickTime() : old_(GetDoubleClickTime()) { SetDoubleClickTime(2000); }
    ~LongDoubleClickTime() { SetDoubleClickTime(old_); }

private:
    UINT old_;
};

class ClickWhileBusy : public AgentTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(ClickWhileBusy, StartsNothingButMovesTheDeadline)
{
    const BusyCase &c = GetParam();
    LongDoubleClickTime doubleClickTime;
    InstallCorvex();
    ASSERT_TRUE(Start());

    HWND shown = c.show(window, pid);
    ASSERT_NE((HWND)NULL, shown);
    PostTrayClick(window, WM_RBUTTONUP);
    PostTrayClick(window, WM_LBUTTONUP);
    // Posted messages come before key input, so both are handled while it is still up.
    c.dismiss(shown);
    ASSERT_TRUE(WaitUntil([&] { return c.gone(window, shown); }));
    PostTrayClick(window, WM_LBUTTONUP);       // inside the deadline the swallowed click set
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
    EXPECT_EQ(0, CountVisibleWindows(pid, "#32768")) << "a right click opened a menu";
    EXPECT_TRUE(Running(agent));

    WaitPastDoubleClickTime();
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites"), ExpectedLaunch("")}), WaitForLaunches(2));
}

INSTANTIATE_TEST_SUITE_P(
    Tray, ClickWhileBusy,
    ::testing::Values(BusyCase{ "AboutBox", ShowAbout, DismissAbout, AboutGone },
                      BusyCase{ "CloseDialog", OpenCloseDialog, CancelDialog, WindowGone },
                      BusyCase{ "Menu", OpenTrayMenu, EscapeMenu, MenuGone }),
    [](const ::testing::TestParamInfo<BusyCase> &info) { return std::string(info.param.name); });

// Each row is a run of left clicks at given readings of the agent's tick
// count, which stands still between them: a click opens Corvex unless it
// comes within the double-click time (2000 ms here) of the click before it.
struct TickClick {
    DWORD reads;
    bool opens;
};
struct TickCase {
    const char *name;
    std::vector<TickClick> clicks;   // the first one's reading holds from the start on
};

static void PrintTo(const TickCase &c, std::ostream *os) { *os << c.name; }

const DWORD kDayMs = 24 * 60 * 60 * 1000;
const DWORD kBeforeWrap = 0xFFFFFFFF;   // the last count before 0

class ClicksAlongTheTickCount : public ShellTrayTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(ClicksAlongTheTickCount, CountOnlyOutsideTheDoubleClickTimeOfTheLast)
{
    const TickCase &c = GetParam();
    LongDoubleClickTime doubleClickTime;
    SetHookedTickCount(c.clicks[0].reads);
    ASSERT_TRUE(Start());

    Lines expected;
    for (size_t i = 0; i < c.clicks.size(); i++) {
        SCOPED_TRACE("click " + std::to_string(i + 1));
        SetHookedTickCount(c.clicks[i].reads);
        PostTrayClick(window, WM_LBUTTONUP);
        if (c.clicks[i].opens)
            expected.push_back(ExpectedLaunch(""));
        expected.push_back(ExpectedLaunch("/favorites"));
        ASSERT_EQ(expected, LaunchesUpToMarker(window));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tray, ClicksAlongTheTickCount,
    ::testing::Values(
        TickCase{ "BeforeAndAfterTheWrap", { { kBeforeWrap - 5000, true }, { 11000, true } } },
        TickCase{ "DoubleClickAcrossTheWrap",
                  { { kBeforeWrap - 300, true }, { 300, false }, { 16300, true } } },
        TickCase{ "AfterAMonthWithoutClicks", { { 20 * kDayMs, true }, { 50 * kDayMs, true } } },
        TickCase{ "FirstAt25DaysOfUptime", { { 25 * kDayMs, true }, { 25 * kDayMs + 1000, false } } },
        TickCase{ "FirstRightAfterBoot", { { 300, true }, { 1300, false } } }),
    [](const ::testing::TestParamInfo<TickCase> &info) { return std::string(info.param.name); });

TEST_F(AgentTest, ClickWhileTheCorvexMissingMessageIsUpStartsNothing)
{
    SetWindowsVersion("winxp");
    InstallCorvex();
    ASSERT_TRUE(Start());

    UninstallCorvex();
    PostTrayClick(window, WM_LBUTTONUP);
    HWND box = WaitForMessageBox(pid);
    ASSERT_NE((HWND)NULL, box);
    EXPECT_EQ(CorvexMissingText(true), MessageBoxText(box));
    EXPECT_EQ(window, GetWindow(box, GW_OWNER));

    // With Corvex back, only the busy guard can keep this click from starting it.
    InstallCorvex();
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
    EXPECT_EQ(1, CountVisibleWindows(pid, "#32770", kMessageCaption));

    PressButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    WaitPastDoubleClickTime();
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites"), ExpectedLaunch("")}), WaitForLaunches(2));
    EXPECT_EQ((HWND)NULL, FindProcessWindow(pid, "#32770", kMessageCaption));
}

// A message shown over the About box or the Close dialog (here: the help file
// is missing and "Help" is pressed) must leave the guard up when it goes, as
// the window behind it is still up.
TEST_F(AgentTest, MessageOverAboutBoxOrCloseDialogKeepsClicksOut)
{
    LongDoubleClickTime doubleClickTime;
    SetWindowsVersion("winxp");
    CorvexSetup noHelp;
    noHelp.classicHelp = noHelp.wizardHelp = false;
    InstallCorvex(noHelp);
    ASSERT_TRUE(Start());

    ASSERT_TRUE(ShowAboutBox(window));
    PostMessageA(window, WM_COMMAND, kIdAboutHelp, 0);
    AnswerMessageBox(pid, window, HelpMissingText(true));
    ASSERT_TRUE(IsVisible(window));
    PostTrayClick(window, WM_RBUTTONUP);
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
    EXPECT_EQ(0, CountVisibleWindows(pid, "#32768")) << "a right click opened a menu over the About box";
    PressButton(window, IDCANCEL);
    AnswerMessageBox(pid, window, HelpMissingText(true));   // the help viewer's quit, file still missing
    ASSERT_TRUE(WaitUntil([&] { return !IsVisible(window); }));

    ResetLaunchLog();
    WaitPastDoubleClickTime();
    HWND dialog = OpenCloseDialog(window, pid);
    ASSERT_NE((HWND)NULL, dialog);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0);   // the dialog's "Help"
    AnswerMessageBox(pid, dialog, HelpMissingText(true));
    ASSERT_TRUE(IsWindow(dialog));
    PostTrayClick(window, WM_RBUTTONUP);
    PostTrayClick(window, WM_LBUTTONUP);
    EXPECT_EQ(Lines({ExpectedLaunch("/favorites")}), LaunchesUpToMarker(window));
    EXPECT_EQ(0, CountVisibleWindows(pid, "#32768")) << "a right click opened a menu over the Close dialog";
    EXPECT_EQ(1, CountVisibleWindows(pid, "#32770", kCloseCaption));
    PressButton(dialog, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(Running(agent));
}
