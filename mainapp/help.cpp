#include <windows.h>

#include "app/agent_state.h"
#include "app/messages.h"
#include "app/registry_text.h"
#include "app/text_ops.h"
#include "mainapp/help.h"
#include "mainapp/locator.h"
#include "res/resource.h"

int IsClassicMode(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Velmora\\Corvex\\Corvex", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 1;
    char mode[7];
    int read = QueryRegText(key, "Wizard", mode, sizeof mode);
    RegCloseKey(key);
    return !(read && mode[0] == '1');
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
