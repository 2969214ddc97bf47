// Start-up decisions, instance control and the agent window, played against
// the real traymark.exe: each test starts the agent the way Windows or a
// second copy would and reads back windows, marker, handle record and the
// requests the agent made.
#include "tests/e2e/driver.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace driver;

namespace {

const int kIdVersionText = 1000;

std::string ClassicHelpFile() { return CorvexFolder() + "corvex.hlp"; }

bool SameFile(const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// A start with Corvex unusable: one message box, then a quiet end.
void ExpectRefusal(const char *tail, bool nt)
{
    bool recordBefore = false;
    std::string record = HandleRecordText(NULL, &recordBefore);
    HANDLE process = StartTraymark(tail);
    ASSERT_NE((HANDLE)NULL, process);
    DWORD pid = ProcessId(process);
    HWND box = WaitForMessageBox(pid, 10000);
    ASSERT_NE((HWND)NULL, box) << "no message box";
    EXPECT_EQ(CorvexMissingText(nt), MessageBoxText(box));
    EXPECT_EQ(1, CountProcessWindows(pid, "#32770"));
    EXPECT_EQ((HWND)NULL, FindProcessWindow(pid, "#32770", kAgentCaption));
    EXPECT_FALSE(MarkerPresent());
    PressButton(box, IDOK);
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(process, 10000, &code)) << "still running after OK";
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(MarkerPresent());
    bool recordAfter = false;
    EXPECT_EQ(record, HandleRecordText(NULL, &recordAfter)) << "a refused start wrote the handle record";
    EXPECT_EQ(recordBefore, recordAfter);
}

// A start that must come up as the agent; it is closed again afterwards.
void ExpectRun(const char *tail = "")
{
    HANDLE process;
    HWND window = StartAgent(&process, tail);
    ASSERT_NE((HWND)NULL, window) << "agent did not come up";
    QuitAgent(process, window);
}

// --- Windows of our own that a stale or foreign record may name -----------

struct Received {
    HWND hwnd;
    WPARAM wParam;
};
std::vector<Received> g_commands;

INT_PTR CALLBACK ForeignDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND) {
        g_commands.push_back({ hwnd, wParam });
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

LRESULT CALLBACK ForeignWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        g_commands.push_back({ hwnd, wParam });
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND CreateForeignWindow(const char *caption)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ForeignWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "TraymarkTestForeign";
        registered = RegisterClassA(&wc) != 0;
    }
    return CreateWindowA("TraymarkTestForeign", caption, WS_OVERLAPPEDWINDOW, 0, 0, 100, 50, NULL, NULL,
                         GetModuleHandleA(NULL), NULL);
}

class StartupTest : public AgentTest {
protected:
    void TearDown() override
    {
        AgentTest::TearDown();
        g_commands.clear();
    }
};

}  // namespace

// --- Refusal ---------------------------------------------------------------

// The message names the Startup folder of the family: the common one on NT,
// the user's own on the consumer family.
TEST_F(StartupTest, CorvexMissingShowsOneMessageNamingTheStartupFolder)
{
    ASSERT_NE(StartupFolder(true), StartupFolder(false)) << "the two folders must differ to tell them apart";
    ASSERT_NE("", StartupFolder(true));
    struct Case {
        const char *wineVersion;
        bool nt;
    } cases[] = { { NULL, true }, { "win98", false }, { "win2k", true }, { "winxp", true } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wineVersion ? c.wineVersion : "Wine default");
        SetWindowsVersion(c.wineVersion);
        ExpectRefusal("", c.nt);
    }
}

// --- Version gate ------------------------------------------------------------

TEST_F(StartupTest, VersionGateDecidesBetweenRunAndRefusal)
{
    struct Case {
        const char *version;   // NULL: no version value
        bool runs;
    } cases[] = {
        { "9.0", true }, { "R8.1", true }, { "8.0", false }, { "10.0", false }, { NULL, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version ? c.version : "no version value");
        UninstallCorvex();
        CorvexSetup setup;
        setup.version = c.version;
        InstallCorvex(setup);
        if (c.runs)
            ExpectRun();
        else
            ExpectRefusal("", true);
    }
}

// --- Locating Corvex from its open command and App Paths -----------------

