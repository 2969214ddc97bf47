// The tray icon of the real traymark.exe, watched through its own
// Shell_NotifyIconA calls: the stand-in tray records every call the agent
// makes and answers it; the real tray answers them in the last test, and is
// asked whether it knows the icon.
#include "tests/e2e/driver.h"
#include "tests/e2e/shell_tray.h"
#include "tests/trayhook/tray_probe.h"

#include <shellapi.h>

#include <stdio.h>

using namespace driver;

namespace {

#ifndef WM_THEMECHANGED
#define WM_THEMECHANGED 0x031A
#endif

const UINT kIconId = 1006;
const UINT kCallbackMessage = 0x8064;                       // WM_APP + 100
const UINT kRecordFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP; // 7, for every action
const DWORD kRecordSize = 88;                               // the oldest form, for every shell
const char kTooltip[] = "Corvex Traymark";
const DWORD kRetryPeriodMs = 2500;

std::vector<DWORD> Actions(const std::vector<TrayCall> &calls)
{
    std::vector<DWORD> actions;
    for (const TrayCall &call : calls)
        actions.push_back(call.action);
    return actions;
}

std::string Describe(const std::vector<TrayCall> &calls)
{
    std::string text;
    for (const TrayCall &call : calls) {
        char line[256];
        sprintf(line, "%s size %lu window %p id %u flags %u callback 0x%X tip \"%s\" icon %s %ux%u/%u -> %s\n",
                TrayActionName(call.action), (unsigned long)call.size, (void *)call.window, call.id, call.flags,
                call.callbackMessage, call.tooltip.c_str(), call.hasIcon ? "yes" : "no", call.iconWidth,
                call.iconHeight, call.iconBpp, call.answer ? "TRUE" : "FALSE");
        text += line;
    }
    return text;
}

// What every record of the agent carries, whatever the action.
void ExpectAgentRecord(const TrayCall &call, HWND agent, DWORD pid)
{
    EXPECT_EQ(pid, call.processId);
    EXPECT_EQ(kRecordSize, call.size);
    EXPECT_EQ(agent, call.window);
    EXPECT_EQ(kIconId, call.id);
    EXPECT_EQ(kRecordFlags, call.flags);
    EXPECT_EQ(kCallbackMessage, call.callbackMessage);
}

// Adds and modifies hand the shell a small icon picture.
void ExpectSmallIcon(const TrayCall &call)
{
    EXPECT_TRUE(call.hasIcon);
    EXPECT_EQ(16u, call.iconWidth);
    EXPECT_EQ(16u, call.iconHeight);
}

void ExpectAdd(const TrayCall &call, HWND agent, DWORD pid)
{
    EXPECT_EQ((DWORD)NIM_ADD, call.action);
    ExpectAgentRecord(call, agent, pid);
    ExpectSmallIcon(call);
    EXPECT_EQ("", call.tooltip);
}

void ExpectRefresh(const TrayCall &call, HWND agent, DWORD pid)
{
    EXPECT_EQ((DWORD)NIM_MODIFY, call.action);
    ExpectAgentRecord(call, agent, pid);
    ExpectSmallIcon(call);
    EXPECT_EQ(kTooltip, call.tooltip);
}

// The three calls of a refused add and its retry, with time for two more
// retry periods to pass unseen.
std::vector<TrayCall> RetryCycleCalls() { return SettledTrayCalls(3, 4 * kRetryPeriodMs, 3 * kRetryPeriodMs); }

class TrayIconTest : public ShellTrayTest {
protected:
    // Starts the agent and waits for its start-up calls to the tray.
    bool StartWithCalls(size_t startupCalls = 2)
    {
        if (!Start())
            return false;
        WaitForTrayCalls(startupCalls);
        return true;
    }
};

class ShellTrayStandInTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (hook)
            FreeLibrary(hook);
        StopShellTray();
    }
    HMODULE hook = NULL;
};

