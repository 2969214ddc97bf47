/* String table access and the agent's message boxes. */
#ifndef TRAYMARK_MESSAGES_H
#define TRAYMARK_MESSAGES_H

#include <windows.h>

int LoadText(UINT id, const char *fallback, char *buffer, int size);
void ShowAgentMessage(HWND owner, const char *text);
/* Fills buffer (MAX_PATH bytes) with the Startup folder; leaves it untouched on failure. */
int StartupFolderPath(char *buffer);
/* Formats a string-table message around the Startup folder and shows it. */
void ShowStartupFolderMessage(HWND owner, UINT id, const char *fallback);

#endif