TEST_F(StartupTest, OpenCommandAndAppPathsDecideWhetherCorvexIsFound)
{
    InstallCorvex();
    ASSERT_TRUE(InstallBareCopy());
    std::string blanks = CorvexFolder() + "corvex32.exe";   // has a blank, exists
    struct Case {
        const char *name;
        std::string openCommand;   // empty: no open-command key at all
        std::string appPath;       // empty: no App Paths key
        bool runs;
        bool keyWithoutDefault;    // the open-command key is there, without a default value
    } cases[] = {
        { "unquoted path without blanks, quoted argument", std::string(kBareExe) + " \"%1\"", "", true },
        { "unquoted path with blanks, no argument", blanks, "", false },
        { "open command names a missing file; App Paths is not consulted",
          "\"C:\\CorvexGone\\corvex32.exe\" \"%1\"", kBareExe, false },
        { "App Paths when the open command is absent", "", kBareExe, true },
        { "App Paths with an unquoted path with blanks", "", blanks, false },
        { "open-command key without a default value names nothing; App Paths is not consulted", "",
          kBareExe, false, true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteTree(HKEY_CLASSES_ROOT, "Corvex");
        DeleteTree(HKEY_LOCAL_MACHINE, kAppPathKey);
        if (!c.openCommand.empty())
            SetString(HKEY_CLASSES_ROOT, kOpenCommandKey, "", c.openCommand.c_str());
        if (c.keyWithoutDefault)
            SetString(HKEY_CLASSES_ROOT, kOpenCommandKey, "NotTheDefault", "x");
        if (!c.appPath.empty())
            SetString(HKEY_LOCAL_MACHINE, kAppPathKey, "", c.appPath.c_str());
        if (c.runs)
            ExpectRun();
        else
            ExpectRefusal("", true);
    }
}

// --- Normal run ----------------------------------------------------------

TEST_F(StartupTest, RunPublishesHiddenAgentWindowAndMarker)
{
    InstallCorvex();   // quoted path followed by "%1"
    ASSERT_TRUE(Start());

    EXPECT_TRUE(MarkerPresent());
    DWORD type = 0;
    EXPECT_EQ(DecimalHandle(window), HandleRecordText(&type));
    EXPECT_EQ((DWORD)REG_SZ, type);

    EXPECT_EQ("#32770", ClassName(window));
    EXPECT_EQ(kAgentCaption, WindowText(window));
    EXPECT_FALSE(IsVisible(window));
    EXPECT_EQ("Corvex\xAE Traymark 8.1  (4319)", DialogItemText(window, kIdVersionText));
    for (int id : { 2, 9 }) {
        SCOPED_TRACE(id);
        HWND button = GetDlgItem(window, id);
        ASSERT_NE((HWND)NULL, button);
        EXPECT_FALSE(IsVisible(button));
        EXPECT_TRUE(IsWindowEnabled(button));
    }
    EXPECT_EQ(0, CountVisibleWindows(pid));
    QuitAgent(agent, window);
}

// The record is the digits alone; a terminator stored by an older writer
// must not survive the rewrite either.
// --- A second start while a copy runs --------------------------------------

TEST_F(StartupTest, SecondStartWithoutRecognisedTailEndsQuietly)
{
    InstallCorvex();
    ASSERT_TRUE(Start());
    std::string record = HandleRecordText();
    // With a copy marked as running Corvex is not looked at: an unusable
    // Corvex must not bring up the refusal.
    DeleteTree(HKEY_CLASSES_ROOT, "Corvex");

    for (const char *tail : { "", "/nosplash", "/remove now" }) {
        SCOPED_TRACE(std::string("tail \"") + tail + "\"");
        HANDLE second = StartTraymark(tail);
        DWORD code = 99;
        bool showed = true;
        ASSERT_TRUE(WaitForQuietExit(second, &code, &showed)) << "second start did not end";
        EXPECT_EQ(0u, code);
        EXPECT_FALSE(showed);
        EXPECT_TRUE(Running(agent));
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsVisible(window));
        EXPECT_TRUE(MarkerPresent());
        EXPECT_EQ(record, HandleRecordText());
    }
    InstallCorvex();   // the close path needs the help file again
    QuitAgent(agent, window);
}

// --- "/remove" -------------------------------------------------------------