// The hook, loaded into this program, reports our own calls, whose fields we
// know: the record is read right, answered as a shell would answer it or
// passed on to the real one, and unloading the hook gives the import back.
TEST_F(ShellTrayStandInTest, RecordsAndAnswersWhatShellNotifyIconSends)
{
    ASSERT_TRUE(StartShellTray());
    HWND probe = FindWindowA(TRAY_PROBE_CLASS, NULL);
    char readyName[64];
    sprintf(readyName, TRAY_HOOK_READY_FORMAT, GetCurrentProcessId());
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, readyName);
    hook = LoadLibraryA(TrayHookDll().c_str());
    ASSERT_NE((HMODULE)NULL, hook) << TrayHookDll();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 0)) << "the hook did not take the import's place";
    CloseHandle(ready);

    HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    BYTE andBits[32], xorBits[32];
    memset(andBits, 0x0F, sizeof andBits);
    memset(xorBits, 0xF0, sizeof xorBits);
    HICON icon = CreateIcon(GetModuleHandleA(NULL), 16, 16, 1, 1, andBits, xorBits);

    NOTIFYICONDATAA record;
    ZeroMemory(&record, sizeof record);
    record.cbSize = 88;
    record.hWnd = owner;
    record.uID = 77;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = 0x1234;
    record.hIcon = icon;
    strcpy(record.szTip, "Probe tip");
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &record));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &record));      // already held
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &record));
    record.uFlags = NIF_TIP;
    record.hIcon = NULL;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &record));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &record));   // gone
    RefuseTrayAdds(1);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &record));
    EXPECT_FALSE(TrayHoldsIcon(owner, 77));

    std::vector<TrayCall> calls = TrayCalls();
    ASSERT_EQ(6u, calls.size()) << Describe(calls);
    EXPECT_EQ(std::vector<DWORD>({NIM_ADD, NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_MODIFY, NIM_ADD}), Actions(calls));
    EXPECT_EQ(GetCurrentProcessId(), calls[0].processId);
    EXPECT_EQ(88u, calls[0].size);
    EXPECT_EQ(owner, calls[0].window);
    EXPECT_EQ(77u, calls[0].id);
    EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP), calls[0].flags);
    EXPECT_EQ(0x1234u, calls[0].callbackMessage);
    EXPECT_EQ("Probe tip", calls[0].tooltip);
    EXPECT_TRUE(calls[0].hasIcon);
    EXPECT_EQ(16u, calls[0].iconWidth);
    EXPECT_EQ(16u, calls[0].iconHeight);
    EXPECT_EQ(1u, calls[0].iconBpp);
    EXPECT_EQ((UINT)NIF_TIP, calls[3].flags);
    EXPECT_FALSE(calls[3].hasIcon);
    EXPECT_EQ(0u, calls[3].iconWidth);

    // Passed on, the answers are the real shell's: it, too, refuses a second add.
    ASSERT_TRUE(StartShellTray(TrayMode::PassOn));
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.hIcon = icon;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &record));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &record));
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &record));
    calls = TrayCalls();
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_ADD, NIM_DELETE}), Actions(calls)) << Describe(calls);
    EXPECT_EQ(std::vector<BOOL>({TRUE, FALSE, TRUE}),
              std::vector<BOOL>({calls[0].answer, calls[1].answer, calls[2].answer}));
    EXPECT_EQ(owner, calls[0].window);
    EXPECT_EQ(16u, calls[0].iconWidth);
    EXPECT_FALSE(TrayHoldsIcon(owner, 77));   // the stand-in's table stays out of it

    // Unloaded, the hook reports nothing more; once stopped, no probe is found.
    ASSERT_TRUE(StartShellTray());
    FreeLibrary(hook);
    hook = NULL;
    record.uFlags = NIF_TIP;
    record.hIcon = NULL;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &record));
    EXPECT_EQ(0u, TrayCalls().size()) << Describe(TrayCalls());

    DestroyIcon(icon);
    DestroyWindow(owner);
    StopShellTray();
    EXPECT_FALSE(IsWindow(probe));
    EXPECT_EQ((HWND)NULL, FindWindowA(TRAY_PROBE_CLASS, NULL));
}

