#ifndef TRAYMARK_LAUNCHER_H
#define TRAYMARK_LAUNCHER_H

#include <windows.h>

#define COMMAND_LINE_SIZE 784

/* Builds the Corvex command line; exposed for tests. */
void BuildCommandLine(char *buffer, const char *exePath, const char *option, const char *archive);
/* Starts Corvex with at most one of option and archive (either may be NULL or empty). */
void LaunchMainApp(HWND owner, const char *option, const char *archive);

#endif
