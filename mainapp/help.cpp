#include <windows.h>

#include "base/agent_state.h"
#include "base/messages.h"
#include "base/registry_keys.h"
#include "base/registry_text.h"
#include "base/text_ops.h"
#include "mainapp/help.h"
#include "mainapp/locator.h"
#include "res/resource.h"

int IsClassicMode(void)
{
    char mode[7];
    int read = ReadRegText(HKEY_CURRENT_USER, CORVEX_SETTINGS_KEY, "Wizard", mode, sizeof mode);
    return !(read == REG_TEXT_READ && mode[0] == '1');
}

int LocateHelpFile(char *path)
{
    if (!LocateMainApp(path))
        return 0;
    char *backslash = FindLastChar(path, '\\');
    if (backslash == path)
        return 0;
    backslash[1] = 0;
    lstrcatA(path, IsClassicMode() ? "corvex.hlp" : "cxwizard.hlp");
    return PathExists(path);
}

void RequestHelp(HWND owner, DWORD topic, int quit)
{
    char path[HELP_PATH_SIZE];
    if (!LocateHelpFile(path)) {
        ReportHelpMissing(owner);
        return;
    }
    if (quit)
        WinHelpA(owner, path, HELP_QUIT, 0);
    else if (topic)
        WinHelpA(owner, path, HELP_CONTEXT, topic);
    else if (IsClassicMode())
        WinHelpA(owner, path, HELP_FINDER, 0);
    else
        WinHelpA(owner, path, HELP_CONTENTS, 0);
}

void QuitHelpQuietly(HWND owner)
{
    /* Nobody may be at the screen: without a help file there is no viewer to
       close, and a message box would hold up the caller until somebody came. */
    char path[HELP_PATH_SIZE];
    if (LocateHelpFile(path))
        WinHelpA(owner, path, HELP_QUIT, 0);
}

void ReportHelpMissing(HWND owner)
{
    ShowStartupFolderMessage(owner, IDS_HELP_MISSING,
        "The Corvex help file was not found\n"
        "Either:\n"
        "        reinstall Corvex 8.1 or later\n"
        "or\n"
        "        remove the Corvex Traymark shortcut from the %s folder.");
}
