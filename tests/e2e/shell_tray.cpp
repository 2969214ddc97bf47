#include "tests/e2e/shell_tray.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "tests/e2e/inject.h"
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
static HWND g_window;
static HANDLE g_thread;
static DWORD g_threadId;
static HANDLE g_ready;
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

static DWORD WINAPI ProbeThread(LPVOID)
{
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = TRAY_PROBE_CLASS;
    RegisterClassA(&wc);
    g_window = CreateWindowExA(WS_EX_TOOLWINDOW, TRAY_PROBE_CLASS, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                               wc.hInstance, NULL);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);   // the queue exists before we say ready
    SetEvent(g_ready);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(g_window);
    g_window = NULL;
    UnregisterClassA(TRAY_PROBE_CLASS, wc.hInstance);
    return 0;
}

bool StartShellTray(TrayMode mode)
{
    if (!g_thread) {
        g_ready = CreateEventA(NULL, TRUE, FALSE, NULL);
        g_thread = CreateThread(NULL, 0, ProbeThread, NULL, 0, &g_threadId);
        WaitForSingleObject(g_ready, ScaledMs(5000));
        CloseHandle(g_ready);
    }
    EnterCriticalSection(TrayLock());
    g_calls.clear();
    g_icons.clear();
    g_refusedAdds = 0;
    g_mode = mode;
    LeaveCriticalSection(TrayLock());
    InterlockedExchange(&g_tickFrozen, 0);
    return g_window && FindWindowA(TRAY_PROBE_CLASS, NULL) == g_window;
}

void StopShellTray()
{
    if (!g_thread)
        return;
    PostThreadMessageA(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_thread, ScaledMs(5000));
    CloseHandle(g_thread);
    g_thread = NULL;
}

bool TrayHookWanted() { return g_window != NULL; }

std::string TrayHookDll() { return BuildDir() + "trayhook.dll"; }

bool ResumeWithTrayHook(const PROCESS_INFORMATION &process, std::string *error)
{
    char name[64];
    wsprintfA(name, TRAY_HOOK_READY_FORMAT, process.dwProcessId);
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, name);
    bool loaded = ready && LoadBeforeEntry(process.hProcess, TrayHookDll(), error);
    ResumeThread(process.hThread);
    HANDLE either[] = { ready, process.hProcess };
    bool hooked = loaded && WaitForMultipleObjects(2, either, FALSE, ScaledMs(10000)) != WAIT_TIMEOUT &&
                  WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
    if (loaded && !hooked)
        *error = "the hook did not take Shell_NotifyIconA's place";
    if (ready)
        CloseHandle(ready);
    return hooked;
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
