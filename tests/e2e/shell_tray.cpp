#include "tests/e2e/shell_tray.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

namespace driver {

// The record Wine 8.0's shell32 sends (checked against what it really sends
// by the stand-in's own test): every field is 32-bit aligned, 960 bytes.
struct WineNotifyRecord {
    LONG window;
    UINT id;
    UINT flags;
    UINT callbackMessage;
    WCHAR tip[128];
    DWORD state;
    DWORD stateMask;
    WCHAR info[256];
    UINT timeoutOrVersion;
    WCHAR infoTitle[64];
    DWORD infoFlags;
    GUID guidItem;
    UINT iconWidth;
    UINT iconHeight;
    UINT iconPlanes;
    UINT iconBpp;
};
static_assert(sizeof(WineNotifyRecord) == 960, "Wine's tray record is 960 bytes");

static const wchar_t kTrayClass[] = L"Shell_TrayWnd";

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
static HWND g_window;
static HANDLE g_thread;
static DWORD g_threadId;
static HANDLE g_ready;

static std::string ToAnsi(const WCHAR *text, size_t limit)
{
    size_t length = 0;
    while (length < limit && text[length])
        length++;
    if (!length)
        return std::string();
    char buffer[512];
    int n = WideCharToMultiByte(CP_ACP, 0, text, (int)length, buffer, sizeof buffer, NULL, NULL);
    return std::string(buffer, n > 0 ? n : 0);
}

static bool ParseRecord(const COPYDATASTRUCT *cds, HWND sender, TrayCall *call)
{
    if (!cds->lpData || cds->cbData < sizeof(WineNotifyRecord))
        return false;
    const WineNotifyRecord *record = (const WineNotifyRecord *)cds->lpData;
    call->action = (DWORD)cds->dwData;
    call->tick = GetTickCount();
    call->sender = sender;
    call->window = (HWND)(LONG_PTR)record->window;
    call->id = record->id;
    call->flags = record->flags;
    call->callbackMessage = record->callbackMessage;
    call->tooltip = ToAnsi(record->tip, 128);
    // The bits follow the record only when an icon could be read.
    call->hasIcon = cds->cbData > sizeof(WineNotifyRecord) && record->iconWidth != 0;
    if (call->hasIcon) {
        call->iconWidth = record->iconWidth;
        call->iconHeight = record->iconHeight;
        call->iconBpp = record->iconBpp;
    }
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

static LRESULT CALLBACK TrayProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        TrayCall call;
        if (!ParseRecord((const COPYDATASTRUCT *)lParam, (HWND)wParam, &call))
            return FALSE;
        EnterCriticalSection(TrayLock());
        call.answer = Answer(call);
        g_calls.push_back(call);
        LeaveCriticalSection(TrayLock());
        return call.answer;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

static DWORD WINAPI TrayThread(LPVOID)
{
    WNDCLASSW wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = TrayProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = kTrayClass;
    RegisterClassW(&wc);
    // Topmost and newest: ahead of the real tray in the order FindWindow walks.
    g_window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kTrayClass, L"", WS_POPUP, 0, 0, 1, 1, NULL,
                               NULL, wc.hInstance, NULL);
    MSG msg;
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);   // the queue exists before we say ready
    SetEvent(g_ready);
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    DestroyWindow(g_window);
    g_window = NULL;
    UnregisterClassW(kTrayClass, wc.hInstance);
    return 0;
}

bool StartShellTray()
{
    if (!g_thread) {
        g_ready = CreateEventA(NULL, TRUE, FALSE, NULL);
        g_thread = CreateThread(NULL, 0, TrayThread, NULL, 0, &g_threadId);
        WaitForSingleObject(g_ready, 5000);
        CloseHandle(g_ready);
    }
    EnterCriticalSection(TrayLock());
    g_calls.clear();
    g_icons.clear();
    g_refusedAdds = 0;
    LeaveCriticalSection(TrayLock());
    return g_window && FindWindowW(kTrayClass, NULL) == g_window;
}

void StopShellTray()
{
    if (!g_thread)
        return;
    PostThreadMessageA(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_thread, 5000);
    CloseHandle(g_thread);
    g_thread = NULL;
}

HWND ShellTrayWindow() { return g_window; }

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
    ASSERT_TRUE(StartShellTray()) << "the stand-in tray is not the one FindWindow finds";
}

void ShellTrayTest::TearDown()
{
    AgentTest::TearDown();
    StopShellTray();
}

}  // namespace driver
