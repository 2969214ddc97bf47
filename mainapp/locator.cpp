#include <windows.h>
#include <string.h>

#include "app/agent_state.h"
#include "app/messages.h"
#include "app/registry_text.h"
#include "app/text_ops.h"
#include "mainapp/locator.h"
#include "res/resource.h"

static const char kOpenCommandKey[] = "Corvex\\Shell\\Open\\Command";
static const char kAppPathKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvex32.exe";
static const char kWinIniKey[] = "Software\\Velmora\\Corvex\\WinIni";

int PathExists(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}

void ExecutablePathFromCommand(const char *command, char *path, int size)
{
    char text[PATH_BUFFER_SIZE];
    CopyTextBounded(text, command, sizeof text);

    char *start = text;
    if (text[0] == '"') {
        start = text + 1;
        *FindCharForward(start, '"') = 0;
    } else {
        /* Only what follows the last blank is taken for an argument. */
        char *blank = FindLastChar(text, ' ');
        if (blank != text)
            *blank = 0;
    }
    CopyTextBounded(path, start, size);
}

int LocateMainApp(char *path)
{
    char command[PATH_BUFFER_SIZE];
    if (!QueryRegDefaultText(HKEY_CLASSES_ROOT, kOpenCommandKey, command, 260) &&
        !QueryRegDefaultText(HKEY_LOCAL_MACHINE, kAppPathKey, command, 260)) {
        path[0] = 0;
        return 0;
    }
    ExecutablePathFromCommand(command, path, PATH_BUFFER_SIZE);
    return PathExists(path);
}

int MainAppVersionOk(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWinIniKey, 0, KEY_READ, &key) != ERROR_SUCCESS &&
        RegOpenKeyExA(HKEY_CURRENT_USER, kWinIniKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    char version[32];
    QueryRegText(key, "win32_version", version, sizeof version);
    RegCloseKey(key);

    const char *p = version;
    if (*p == 'R')
        p++;
    if (lstrlenA(p) > 4 && p[3] == '-')
        p += 4;
    /* A plain byte comparison: "10.0" sorts below "8.1" and fails. The text is
       terminated, so at worst the NUL takes part and sorts low. */
    return memcmp(p, "8.1", 3) >= 0;
}

int MainAppUsable(void)
{
    char scratch[PATH_BUFFER_SIZE];
    return LocateMainApp(scratch) && MainAppVersionOk();
}

void ReportMainAppMissing(HWND owner)
{
    ShowStartupFolderMessage(owner, IDS_MAIN_APP_MISSING,
        "Corvex was not found or it is the incorrect version\n"
        "Either:\n"
        "        reinstall Corvex 8.1 or later\n"
        "or\n"
        "        remove the Corvex Traymark shortcut from the %s folder.");
}
