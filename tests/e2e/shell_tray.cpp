#include "tests/e2e/shell_tray.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "tests/e2e/hook_probe.h"
#include "tests/trayhook/tray_probe.h"

namespace driver {

static CRITICAL_SECTION g_lockStorage;

static CRITICAL_SECTION *TrayLock()
{
    static bool initialised = false;
    if (!initialised) {
        InitializeCriticalSection(&g_lockStorage);
        initialised = true;
    }
    return &g_lockStorage;
}

static std::vector<TrayCall> g_calls;
static std::vector<std::pair<HWND, UINT>> g_icons;
static int g_refusedAdds;
static TrayMode g_mode;
// What a hooked program's GetTickCount reads while g_tickFrozen is set.
static volatile LONG g_tickFrozen;
static volatile LONG g_tickReads;

static bool ReadRecord(const COPYDATASTRUCT *cds, TrayCall *call)
{
    if (!cds->lpData || cds->cbData != sizeof(TrayProbeRecord))
        return false;
    const TrayProbeRecord *record = (const TrayProbeRecord *)cds->lpData;
    call->action = record->action;
    call->tick = GetTickCount();
    call->processId = record->processId;
    call->size = record->size;
    call->window = (HWND)(UINT_PTR)record->window;
    call->id = record->id;
    call->flags = record->flags;
    call->callbackMessage = record->callbackMessage;
    call->tooltip.assign(record->tip, strnlen(record->tip, sizeof record->tip));
    call->hasIcon = record->icon != 0;
    call->iconWidth = record->iconWidth;
    call->iconHeight = record->iconHeight;
    call->iconBpp = record->iconBpp;
    call->answer = record->result;
    return true;
}

// Answers the way Wine's own tray does: no duplicate adds, modify and delete
// only for an icon it holds.
static BOOL Answer(const TrayCall &call)
{
    std::pair<HWND, UINT> key(call.window, call.id);
    auto held = std::find(g_icons.begin(), g_icons.end(), key);
    switch (call.action) {
    case NIM_ADD:
        if (g_refusedAdds > 0) {
            g_refusedAdds--;
            return FALSE;
        }
        if (held != g_icons.end())
            return FALSE;
        g_icons.push_back(key);
        return TRUE;
    case NIM_MODIFY:
        return held != g_icons.end();
    case NIM_DELETE:
        if (held == g_icons.end())
            return FALSE;
        g_icons.erase(held);
        return TRUE;
    }
    return FALSE;
}

// A call is recorded once its answer is known: at once as a stand-in, after
// the real shell's answer when passing calls on.
static LRESULT OnReport(const COPYDATASTRUCT *cds)
{
    TrayCall call;
    if (!ReadRecord(cds, &call))
        return FALSE;
    LRESULT reply = TRUE;
    EnterCriticalSection(TrayLock());
    if (cds->dwData == TRAY_PROBE_CALL && g_mode == TrayMode::PassOn) {
        reply = TRAY_PROBE_PASS_ON;
    } else if (cds->dwData == TRAY_PROBE_CALL) {
        call.answer = Answer(call);
        reply = call.answer;
        g_calls.push_back(call);
    } else if (cds->dwData == TRAY_PROBE_RESULT) {
        g_calls.push_back(call);
    }
    LeaveCriticalSection(TrayLock());
    return reply;
}

static LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return OnReport((const COPYDATASTRUCT *)lParam);
    if (message == TRAY_PROBE_TICK_SHIFT)
        return g_tickFrozen ? (LRESULT)((DWORD)g_tickReads - (DWORD)wParam) : 0;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static ProbeWindow g_probe = { TRAY_PROBE_CLASS, ProbeProc };

bool StartShellTray(TrayMode mode)
{
    EnterCriticalSection(TrayLock());
    g_calls.clear();
    g_icons.clear();
    g_refusedAdds = 0;
    g_mode = mode;
    LeaveCriticalSection(TrayLock());
    InterlockedExchange(&g_tickFrozen, 0);
    return StartProbeWindow(&g_probe);
}

void StopShellTray() { StopProbeWindow(&g_probe); }

bool TrayHookWanted() { return g_probe.window != NULL; }

std::string TrayHookDll() { return BuildDir() + "trayhook.dll"; }

bool ResumeWithTrayHook(const PROCESS_INFORMATION &process, std::string *error)
{
    return ResumeWithHook(process, TrayHookDll(), TRAY_HOOK_READY_FORMAT, "Shell_NotifyIconA", error);
}

void SetHookedTickCount(DWORD reads)
{
    InterlockedExchange(&g_tickReads, (LONG)reads);
    InterlockedExchange(&g_tickFrozen, 1);
}

std::vector<TrayCall> TrayCalls()
{
    EnterCriticalSection(TrayLock());
    std::vector<TrayCall> copy = g_calls;
    LeaveCriticalSection(TrayLock());
    return copy;
}

void ClearTrayCalls()
{
    EnterCriticalSection(TrayLock());
    g_calls.clear();
    LeaveCriticalSection(TrayLock());
}

std::vector<TrayCall> WaitForTrayCalls(size_t count, DWORD timeoutMs)
{
    std::vector<TrayCall> seen;
    WaitUntil([&] { seen = TrayCalls(); return seen.size() >= count; }, timeoutMs);
    return seen;
}

std::vector<TrayCall> SettledTrayCalls(size_t count, DWORD timeoutMs, DWORD quietMs)
{
    WaitForTrayCalls(count, timeoutMs);
    Sleep(quietMs);
    return TrayCalls();
}

void RefuseTrayAdds(int count)
{
    EnterCriticalSection(TrayLock());
    g_refusedAdds = count;
    LeaveCriticalSection(TrayLock());
}

void ForgetTrayIcons()
{
    EnterCriticalSection(TrayLock());
    g_icons.clear();
    LeaveCriticalSection(TrayLock());
}

bool TrayHoldsIcon(HWND window, UINT id)
{
    EnterCriticalSection(TrayLock());
    bool held = std::find(g_icons.begin(), g_icons.end(), std::make_pair(window, id)) != g_icons.end();
    LeaveCriticalSection(TrayLock());
    return held;
}

const char *TrayActionName(DWORD action)
{
    switch (action) {
    case NIM_ADD:    return "NIM_ADD";
    case NIM_MODIFY: return "NIM_MODIFY";
    case NIM_DELETE: return "NIM_DELETE";
    }
    return "NIM_other";
}

UINT TaskbarCreatedMessage() { return RegisterWindowMessageA("TaskbarCreated"); }

void ShellTrayTest::SetUp()
{
    AgentTest::SetUp();
    InstallCorvex();
    ASSERT_TRUE(StartShellTray()) << "the tray probe is not the window FindWindow finds";
}

void ShellTrayTest::TearDown()
{
    AgentTest::TearDown();
    StopShellTray();
}

}  // namespace driver
