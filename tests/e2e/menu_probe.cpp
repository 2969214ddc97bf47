#include "tests/e2e/menu_probe.h"

#include "tests/e2e/inject.h"
#include "tests/menuhook/menu_probe.h"

namespace driver {

static CRITICAL_SECTION g_lock;
static std::vector<std::wstring> g_texts;
static bool g_reported;
static HWND g_window;
static HANDLE g_thread;
static DWORD g_threadId;
static HANDLE g_ready;

static LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const COPYDATASTRUCT *cds = (const COPYDATASTRUCT *)lParam;
    if (message != WM_COPYDATA || cds->dwData != MENU_PROBE_ITEMS)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    std::vector<std::wstring> texts;
    const WCHAR *p = (const WCHAR *)cds->lpData;
    const WCHAR *end = p + cds->cbData / sizeof(WCHAR);
    while (p < end) {
        std::wstring text(p);
        p += text.size() + 1;
        texts.push_back(text);
    }
    EnterCriticalSection(&g_lock);
    g_texts = texts;
    g_reported = true;
    LeaveCriticalSection(&g_lock);
    return TRUE;
}

static DWORD WINAPI ProbeThread(LPVOID)
{
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = MENU_PROBE_CLASS;
    RegisterClassA(&wc);
    g_window = CreateWindowExA(WS_EX_TOOLWINDOW, MENU_PROBE_CLASS, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                               wc.hInstance, NULL);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);   // the queue exists before we say ready
    SetEvent(g_ready);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(g_window);
    g_window = NULL;
    UnregisterClassA(MENU_PROBE_CLASS, wc.hInstance);
    return 0;
}

bool StartMenuProbe()
{
    if (!g_thread) {
        InitializeCriticalSection(&g_lock);
        g_ready = CreateEventA(NULL, TRUE, FALSE, NULL);
        g_thread = CreateThread(NULL, 0, ProbeThread, NULL, 0, &g_threadId);
        WaitForSingleObject(g_ready, ScaledMs(5000));
        CloseHandle(g_ready);
    }
    g_reported = false;
    return g_window && FindWindowA(MENU_PROBE_CLASS, NULL) == g_window;
}

void StopMenuProbe()
{
    if (!g_thread)
        return;
    PostThreadMessageA(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_thread, ScaledMs(5000));
    CloseHandle(g_thread);
    g_thread = NULL;
    DeleteCriticalSection(&g_lock);
}

bool MenuHookWanted() { return g_window != NULL; }

bool ResumeWithMenuHook(const PROCESS_INFORMATION &process, std::string *error)
{
    char name[64];
    wsprintfA(name, MENU_HOOK_READY_FORMAT, process.dwProcessId);
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, name);
    bool loaded = ready && LoadBeforeEntry(process.hProcess, BuildDir() + "menuhook.dll", error);
    ResumeThread(process.hThread);
    HANDLE either[] = { ready, process.hProcess };
    bool hooked = loaded && WaitForMultipleObjects(2, either, FALSE, ScaledMs(10000)) != WAIT_TIMEOUT &&
                  WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
    if (loaded && !hooked)
        *error = "the hook did not take TrackPopupMenuEx's place";
    if (ready)
        CloseHandle(ready);
    return hooked;
}

std::vector<std::wstring> WaitForMenuTexts(DWORD timeoutMs)
{
    std::vector<std::wstring> texts;
    WaitUntil([&] {
        EnterCriticalSection(&g_lock);
        bool done = g_reported;
        texts = g_texts;
        LeaveCriticalSection(&g_lock);
        return done;
    }, timeoutMs);
    return texts;
}

}  // namespace driver
