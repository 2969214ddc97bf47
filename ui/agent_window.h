/* The hidden agent window: receives every event and doubles as the About box. */
#ifndef TRAYMARK_AGENT_WINDOW_H
#define TRAYMARK_AGENT_WINDOW_H

#include <windows.h>

#define VERSION_LINE "Corvex\xAE Traymark 8.1  (4319)"

INT_PTR CALLBACK AgentWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

#endif
