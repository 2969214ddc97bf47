/* The hidden agent window: receives every event and doubles as the About box. */
#ifndef TRAYMARK_AGENT_WINDOW_H
#define TRAYMARK_AGENT_WINDOW_H

#include <windows.h>

/* The version line: wide for the NT family; in ANSI, the byte 0xAE is the
   registered sign only where the code page says so (not in 874, 932, 936,
   949 or 950), and "(R)" stands in for it elsewhere. */
#define VERSION_LINE_WIDE L"Corvex\u00AE Traymark 8.1  (4319)"
#define VERSION_LINE_SIGN_BYTE "Corvex\xAE Traymark 8.1  (4319)"
#define VERSION_LINE_PLAIN "Corvex(R) Traymark 8.1  (4319)"
/* The dialog class every dialog-template window gets; the caption is the template's. */
#define AGENT_WINDOW_CLASS "#32770"

INT_PTR CALLBACK AgentWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
/* Non-zero when hwnd is a live agent window, of this or another process. */
int IsAgentWindow(HWND hwnd);

#endif
