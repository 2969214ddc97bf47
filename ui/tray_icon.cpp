#include <windows.h>
#include <shellapi.h>

#include "base/agent_state.h"
#include "base/text_ops.h"
#include "res/resource.h"
#include "ui/tray_icon.h"

static const TrayIconSlot kTrayIcons[] = {
    { TRAY_ICON_ID, IDS_TITLE },
};

void FillTrayRecord(NOTIFYICONDATAA *record, HWND window, UINT identifier, HICON icon,
                    const char *tooltip)
{
    ZeroMemory(record, sizeof *record);
    record->cbSize = TRAY_RECORD_SIZE;
    record->hWnd = window;
    record->uID = identifier;
    /* One record form serves every action; the shell ignores the rest on a delete. */
    record->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record->uCallbackMessage = WM_TRAYNOTIFY;
    record->hIcon = icon;
    if (tooltip)
        CopyTextBounded(record->szTip, tooltip, 64);
}

BOOL TrayNotify(HWND window, DWORD action, UINT identifier, HICON icon, const char *tooltip)
{
    NOTIFYICONDATAA record;
    FillTrayRecord(&record, window, identifier, icon, tooltip);
    BOOL result = Shell_NotifyIconA(action, &record);
    /* The shell keeps its own copy of the picture. */
    if (icon)
        DestroyIcon(icon);
    return result;
}

HICON LoadTrayIcon(void)
{
    /* Windows 98 and 2000 trays draw anything above 16 colours badly. */
    UINT colour = (AgentState.isMe || AgentState.isXPClass) ? LR_DEFAULTCOLOR : LR_VGACOLOR;
    return (HICON)LoadImageA(AgentState.hInstance, MAKEINTRESOURCEA(IDI_TRAYMARK), IMAGE_ICON, 16, 16,
                             colour);
}

void RefreshTrayIcon(HWND window, int index)
{
    char tooltip[64];
    if (!LoadStringA(AgentState.hInstance, kTrayIcons[index].tooltipString, tooltip, sizeof tooltip))
        tooltip[0] = 0;
    TrayNotify(window, NIM_MODIFY, kTrayIcons[index].identifier, LoadTrayIcon(), tooltip);
}

void AddTrayIcon(HWND window, int index)
{
    if (TrayNotify(window, NIM_ADD, kTrayIcons[index].identifier, LoadTrayIcon(), ""))
        RefreshTrayIcon(window, index);
    else
        SetTimer(window, TRAY_RETRY_TIMER, TRAY_RETRY_DELAY, NULL);
}

void ReAddTrayIcon(HWND window, int index)
{
    TrayNotify(window, NIM_ADD, kTrayIcons[index].identifier, LoadTrayIcon(), "");
    RefreshTrayIcon(window, index);
}

void RemoveTrayIcon(HWND window, int index)
{
    TrayNotify(window, NIM_DELETE, kTrayIcons[index].identifier, NULL, NULL);
}

void OnTrayRetryTimer(HWND window, UINT_PTR timer)
{
    KillTimer(window, timer);
    ReAddTrayIcon(window, 0);
}