TEST_F(StartupTest, RemoveClosesTheRunningCopy)
{
    InstallCorvex();
    ASSERT_TRUE(Start());
    std::string record = HandleRecordText();

    HANDLE remover = StartTraymark("/remove");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(remover, 10000, &code)) << "the /remove start did not end";
    EXPECT_EQ(0u, code);
    code = 99;
    ASSERT_TRUE(WaitForExit(agent, 10000, &code)) << "the running copy did not close";
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(MarkerPresent());
    EXPECT_EQ(record, HandleRecordText()) << "the record outlives the agent";
}

// A marker without a live agent window behind the record: the close request
// goes only to a dialog that carries the agent's caption.
TEST_F(StartupTest, RemoveSendsOnlyToAnAgentWindow)
{
    HWND gone = CreateForeignWindow("gone");
    ASSERT_NE((HWND)NULL, gone);
    DestroyWindow(gone);
    HWND plain = CreateForeignWindow(kAgentCaption);
    HWND otherDialog = CreateTestDialog("Something else", ForeignDialogProc);
    // In a process of its own, whose end the remover waits for.
    HWND lookalike = NULL;
    HANDLE lookalikeProcess = StartLookalike(&lookalike);
    ASSERT_NE((HWND)NULL, plain);
    ASSERT_NE((HWND)NULL, otherDialog);
    ASSERT_NE((HWND)NULL, lookalike);
    ASSERT_EQ("#32770", ClassName(otherDialog));
    ASSERT_FALSE(IsWindow(gone)) << "the dead handle names a live window again";

    struct Case {
        const char *name;
        HWND target;
        bool receives;
    } cases[] = {
        { "dead handle", gone, false },
        { "plain window with the agent caption", plain, false },
        { "dialog with another caption", otherDialog, false },
        { "dialog with the agent caption", lookalike, true },
    };
    ASSERT_NE(0, GlobalAddAtomA(kMarkerName));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_commands.clear();
        WriteHandleRecord(c.target);
        HANDLE remover = StartTraymark("/remove");
        DWORD code = 99;
        ASSERT_TRUE(WaitForExitPumping(remover, 10000, &code)) << "the /remove start did not end";
        EXPECT_EQ(0u, code);
        EXPECT_TRUE(MarkerPresent()) << "a close request leaves the marker to the agent";
        EXPECT_EQ(0u, g_commands.size());
        // The look-alike ends on the close request, and only on that.
        DWORD got = 0;
        bool ended = WaitForExit(lookalikeProcess, 0, &got);
        EXPECT_EQ(c.receives, ended && got == kLookalikeGotQuit)
            << (ended ? "the look-alike ended with " + std::to_string(got) : "the look-alike runs");
        if (c.target != gone && !c.receives)
            EXPECT_TRUE(IsWindow(c.target));
    }
    DestroyWindow(plain);
    DestroyWindow(otherDialog);
}

TEST_F(StartupTest, RemoveWithNoCopyMarkedStartsTheAgent)
{
    InstallCorvex();
    ExpectRun("/remove");
}

// --- An unquoted program path through a folder named in the code page -------

// A folder without blanks whose name has bytes of 0x80 and more in the ANSI
// code page in force: where an installer may have put the agent.
std::string AnsiTextFolder()
{
    switch (GetACP()) {
    case 932: return "C:\\\x83\x5C\x83\x74\x83\x67";            // katakana, trail byte 0x5C
    case 936: return "C:\\\xC8\xED\xBC\xFE";
    case 949: return "C:\\\xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5";
    case 950: return "C:\\\xB3\x6E\xC5\xE9";
    case 874: return "C:\\\xE2\xBB\xC3\xE1\xA1\xC3\xC1";
    default: return "C:\\Programme\\J\xFCrgen";
    }
}

struct UnquotedStart {
    const char *name;
    const char *tail;
    bool closes;   // "/remove"; else "/clear"
};
void PrintTo(const UnquotedStart &c, std::ostream *os) { *os << c.name; }

class UnquotedAnsiText : public AgentTest, public ::testing::WithParamInterface<UnquotedStart> {};