TEST_F(TrayIconTest, StartAddsIconWithEmptyTooltipThenSetsTooltip)
{
    ASSERT_TRUE(StartWithCalls());
    std::vector<TrayCall> calls = SettledTrayCalls(2);
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
    ExpectAdd(calls[0], window, pid);
    ExpectRefresh(calls[1], window, pid);
    EXPECT_TRUE(calls[0].answer);
    EXPECT_TRUE(calls[1].answer);
    EXPECT_TRUE(TrayHoldsIcon(window, kIconId));
}

enum class Ending { RemoveOption, QuitCommand, SessionEnd };

TEST_F(TrayIconTest, IconRemovedWhenAgentWindowIsDestroyed)
{
    const struct {
        const char *name;
        Ending how;
    } cases[] = {
        { "second copy with /remove", Ending::RemoveOption },
        { "IDM_QUIT command", Ending::QuitCommand },
        { "end of session", Ending::SessionEnd },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ClearMarkers();
        ASSERT_TRUE(StartWithCalls());
        ASSERT_TRUE(TrayHoldsIcon(window, kIconId)) << Describe(TrayCalls());
        ClearTrayCalls();
        switch (c.how) {
        case Ending::RemoveOption: EXPECT_TRUE(WaitForExit(StartTraymark("/remove"), 10000)); break;
        case Ending::QuitCommand:  PostMessageA(window, WM_COMMAND, kIdmQuit, 0); break;
        case Ending::SessionEnd:   PostMessageA(window, WM_ENDSESSION, TRUE, 0); break;
        }
        ASSERT_TRUE(WaitForExit(agent, 10000));
        // Once the process is gone no call can still be on its way.
        std::vector<TrayCall> calls = TrayCalls();
        ASSERT_EQ(std::vector<DWORD>({NIM_DELETE}), Actions(calls)) << Describe(calls);
        ExpectAgentRecord(calls[0], window, pid);
        EXPECT_FALSE(calls[0].hasIcon);
        EXPECT_TRUE(calls[0].answer);
        EXPECT_FALSE(TrayHoldsIcon(window, kIconId));
    }
}

TEST_F(TrayIconTest, FailedAddIsRetriedOnceThenGivenItsTooltip)
{
    RefuseTrayAdds(1);
    ASSERT_TRUE(StartWithCalls(1));
    // The retry comes from a timer of a few seconds; wait well past two more periods.
    std::vector<TrayCall> calls = RetryCycleCalls();
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
    ExpectAdd(calls[0], window, pid);
    EXPECT_FALSE(calls[0].answer);
    ExpectAdd(calls[1], window, pid);
    EXPECT_TRUE(calls[1].answer);
    ExpectRefresh(calls[2], window, pid);
    EXPECT_TRUE(calls[2].answer);
    EXPECT_TRUE(TrayHoldsIcon(window, kIconId));
    printf("[   info   ] retry arrived %lu ms after the refused add\n",
           (unsigned long)(calls[1].tick - calls[0].tick));
}

TEST_F(TrayIconTest, FailedRetryLeavesIconAbsentUntilTaskbarCreated)
{
    RefuseTrayAdds(2);
    ASSERT_TRUE(StartWithCalls(1));
    std::vector<TrayCall> calls = RetryCycleCalls();
    // The retry's own failure is ignored: the modify follows and no timer again.
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
    ExpectAdd(calls[0], window, pid);
    ExpectAdd(calls[1], window, pid);
    ExpectRefresh(calls[2], window, pid);
    EXPECT_FALSE(calls[2].answer);
    EXPECT_FALSE(TrayHoldsIcon(window, kIconId));

    // A new shell starts the whole cycle again, retry included.
    ClearTrayCalls();
    RefuseTrayAdds(1);
    PostMessageA(window, TaskbarCreatedMessage(), 0, 0);
    calls = RetryCycleCalls();
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
    EXPECT_FALSE(calls[0].answer);
    ExpectAdd(calls[1], window, pid);
    EXPECT_TRUE(calls[1].answer);
    ExpectRefresh(calls[2], window, pid);
    EXPECT_TRUE(TrayHoldsIcon(window, kIconId));
}

