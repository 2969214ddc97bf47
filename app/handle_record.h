/* The agent window's handle, published so that a second copy can reach it. */
#ifndef TRAYMARK_HANDLE_RECORD_H
#define TRAYMARK_HANDLE_RECORD_H

#include <windows.h>

void WriteAgentWindowHandle(HWND hwnd);
LONG ReadAgentWindowHandle(void);
/* Leading signed decimal number of the first `length` bytes of text. */
LONG ParseHandleText(const char *text, DWORD length);

#endif