// A remover's command line names the program unquoted; the running copy was
// started from the same folder by its shortcut, quoted.
TEST_P(UnquotedAnsiText, RemoverActsOnTheRunningCopy)
{
    const UnquotedStart &c = GetParam();
    const std::string folder = AnsiTextFolder(), exe = folder + "\\traymark.exe";
    SCOPED_TRACE("code page " + std::to_string(GetACP()) + ": " + exe);
    CreateDirectoryA("C:\\Programme", NULL);
    CreateDirectoryA(folder.c_str(), NULL);
    // The copy the last test started may still be ending.
    ASSERT_TRUE(WaitUntil([&] { return CopyFileA(TraymarkExe().c_str(), exe.c_str(), FALSE) != 0; }));
    InstallCorvex();
    agent = StartTraymarkFrom(exe, "", true);
    window = agent ? WaitForAgentReady(agent) : NULL;
    DWORD code = 99;
    ASSERT_NE((HWND)NULL, window) << "agent did not come up"
                                  << (WaitForExit(agent, 0, &code) ? "; it ended with " + std::to_string(code) : "");

    HANDLE remover = StartTraymarkFrom(exe, c.tail, false);
    ASSERT_TRUE(WaitForExit(remover, 20000, &code)) << "the " << c.tail << " start did not end";
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(MarkerPresent());
    if (c.closes) {
        // It waited for the agent's end, so the uninstaller can delete the program.
        EXPECT_FALSE(Running(agent)) << "the remover ended before the running copy";
        EXPECT_TRUE(WaitForExit(agent, 10000, &code));
        EXPECT_EQ(0u, code);
    } else {
        EXPECT_TRUE(Running(agent));
        QuitAgent(agent, window);
    }
    EXPECT_TRUE(WaitUntil([&] { return DeleteFileA(exe.c_str()) != 0; })) << "cannot delete " << exe;
    RemoveDirectoryA(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(Startup, UnquotedAnsiText,
                         ::testing::Values(UnquotedStart{ "Remove", "/remove", true },
                                           UnquotedStart{ "Clear", "/clear", false }),
                         [](const ::testing::TestParamInfo<UnquotedStart> &info) {
                             return std::string(info.param.name);
                         });

// --- "/clear" --------------------------------------------------------------

TEST_F(StartupTest, ClearRemovesEveryMarkerReferenceAndLetsASecondCopyStart)
{
    InstallCorvex();
    HANDLE agentA;
    HWND first = StartAgent(&agentA);
    ASSERT_NE((HWND)NULL, first);
    ASSERT_NE(0, GlobalAddAtomA(kMarkerName));   // a second reference to the same marker

    HANDLE clearer = StartTraymark("/clear");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(clearer, 10000, &code)) << "the /clear start did not end";
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(MarkerPresent());
    EXPECT_TRUE(Running(agentA));
    EXPECT_TRUE(IsWindow(first));

    HANDLE agentB;
    HWND second = StartAgent(&agentB);
    ASSERT_NE((HWND)NULL, second) << "no second copy after /clear";
    EXPECT_NE(first, second);
    EXPECT_TRUE(Running(agentA));
    EXPECT_EQ(first, FindProcessWindow(ProcessId(agentA), "#32770", kAgentCaption));
    EXPECT_EQ(second, FindProcessWindow(ProcessId(agentB), "#32770", kAgentCaption));
    QuitAgent(agentB, second);
    QuitAgent(agentA, first);
}

// --- About box -------------------------------------------------------------

TEST_F(StartupTest, AboutBoxShowsAndEachWayOfDismissingHidesItAndQuitsHelp)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    struct Dismissal {
        const char *name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } ways[] = {
        { "OK button", WM_COMMAND, 0, 0 },
        { "Esc key", WM_KEYDOWN, VK_ESCAPE, 1 },
        { "close box", WM_SYSCOMMAND, SC_CLOSE, 0 },
    };
    for (const Dismissal &way : ways) {
        SCOPED_TRACE(way.name);
        ClearHelpRequests();
        ASSERT_TRUE(ShowAboutBox(window)) << "About box not shown";
        for (int id : { 2, 9 }) {
            SCOPED_TRACE(id);
            EXPECT_TRUE(IsVisible(GetDlgItem(window, id)));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, id)));
        }
        if (way.message == WM_COMMAND)
            PressButton(window, IDCANCEL);
        else
            PostMessageA(window, way.message, way.wParam, way.lParam);
        EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); })) << "About box not hidden";
        std::vector<HelpRequest> help = WaitForHelpRequests(1);
        Sync(window);
        help = HelpRequests();
        ASSERT_EQ(1u, help.size());
        EXPECT_EQ(HELP_QUIT, help[0].command);
        EXPECT_TRUE(SameFile(ClassicHelpFile(), help[0].file)) << help[0].file;
        EXPECT_EQ(window, help[0].sender);
        EXPECT_TRUE(Running(agent));
    }

    // "Help" in the About box asks for the agent's topic.
    ClearHelpRequests();
    ASSERT_TRUE(ShowAboutBox(window));
    PressButton(window, kIdAboutHelp);
    std::vector<HelpRequest> help = WaitForHelpRequests(1);
    ASSERT_EQ(1u, help.size());
    EXPECT_EQ(HELP_CONTEXT, help[0].command);
    EXPECT_EQ(15012, help[0].data);
    EXPECT_TRUE(SameFile(ClassicHelpFile(), help[0].file)) << help[0].file;
    EXPECT_TRUE(IsVisible(window)) << "Help leaves the About box up";
    PressButton(window, IDCANCEL);
    EXPECT_TRUE(WaitUntil([&] { return !IsVisible(window); }));
    QuitAgent(agent, window);
}

