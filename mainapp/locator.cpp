#include <windows.h>
#include <string.h>

#include "base/agent_state.h"
#include "base/messages.h"
#include "base/registry_keys.h"
#include "base/registry_text.h"
#include "base/text_ops.h"
#include "mainapp/locator.h"
#include "res/resource.h"

static const DWORD kOpenCommandLimit = 260;   /* bytes read of an open command, terminator included */
static const int kVersionTextSize = 32;

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
    if (ReadRegText(HKEY_CLASSES_ROOT, CORVEX_OPEN_COMMAND_KEY, NULL, command, kOpenCommandLimit) !=
            REG_TEXT_READ &&
        ReadRegText(HKEY_LOCAL_MACHINE, CORVEX_APP_PATH_KEY, NULL, command, kOpenCommandLimit) !=
            REG_TEXT_READ) {
        path[0] = 0;
        return 0;
    }
    ExecutablePathFromCommand(command, path, PATH_BUFFER_SIZE);
    return PathExists(path);
}

int MainAppVersionOk(void)
{
    /* The user's key counts only when the machine's cannot be opened, even
       if the machine's lacks the value. */
    char version[kVersionTextSize];
    if (ReadRegText(HKEY_LOCAL_MACHINE, CORVEX_WININI_KEY, "win32_version", version, sizeof version) ==
            REG_TEXT_NO_KEY &&
        ReadRegText(HKEY_CURRENT_USER, CORVEX_WININI_KEY, "win32_version", version, sizeof version) ==
            REG_TEXT_NO_KEY)
        return 0;

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
