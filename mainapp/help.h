/* Corvex's help files, opened in the platform help viewer. */
#ifndef TRAYMARK_HELP_H
#define TRAYMARK_HELP_H

#include <windows.h>

#define HELP_PATH_SIZE 524

int IsClassicMode(void);
/* path: at least 273 bytes. */
int LocateHelpFile(char *path);
void RequestHelp(HWND owner, DWORD topic, int quit);
/* Closes the help viewer on the unattended quit paths; silent when the file is missing. */
void QuitHelpQuietly(HWND owner);
void ReportHelpMissing(HWND owner);

#endif