// The version line in the ANSI code page in force (the lanes run this under
// several): set in Unicode on the NT family; in ANSI on the consumer family,
// where only the 125x code pages have the registered sign at 0xAE.
struct VersionLineCase {
    const char *name;
    const char *windows;   // Wine's version for traymark.exe; NULL: its default, of the NT family
};

void PrintTo(const VersionLineCase &c, std::ostream *os) { *os << c.name; }

class AboutVersionLine : public StartupTest, public ::testing::WithParamInterface<VersionLineCase> {};

TEST_P(AboutVersionLine, AnsiTextShowsTheRegisteredSign)
{
    const VersionLineCase &c = GetParam();
    SetWindowsVersion(c.windows);
    InstallCorvex();
    ASSERT_TRUE(Start());

    UINT codePage = GetACP();
    bool signInCodePage = codePage >= 1250 && codePage <= 1258;
    std::wstring expected = !c.windows || signInCodePage ? L"Corvex\u00AE Traymark 8.1  (4319)"
                                                         : L"Corvex(R) Traymark 8.1  (4319)";
    WCHAR text[64] = L"";
    GetWindowTextW(GetDlgItem(window, kIdVersionText), text, 64);
    EXPECT_EQ(expected, std::wstring(text)) << "code page " << codePage;
    QuitAgent(agent, window);
}

INSTANTIATE_TEST_SUITE_P(About, AboutVersionLine,
                         ::testing::Values(VersionLineCase{ "NtFamily", NULL },
                                           VersionLineCase{ "Windows98", "win98" }),
                         [](const ::testing::TestParamInfo<VersionLineCase> &info) {
                             return std::string(info.param.name);
                         });

// --- Closing -----------------------------------------------------------------

TEST_F(StartupTest, QuitRequestClosesHelpThenEndsTheAgent)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());
    std::string record = HandleRecordText();

    QuitAgent(agent, window);
    std::vector<HelpRequest> help = HelpRequests();
    ASSERT_EQ(1u, help.size());
    EXPECT_EQ(HELP_QUIT, help[0].command);
    EXPECT_TRUE(SameFile(ClassicHelpFile(), help[0].file)) << help[0].file;
    EXPECT_FALSE(MarkerPresent());
    EXPECT_EQ(record, HandleRecordText());
}

TEST_F(StartupTest, EndOfSessionClosesOnlyWhenTheSessionEnds)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    DWORD_PTR result;
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, 0, 0, SMTO_NORMAL, ScaledMs(10000), &result));
    EXPECT_TRUE(Running(agent));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(MarkerPresent());
    EXPECT_EQ(0u, HelpRequests().size());

    // Our own reference, added after the agent's: if the agent drops its
    // reference exactly once, ours alone keeps the marker alive.
    ATOM ours = GlobalAddAtomA(kMarkerName);
    ASSERT_NE(0, ours);
    SendMessageTimeoutA(window, WM_ENDSESSION, 1, 0, SMTO_NORMAL, ScaledMs(10000), &result);
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(agent, 10000, &code)) << "agent did not end with the session";
    EXPECT_EQ(0u, code);
    std::vector<HelpRequest> help = HelpRequests();
    ASSERT_EQ(1u, help.size());
    EXPECT_EQ(HELP_QUIT, help[0].command);
    EXPECT_TRUE(MarkerPresent()) << "the marker was released more than once";
    GlobalDeleteAtom(ours);
    EXPECT_FALSE(MarkerPresent()) << "the agent did not release its marker";
}