TEST_F(TrayIconTest, TaskbarCreatedAddsIconAgain)
{
    ASSERT_TRUE(StartWithCalls());
    ASSERT_EQ(2u, SettledTrayCalls(2).size());
    for (int restart = 1; restart <= 2; restart++) {
        SCOPED_TRACE(restart);
        // A restarted shell has forgotten every icon before it broadcasts.
        ForgetTrayIcons();
        ClearTrayCalls();
        PostMessageA(window, TaskbarCreatedMessage(), 0, 0);
        std::vector<TrayCall> calls = SettledTrayCalls(2);
        ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
        ExpectAdd(calls[0], window, pid);
        EXPECT_TRUE(calls[0].answer);
        ExpectRefresh(calls[1], window, pid);
        EXPECT_TRUE(TrayHoldsIcon(window, kIconId));
    }
}

// A relay trace of the next agent started, of the named functions only, read
// back from where it goes: Wine writes it to the standard error the agent
// inherits from this program, a file when the lanes run us.
class RelayTrace {
public:
    explicit RelayTrace(const char *functions)
    {
        SetString(HKEY_CURRENT_USER, kDebugKey, "RelayInclude", functions);
        GetEnvironmentVariableA("WINEDEBUG", saved_, sizeof saved_);
        SetEnvironmentVariableA("WINEDEBUG", "+pid,+relay");
        file_ = CreateFileA("Z:\\proc\\self\\fd\\2", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
        if (file_ != INVALID_HANDLE_VALUE && GetFileType(file_) == FILE_TYPE_DISK)
            start_ = GetFileSize(file_, NULL);
        else
            start_ = INVALID_FILE_SIZE;
    }
    ~RelayTrace()
    {
        Started();
        DeleteValue(HKEY_CURRENT_USER, kDebugKey, "RelayInclude");
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    // Processes started from now on are not traced.
    void Started() { SetEnvironmentVariableA("WINEDEBUG", saved_[0] ? saved_ : NULL); }
    bool Readable() const { return start_ != INVALID_FILE_SIZE; }
    // The trace's lines of process `pid` that contain `text`.
    std::vector<std::string> Lines(DWORD pid, const std::string &text)
    {
        std::string all;
        char buffer[4096];
        DWORD got = 0;
        SetFilePointer(file_, (LONG)start_, NULL, FILE_BEGIN);
        while (ReadFile(file_, buffer, sizeof buffer, &got, NULL) && got)
            all.append(buffer, got);
        char prefix[16];
        sprintf(prefix, "%04lx:", (unsigned long)pid);
        std::vector<std::string> found;
        for (size_t at = 0; at < all.size();) {
            size_t end = all.find('\n', at);
            std::string line = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (line.compare(0, strlen(prefix), prefix) == 0 && line.find(text) != std::string::npos)
                found.push_back(line);
            at = end == std::string::npos ? all.size() : end + 1;
        }
        return found;
    }

private:
    static constexpr const char *kDebugKey = "Software\\Wine\\Debug";
    char saved_[256] = "";
    HANDLE file_;
    DWORD start_;
};

// Where the message filter exists (Vista on), the shell's broadcast is let
// through it, so an agent started elevated gets its icon back as well. Wine
// filters nothing, so only the call itself can be seen.
TEST_F(TrayIconTest, TaskbarCreatedIsLetThroughTheMessageFilter)
{
    RelayTrace trace("user32.ChangeWindowMessageFilter");
    if (!trace.Readable())
        GTEST_SKIP() << "standard error is not a file here, so the agent's trace cannot be read back";
    ASSERT_TRUE(StartWithCalls());
    trace.Started();

    char call[96];
    sprintf(call, "Call user32.ChangeWindowMessageFilter(%08x,00000001)", TaskbarCreatedMessage());
    std::vector<std::string> calls;
    WaitUntil([&] { calls = trace.Lines(pid, "Call user32.ChangeWindowMessageFilter("); return !calls.empty(); }, 1000);
    ASSERT_EQ(1u, calls.size()) << ::testing::PrintToString(calls);
    EXPECT_NE(std::string::npos, calls[0].find(call)) << calls[0];
}

TEST_F(TrayIconTest, ColourAndThemeChangesRefreshIconOnce)
{
    ASSERT_TRUE(StartWithCalls());
    ASSERT_EQ(2u, SettledTrayCalls(2).size());
    const struct {
        const char *name;
        UINT message;
    } changes[] = {
        { "WM_SYSCOLORCHANGE", WM_SYSCOLORCHANGE },
        { "WM_THEMECHANGED", WM_THEMECHANGED },
    };
    for (const auto &change : changes) {
        SCOPED_TRACE(change.name);
        ClearTrayCalls();
        PostMessageA(window, change.message, 0, 0);
        std::vector<TrayCall> calls = SettledTrayCalls(1);
        ASSERT_EQ(std::vector<DWORD>({NIM_MODIFY}), Actions(calls)) << Describe(calls);
        ExpectRefresh(calls[0], window, pid);
        EXPECT_TRUE(calls[0].answer);
    }
}

TEST_F(TrayIconTest, EveryWindowsVersionHandsTheShellASmallIcon)
{
    // Windows 98 and 2000 get the 16-colour image, Me and XP the full-colour
    // one. Wine ignores that choice (both loads give the same 32-bit picture),
    // so here only the picture's presence and size can be checked.
    const char *versions[] = { "win98", "win2k", "winme", "winxp" };
    for (const char *version : versions) {
        SCOPED_TRACE(version);
        ClearMarkers();
        ClearTrayCalls();
        SetWindowsVersion(version);
        ASSERT_TRUE(StartWithCalls());
        std::vector<TrayCall> calls = SettledTrayCalls(2);
        ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
        ExpectAdd(calls[0], window, pid);
        ExpectRefresh(calls[1], window, pid);
        EXPECT_TRUE(WaitForExit(StartTraymark("/remove"), 10000));
        EXPECT_TRUE(WaitForExit(agent, 10000));
    }
}

class RealTrayTest : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        StopShellTray();
        InstallCorvex();
        HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
        DWORD trayPid = 0;
        GetWindowThreadProcessId(tray, &trayPid);
        ASSERT_TRUE(tray && trayPid != GetCurrentProcessId()) << "no real tray to ask";
        ASSERT_TRUE(StartShellTray(TrayMode::PassOn));
    }
    void TearDown() override
    {
        AgentTest::TearDown();
        StopShellTray();
    }
};

