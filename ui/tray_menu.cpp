#include <windows.h>

#include "base/agent_state.h"
#include "base/messages.h"
#include "base/text_ops.h"
#include "mainapp/help.h"
#include "mainapp/launcher.h"
#include "recent/recent_files.h"
#include "res/resource.h"
#include "ui/tray_menu.h"

/* Measured as ticks elapsed since the last click, never by comparing counts:
   GetTickCount wraps to 0 after 49.7 days, which a resident agent lives
   through, and the first click counts however long the machine has been up. */
static int OutsideDoubleClickWindow(DWORD now)
{
    if (!AgentState.clickSeen)
        return 1;
    return now - AgentState.lastClickTick > AgentState.clickDeadline - AgentState.lastClickTick;
}

static void OnLeftButtonUp(HWND window, UINT identifier)
{
    DWORD now = GetTickCount();
    if (OutsideDoubleClickWindow(now) && identifier == TRAY_ICON_ID && !AgentState.busy) {
        AgentState.busy = 1;
        LaunchMainApp(window, NULL, NULL);
        AgentState.busy = 0;
    }
    /* Taken after the launch, so the second click of a double click is swallowed. */
    AgentState.lastClickTick = GetTickCount();
    AgentState.clickDeadline = AgentState.lastClickTick + GetDoubleClickTime();
    AgentState.clickSeen = 1;
}

void OnTrayNotify(HWND window, UINT identifier, UINT mouseMessage)
{
    if (mouseMessage == WM_LBUTTONUP)
        OnLeftButtonUp(window, identifier);
    else if (mouseMessage == WM_RBUTTONUP && identifier == TRAY_ICON_ID && !AgentState.busy)
        ShowTrayMenu(window);
}

/* The item's label comes from the string table, or the fallback. */
static void AppendStringTableItem(HMENU menu, UINT id, UINT command, const char *fallback)
{
    char label[PATH_BUFFER_SIZE];
    LoadText(id, fallback, label, sizeof label);
    InsertMenuA(menu, (UINT)-1, MF_BYPOSITION | MF_STRING, command, label);
}

void BuildTrayMenu(HMENU menu)
{
    char helpPath[HELP_PATH_SIZE];
    BuildRecentFileItems(menu);
    AppendStringTableItem(menu, IDS_FAVORITES, IDM_FAVORITES, "Favorites...");
    AppendStringTableItem(menu, IDS_OPEN, IDM_OPEN, "Open Corvex");
    if (LocateHelpFile(helpPath))
        AppendStringTableItem(menu, IDS_HELP, IDM_HELP, "Corvex Help");
    AppendStringTableItem(menu, IDS_ABOUT, IDM_ABOUT, "About...");
    AppendStringTableItem(menu, IDS_CLOSE, IDM_CLOSE, "Close...");
}

void ShowTrayMenu(HWND window)
{
    POINT cursor = { 0, 0 };
    GetCursorPos(&cursor);
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    BuildTrayMenu(menu);

    AgentState.busy = 1;
    /* Without the foreground the menu would not close when the user clicks elsewhere. */
    SetForegroundWindow(window);
    TrackPopupMenuEx(menu, TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y,
                     window, NULL);
    AgentState.busy = 0;
    /* Lets the menu close properly on the next click (KB135788). */
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void OnOpenCommand(HWND window)
{
    LaunchMainApp(window, NULL, NULL);
}

void OnFavoritesCommand(HWND window)
{
    LaunchMainApp(window, "/favorites", NULL);
}