TEST_F(StartupTest, UnknownCommandsDoNothing)
{
    InstallCorvex();
    StartHelpViewer();
    ASSERT_TRUE(Start());

    // Around the known identifiers, and the two ends of the recent-file range.
    for (WPARAM id : { 0, 1, 4, 7, 100, 103, 107, 500, 1000, 1034, 1050, 0xFFFF })
        EXPECT_TRUE(SendCommand(window, id)) << id;
    Sync(window);
    EXPECT_TRUE(WaitForLaunches(1, 1000).empty()) << "a command started Corvex";
    EXPECT_TRUE(Running(agent));
    EXPECT_TRUE(MarkerPresent());
    EXPECT_FALSE(IsVisible(window));
    EXPECT_EQ(0, CountVisibleWindows(pid));
    EXPECT_EQ(0u, HelpRequests().size());
    QuitAgent(agent, window);
}

// --- Closing with nobody at the screen -----------------------------------------

// An uninstaller's "/remove" and the end of the session: whatever is up, the
// agent ends at once, shows nothing, and leaves nothing behind.
struct UnattendedClose {
    const char *name;
    HWND (*bringUp)(HWND window, DWORD pid);   // what is up when the request comes; NULL: nothing
    bool helpFile;
    bool endSession;                           // WM_ENDSESSION(1) instead of "/remove"
};

void PrintTo(const UnattendedClose &c, std::ostream *os) { *os << c.name; }

HWND UpMenu(HWND window, DWORD pid) { return OpenTrayMenu(window, pid); }
HWND UpAbout(HWND window, DWORD) { return ShowAboutBox(window) ? window : NULL; }
HWND UpCloseDialog(HWND window, DWORD pid) { return OpenCloseDialog(window, pid); }
HWND UpCorvexMissing(HWND window, DWORD pid)
{
    DeleteTree(HKEY_CLASSES_ROOT, "Corvex");
    PostTrayClick(window, WM_LBUTTONUP);
    return WaitForMessageBox(pid);
}
HWND UpHelpMissing(HWND window, DWORD pid)
{
    if (!ShowAboutBox(window))
        return NULL;
    PressButton(window, IDCANCEL);
    return WaitForMessageBox(pid);
}

const UnattendedClose kUnattendedCloses[] = {
    { "RemoveWithHelpFile", NULL, true, false },
    { "RemoveWithoutHelpFile", NULL, false, false },
    { "EndSessionWithHelpFile", NULL, true, true },
    { "EndSessionWithoutHelpFile", NULL, false, true },
    { "RemoveFromTrayMenu", UpMenu, false, false },
    { "RemoveFromAboutBox", UpAbout, false, false },
    { "RemoveFromCloseDialog", UpCloseDialog, false, false },
    { "RemoveFromCorvexMissingMessage", UpCorvexMissing, false, false },
    { "RemoveFromHelpMissingMessage", UpHelpMissing, false, false },
};

class CloseUnattended : public StartupTest, public ::testing::WithParamInterface<UnattendedClose> {};

