// Loaded into traymark.exe before its entry point runs (or into the test
// program itself), this takes the place of Shell_NotifyIconA in the main
// program's import table. Each call is reported to the test's probe window
// before it is made; the reply either stands for the shell's answer, or asks
// for the real call, whose result is reported afterwards. With no probe window
// the call goes straight to the shell. It takes GetTickCount's place as well,
// adding the shift the probe names. Unloading puts the imports back.
#include <windows.h>
#include <shellapi.h>

#include "tests/import_table.h"
#include "tests/trayhook/tray_probe.h"

typedef BOOL(WINAPI *NotifyFunction)(DWORD, PNOTIFYICONDATAA);

typedef DWORD(WINAPI *TickFunction)(void);

static NotifyFunction g_shellNotify;
static void **g_importSlot;
static TickFunction g_realTickCount;
static void **g_tickSlot;

// The first slot the loader filled for `function` of `dll` in the module's import table.
static void **FindImportSlot(HMODULE module, const char *dll, const char *function)
{
    void **first = NULL;
    VisitImportSlots(module, dll, function, [&](void **slot) {
        if (!first)
            first = slot;
    });
    return first;
}

static void ReadIcon(HICON icon, TrayProbeRecord *record)
{
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return;
    BITMAP bitmap;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bitmap, &bitmap)) {
        record->iconWidth = bitmap.bmWidth;
        record->iconHeight = bitmap.bmHeight;
        record->iconBpp = bitmap.bmBitsPixel * bitmap.bmPlanes;
    } else if (!info.hbmColor && info.hbmMask && GetObjectA(info.hbmMask, sizeof bitmap, &bitmap)) {
        // A monochrome icon keeps its AND and XOR masks one above the other.
        record->iconWidth = bitmap.bmWidth;
        record->iconHeight = bitmap.bmHeight / 2;
        record->iconBpp = 1;
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
}

static void FillRecord(DWORD action, const NOTIFYICONDATAA *data, TrayProbeRecord *record)
{
    ZeroMemory(record, sizeof *record);
    record->action = action;
    record->processId = GetCurrentProcessId();
    if (!data)
        return;
    record->size = data->cbSize;
    record->window = (DWORD)(UINT_PTR)data->hWnd;
    record->id = data->uID;
    record->flags = data->uFlags;
    record->callbackMessage = data->uCallbackMessage;
    record->icon = (DWORD)(UINT_PTR)data->hIcon;
    // The 88-byte form ends its tooltip after 64 bytes; later forms have 128.
    size_t tipBytes = data->cbSize > 88 ? 128 : 64;
    memcpy(record->tip, data->szTip, tipBytes);
    record->tip[tipBytes - 1] = 0;
    ReadIcon(data->hIcon, record);
}

static bool Report(HWND probe, DWORD kind, TrayProbeRecord *record, DWORD_PTR *reply)
{
    COPYDATASTRUCT message = { kind, sizeof *record, record };
    return SendMessageTimeoutA(probe, WM_COPYDATA, (WPARAM)(UINT_PTR)record->window, (LPARAM)&message,
                               SMTO_NORMAL, 10000, reply) != 0;
}

static BOOL WINAPI ReportedNotify(DWORD action, PNOTIFYICONDATAA data)
{
    DWORD error = GetLastError();
    HWND probe = FindWindowA(TRAY_PROBE_CLASS, NULL);
    SetLastError(error);
    if (!probe)
        return g_shellNotify(action, data);
    TrayProbeRecord record;
    FillRecord(action, data, &record);
    DWORD_PTR reply = TRAY_PROBE_PASS_ON;
    if (!Report(probe, TRAY_PROBE_CALL, &record, &reply))
        reply = TRAY_PROBE_PASS_ON;   // a probe that does not answer sees nothing
    if (reply != TRAY_PROBE_PASS_ON)
        return reply ? TRUE : FALSE;
    BOOL result = g_shellNotify(action, data);
    error = GetLastError();
    record.result = result;
    Report(probe, TRAY_PROBE_RESULT, &record, &reply);
    SetLastError(error);
    return result;
}

static DWORD WINAPI ShiftedTickCount()
{
    DWORD now = g_realTickCount();
    DWORD error = GetLastError();
    HWND probe = FindWindowA(TRAY_PROBE_CLASS, NULL);
    DWORD_PTR shift = 0;
    if (!probe || !SendMessageTimeoutA(probe, TRAY_PROBE_TICK_SHIFT, now, 0, SMTO_NORMAL, 10000, &shift))
        shift = 0;
    SetLastError(error);
    return now + (DWORD)shift;
}

// Found by name in the import table, so a program with its own entry point is served too.
static void TakeTickCount(HMODULE module)
{
    g_tickSlot = FindImportSlot(module, "kernel32.dll", "GetTickCount");
    if (!g_tickSlot)
        return;
    g_realTickCount = (TickFunction)*g_tickSlot;
    if (!WriteImportSlot(g_tickSlot, (void *)ShiftedTickCount))
        g_tickSlot = NULL;
}

static void SayReady()
{
    char name[64];
    wsprintfA(name, TRAY_HOOK_READY_FORMAT, GetCurrentProcessId());
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        TakeTickCount(GetModuleHandleA(NULL));
        g_importSlot = FindImportSlot(GetModuleHandleA(NULL), "shell32.dll", "Shell_NotifyIconA");
        if (!g_importSlot)
            return TRUE;   // nothing to take over: the starter sees no ready signal
        g_shellNotify = (NotifyFunction)*g_importSlot;
        if (WriteImportSlot(g_importSlot, (void *)ReportedNotify))
            SayReady();
        else
            g_importSlot = NULL;
    } else if (reason == DLL_PROCESS_DETACH && !reserved && g_importSlot) {
        // Unloaded while the program goes on: its calls reach the shell directly again.
        WriteImportSlot(g_importSlot, (void *)g_shellNotify);
    }
    if (reason == DLL_PROCESS_DETACH && !reserved && g_tickSlot)
        WriteImportSlot(g_tickSlot, (void *)g_realTickCount);
    return TRUE;
}
