/* Finding Corvex and checking that it is recent enough. */
#ifndef TRAYMARK_LOCATOR_H
#define TRAYMARK_LOCATOR_H

#include <windows.h>

int PathExists(const char *path);
/* path: at least PATH_BUFFER_SIZE bytes. */
int LocateMainApp(char *path);
/* Extracts the executable path from an open command; exposed for tests. */
void ExecutablePathFromCommand(const char *command, char *path, int size);
int MainAppVersionOk(void);
int MainAppUsable(void);
void ReportMainAppMissing(HWND owner);

#endif