TEST_P(CloseUnattended, EndsAtOnceShowingNothing)
{
    const UnattendedClose &c = GetParam();
    CorvexSetup setup;
    setup.classicHelp = setup.wizardHelp = c.helpFile;
    const DWORD startFloor = MeasureStartFloor();
    RecordProperty(std::string(c.name) + "_floor_ms", (int)startFloor);
    // A remover that gives up on the agent takes 10 s on top of its own start,
    // which costs about a floor (never under half of one as measured): a third
    // of the floor past 9999 still fails it however slow the host.
    const DWORD answeredBound = std::min<DWORD>(startFloor + ScaledMs(3000), 9999 + startFloor / 3);
    StartHelpViewer();
    // The remover and the agent end milliseconds apart: one round could miss
    // the agent outliving the remover.
    const int rounds = c.endSession ? 1 : 5;
    std::string answeredList, endedList;
    for (int round = 1; round <= rounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        InstallCorvex(setup);
        ASSERT_TRUE(Start());
        HWND up = NULL;
        if (c.bringUp) {
            up = c.bringUp(window, pid);
            ASSERT_NE((HWND)NULL, up) << "nothing came up";
        }
        ClearHelpRequests();

        DWORD start = GetTickCount();
        if (c.endSession) {
            DWORD_PTR result;
            EXPECT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, 1, 0, SMTO_NORMAL, ScaledMs(10000), &result));
        } else {
            DWORD code = 99;
            EXPECT_TRUE(WaitForExit(StartTraymark("/remove"), 10000, &code)) << "the /remove start did not end";
            // An uninstaller deletes traymark.exe the moment the remover has ended.
            EXPECT_FALSE(Running(agent)) << "the agent outlived the remover";
            EXPECT_EQ(0u, code);
        }
        DWORD answered = GetTickCount() - start;

        // A message box other than the one already up would wait for somebody.
        bool newBox = false;
        bool ended = WaitUntil([&] {
            HWND box = FindProcessWindow(pid, "#32770", kMessageCaption);
            newBox = newBox || (box && box != up && IsWindowVisible(box));
            return !Running(agent);
        }, 10000);
        DWORD endedMs = GetTickCount() - start;
        answeredList += (round > 1 ? "," : "") + std::to_string(answered);
        endedList += (round > 1 ? "," : "") + std::to_string(endedMs);
        RecordProperty(std::string(c.name) + "_answered_ms", answeredList);
        RecordProperty(std::string(c.name) + "_ended_ms", endedList);
        EXPECT_FALSE(newBox) << "a message box came up";
        ASSERT_TRUE(ended) << "the agent still runs";
        DWORD code = 99;
        GetExitCodeProcess(agent, &code);
        EXPECT_EQ(0u, code);
        EXPECT_LE(answered, answeredBound);
        EXPECT_LE(endedMs, startFloor + ScaledMs(5000));
        EXPECT_FALSE(MarkerPresent());
        EXPECT_FALSE(RealTrayKnows(window, 1006));

        std::vector<HelpRequest> help = HelpRequests();
        if (c.helpFile) {
            ASSERT_EQ(1u, help.size());
            EXPECT_EQ(ExpectedHelpRequest(HELP_QUIT, 0, "corvex.hlp"), HelpRequestText(help[0], window));
        } else {
            EXPECT_TRUE(help.empty()) << HelpRequestText(help[0]);
        }
    }

    InstallCorvex(setup);
    HANDLE next;
    HWND second = StartAgent(&next);
    ASSERT_NE((HWND)NULL, second) << "no new copy after the close";
    QuitAgent(next, second);
}

INSTANTIATE_TEST_SUITE_P(Startup, CloseUnattended, ::testing::ValuesIn(kUnattendedCloses),
                         [](const ::testing::TestParamInfo<UnattendedClose> &info) {
                             return std::string(info.param.name);
                         });

// The record names a window of the agent's kind whose thread does not pump
// while the remover runs: it must give up rather than wait for ever.
TEST_F(StartupTest, RemoveGivesUpOnAnAgentThatDoesNotAnswer)
{
    const DWORD startFloor = MeasureStartFloor();
    RecordProperty("remove_unanswered_floor_ms", (int)startFloor);
    HWND hung = CreateTestDialog(kAgentCaption, ForeignDialogProc);
    ASSERT_NE((HWND)NULL, hung);
    WriteHandleRecord(hung);
    ASSERT_NE(0, GlobalAddAtomA(kMarkerName));

    // Wine tells a sender at once about a thread that has not pumped for 5 s;
    // one that just did has to be waited out, which is the case that matters.
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    DWORD start = GetTickCount();
    HANDLE remover = StartTraymark("/remove");
    DWORD code = 99;
    bool ended = WaitForExit(remover, 30000, &code);
    DWORD ms = GetTickCount() - start;
    RecordProperty("remove_unanswered_ms", (int)ms);
    ASSERT_TRUE(ended) << "the /remove start still waits";
    EXPECT_EQ(0u, code);
    // Its 10 s of waiting are the clock's; only the work around them is slower.
    EXPECT_LE(ms, startFloor + 10000 + ScaledMs(2000));
    DestroyWindow(hung);
}
