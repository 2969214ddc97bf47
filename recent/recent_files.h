/* Corvex's recently used archives at the top of the tray menu. */
#ifndef TRAYMARK_RECENT_FILES_H
#define TRAYMARK_RECENT_FILES_H

#include <windows.h>

#define RECENT_VALUE_COUNT 15
#define RECENT_SHOWN_MAX 10

void BuildRecentFileItems(HMENU menu);
int ShouldListRecentFile(const char *path);
void ReadRecentFile(int n, char *buffer, DWORD limit);
void OnRecentFileCommand(HWND window, UINT command);

#endif
