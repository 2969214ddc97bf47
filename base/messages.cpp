#include <windows.h>
#include <shlobj.h>

#include "base/agent_state.h"
#include "base/messages.h"
#include "base/text_ops.h"
#include "res/resource.h"

int LoadText(UINT id, const char *fallback, char *buffer, int size)
{
    int n = LoadStringA(AgentState.hInstance, id, buffer, size);
    if (n == 0) {
        CopyTextBounded(buffer, fallback, size);
        n = lstrlenA(buffer);
    }
    return n;
}

void ShowAgentMessage(HWND owner, const char *text)
{
    char caption[256];
    LoadText(IDS_TITLE, "Corvex Traymark", caption, sizeof caption);
    /* Restored, not cleared: a message over the About box or the Close dialog
       must not let tray clicks through while those are still up. */
    int wasBusy = AgentState.busy;
    AgentState.busy = 1;
    MessageBoxA(owner, text, caption, MB_OK);
    AgentState.busy = wasBusy;
}

int StartupFolderPath(char *buffer)
{
    int folder = AgentState.isNT ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP;
    LPITEMIDLIST items = NULL;
    if (FAILED(SHGetSpecialFolderLocation(NULL, folder, &items)) || !items)
        return 0;
    char path[MAX_PATH];
    int ok = SHGetPathFromIDListA(items, path);
    if (ok)
        lstrcpyA(buffer, path);
    IMalloc *shellAlloc = NULL;
    if (SUCCEEDED(SHGetMalloc(&shellAlloc)) && shellAlloc) {
        shellAlloc->Free(items);
        shellAlloc->Release();
    }
    return ok;
}

void ShowStartupFolderMessage(HWND owner, UINT id, const char *fallback)
{
    char format[256];
    char folder[MAX_PATH];
    char text[520];

    LoadText(id, fallback, format, sizeof format);
    /* Without a Startup folder the message still names a place to look. */
    lstrcpyA(folder, "Startup");
    StartupFolderPath(folder);
    /* A format of at most 255 bytes and a folder of at most 259 fit 520. */
    wsprintfA(text, format, folder);
    ShowAgentMessage(owner, text);
}
