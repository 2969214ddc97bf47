/* The hidden agent window: receives every event and doubles as the About box. */
#ifndef TRAYMARK_AGENT_WINDOW_H
#define TRAYMARK_AGENT_WINDOW_H

#include <windows.h>

#define VERSION_LINE "Corvex\xAE Traymark 8.1  (4319)"
/* The dialog class every dialog-template window gets; the caption is the template's. */
#define AGENT_WINDOW_CLASS "#32770"

INT_PTR CALLBACK AgentWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
/* Non-zero when hwnd is a live agent window, of this or another process. */
int IsAgentWindow(HWND hwnd);

#endif
