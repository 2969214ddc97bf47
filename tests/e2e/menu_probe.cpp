#include "tests/e2e/menu_probe.h"

#include "tests/e2e/hook_probe.h"
#include "tests/menuhook/menu_probe.h"

namespace driver {

static CRITICAL_SECTION g_lock;
static std::vector<std::wstring> g_texts;
static bool g_reported;

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

static ProbeWindow g_probe = { MENU_PROBE_CLASS, ProbeProc };
static bool g_lockReady;

bool StartMenuProbe()
{
    if (!g_lockReady) {
        InitializeCriticalSection(&g_lock);
        g_lockReady = true;
    }
    g_reported = false;
    return StartProbeWindow(&g_probe);
}

void StopMenuProbe() { StopProbeWindow(&g_probe); }

bool MenuHookWanted() { return g_probe.window != NULL; }

bool ResumeWithMenuHook(const PROCESS_INFORMATION &process, std::string *error)
{
    return ResumeWithHook(process, BuildDir() + "menuhook.dll", MENU_HOOK_READY_FORMAT, "TrackPopupMenuEx", error);
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
