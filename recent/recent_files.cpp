#include <windows.h>

#include "base/agent_state.h"
#include "base/registry_keys.h"
#include "base/registry_text.h"
#include "base/text_ops.h"
#include "mainapp/launcher.h"
#include "mainapp/locator.h"
#include "recent/menu_label.h"
#include "recent/recent_files.h"
#include "recent/volatile_folders.h"
#include "res/resource.h"

static void FormatValueName(char *name, int n)
{
    wsprintfA(name, "%s%i", "filemenu", n);
}

int ShouldListRecentFile(const char *path)
{
    /* Only archives in folders that empty themselves are worth a disk access. */
    if (IsInVolatileFolder(path))
        return PathExists(path);
    return 1;
}

void BuildRecentFileItems(HMENU menu)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, CORVEX_FILEMENU_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    RefreshVolatileFolders();

    int count = 0;
    for (int n = RECENT_VALUE_COUNT; n >= 1 && count < RECENT_SHOWN_MAX; n--) {
        char name[16];
        char path[FOLDER_FIELD_SIZE];
        char label[LABEL_BUFFER_SIZE];
        FormatValueName(name, n);
        if (!QueryRegText(key, name, path, PATH_BUFFER_SIZE) || !ShouldListRecentFile(path))
            continue;
        ShortenMenuLabel(path);
        EscapeAmpersands(label, path);
        InsertMenuA(menu, (UINT)-1, MF_BYPOSITION | MF_STRING, IDM_RECENT_BASE + n, label);
        count++;
    }
    if (count > 0)
        InsertMenuA(menu, (UINT)-1, MF_SEPARATOR | MF_BYPOSITION, 0, "");
    RegCloseKey(key);
}

void ReadRecentFile(int n, char *buffer, DWORD limit)
{
    char name[16];
    FormatValueName(name, n);
    ReadRegText(HKEY_CURRENT_USER, CORVEX_FILEMENU_KEY, name, buffer, limit);
}

void OnRecentFileCommand(HWND window, UINT command)
{
    char path[PATH_BUFFER_SIZE];
    ReadRecentFile((int)(command - IDM_RECENT_BASE), path, sizeof path);
    LaunchMainApp(window, NULL, path);
}
