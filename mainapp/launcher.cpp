#include <windows.h>

#include "base/agent_state.h"
#include "base/text_ops.h"
#include "mainapp/launcher.h"
#include "mainapp/locator.h"

void BuildCommandLine(char *buffer, const char *exePath, const char *option, const char *archive)
{
    /* Quoted, or "C:\Program Files\..." would first be tried as C:\Program.exe. */
    lstrcpyA(buffer, "\"");
    AppendTextBounded(buffer, exePath, COMMAND_LINE_SIZE);
    AppendTextBounded(buffer, "\"", COMMAND_LINE_SIZE);
    if (option && *option) {
        AppendTextBounded(buffer, " ", COMMAND_LINE_SIZE);
        AppendTextBounded(buffer, option, COMMAND_LINE_SIZE);
    }
    if (archive && *archive) {
        AppendTextBounded(buffer, " \"", COMMAND_LINE_SIZE);
        AppendTextBounded(buffer, archive, COMMAND_LINE_SIZE);
        AppendTextBounded(buffer, "\"", COMMAND_LINE_SIZE);
    }
}

void LaunchMainApp(HWND owner, const char *option, const char *archive)
{
    char exePath[PATH_BUFFER_SIZE];
    char commandLine[COMMAND_LINE_SIZE];
    if (!LocateMainApp(exePath)) {
        ReportMainAppMissing(owner);
        return;
    }
    BuildCommandLine(commandLine, exePath, option, archive);
    WinExec(commandLine, SW_SHOWNORMAL);
}