// The real shell answers the agent's own calls: it takes the icon, knows it
// only under its identifier, and gives it up on the agent's delete. Wine's
// tray also drops the icons of a window that is gone, so it is the delete's
// answer that shows the agent removed its icon itself.
TEST_F(RealTrayTest, ShellHoldsIconOnlyWhileAgentRuns)
{
    ASSERT_TRUE(Start());
    std::vector<TrayCall> calls = SettledTrayCalls(2);
    ASSERT_EQ(std::vector<DWORD>({NIM_ADD, NIM_MODIFY}), Actions(calls)) << Describe(calls);
    ExpectAdd(calls[0], window, pid);
    EXPECT_TRUE(calls[0].answer);
    ExpectRefresh(calls[1], window, pid);
    EXPECT_TRUE(calls[1].answer);
    EXPECT_TRUE(RealTrayKnows(window, kIconId));
    EXPECT_FALSE(RealTrayKnows(window, kIconId + 1));

    ClearTrayCalls();
    EXPECT_TRUE(WaitForExit(StartTraymark("/remove"), 10000));
    ASSERT_TRUE(WaitForExit(agent, 10000));
    calls = TrayCalls();
    ASSERT_EQ(std::vector<DWORD>({NIM_DELETE}), Actions(calls)) << Describe(calls);
    ExpectAgentRecord(calls[0], window, pid);
    EXPECT_TRUE(calls[0].answer);
    EXPECT_FALSE(RealTrayKnows(window, kIconId));
}

}  // namespace
