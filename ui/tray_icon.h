/* The notification-area icon. Every operation takes an index into the icon table. */
#ifndef TRAYMARK_TRAY_ICON_H
#define TRAYMARK_TRAY_ICON_H

#include <windows.h>

#define TRAY_RECORD_SIZE 88     /* the first shell's NOTIFYICONDATAA, understood by all */
#define TRAY_RETRY_TIMER 0
#define TRAY_RETRY_DELAY 2500

struct TrayIconSlot {
    UINT identifier;
    UINT tooltipString;
};

/* Fills the record the shell receives; exposed for tests. */
void FillTrayRecord(NOTIFYICONDATAA *record, HWND window, UINT identifier, HICON icon,
                    const char *tooltip);
BOOL TrayNotify(HWND window, DWORD action, UINT identifier, HICON icon, const char *tooltip);
HICON LoadTrayIcon(void);
void AddTrayIcon(HWND window, int index);
void ReAddTrayIcon(HWND window, int index);
void RefreshTrayIcon(HWND window, int index);
void RemoveTrayIcon(HWND window, int index);
void OnTrayRetryTimer(HWND window, UINT_PTR timer);

#endif
