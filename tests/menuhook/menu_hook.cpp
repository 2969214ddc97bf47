// Loaded into traymark.exe before its entry point runs, this takes the place
// of TrackPopupMenuEx in the main program's import table: before a menu shows,
// its item texts are sent to the test's probe window; then the menu is shown.
#include <windows.h>

#include "tests/import_table.h"
#include "tests/menuhook/menu_probe.h"

typedef BOOL(WINAPI *TrackFunction)(HMENU, UINT, int, int, HWND, LPTPMPARAMS);

static TrackFunction g_track;

static void ReportItems(HMENU menu)
{
    HWND probe = FindWindowA(MENU_PROBE_CLASS, NULL);
    if (!probe)
        return;
    static WCHAR texts[8192];
    int used = 0;
    for (int i = 0; i < GetMenuItemCount(menu) && used < 8192 - 600; i++) {
        int n = GetMenuStringW(menu, i, texts + used, 600, MF_BYPOSITION);
        used += n > 0 ? n + 1 : 1;
        texts[used - 1] = 0;
    }
    COPYDATASTRUCT message = { MENU_PROBE_ITEMS, (DWORD)(used * sizeof(WCHAR)), texts };
    DWORD_PTR reply;
    SendMessageTimeoutA(probe, WM_COPYDATA, 0, (LPARAM)&message, SMTO_NORMAL, 10000, &reply);
}

static BOOL WINAPI ReportedTrack(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params)
{
    DWORD error = GetLastError();
    ReportItems(menu);
    SetLastError(error);
    return g_track(menu, flags, x, y, owner, params);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    DisableThreadLibraryCalls(instance);
    void **slot = NULL;
    VisitImportSlots(GetModuleHandleA(NULL), "user32.dll", "TrackPopupMenuEx", [&](void **found) {
        if (!slot)
            slot = found;
    });
    if (!slot)
        return TRUE;   // nothing to take over: the starter sees no ready signal
    g_track = (TrackFunction)*slot;
    if (WriteImportSlot(slot, (void *)ReportedTrack)) {
        char name[64];
        wsprintfA(name, MENU_HOOK_READY_FORMAT, GetCurrentProcessId());
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    return TRUE;
}
