// Drives a running traymark.exe for the demo's screenshots, the way the shell
// and the user would: it finds the agent through its published window handle.
//   traymark_poke wait     until the agent is up (exit 0) or the time is up (exit 1)
//   traymark_poke menu     a right click on the tray icon; waits for the menu
//   traymark_poke about    "About..."; waits for the About box
//   traymark_poke escape   Esc, which closes an open menu
//   traymark_poke close    "Close..."; waits for the Close dialog
//   traymark_poke cancel   the Close dialog's Cancel; waits for the dialog to go
//   traymark_poke message  waits for the agent's message box (no agent needed)
//   traymark_poke ok       the message box's OK; waits for the box to go
//   traymark_poke temp     prints the temporary folder, as the agent sees it
#include <windows.h>

#include "app/handle_record.h"
#include "app/startup.h"
#include "ui/agent_window.h"

#include <stdio.h>
#include <string.h>

static const UINT kTrayNotify = 0x8064;
static const WPARAM kTrayIconId = 1006;
static const WPARAM kAboutCommand = 101;
static const WPARAM kCloseCommand = 106;
static const char kMenuClass[] = "#32768";
static const char kDialogClass[] = "#32770";
static const char kCloseCaption[] = "Corvex Traymark - Close";
static const char kMessageCaption[] = "Corvex Traymark";

// Read as a second copy of the agent reads it.
static HWND ReadAgentWindow()
{
    return (HWND)(LONG_PTR)ReadAgentWindowHandle();
}

static bool AgentReady(HWND window)
{
    return IsAgentWindow(window) && GlobalFindAtomA(INSTANCE_MARKER) != 0;
}

static bool MenuOpen()
{
    HWND menu = FindWindowA(kMenuClass, NULL);
    return menu && IsWindowVisible(menu);
}

static HWND VisibleDialog(const char *caption)
{
    HWND dialog = FindWindowA(kDialogClass, caption);
    return dialog && IsWindowVisible(dialog) ? dialog : NULL;
}

template <typename Pred> static bool WaitFor(Pred pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

static int Fail(const char *what)
{
    fprintf(stderr, "traymark_poke: %s\n", what);
    return 1;
}

// As a click on the button would: the owner hears BN_CLICKED.
static void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

static int PressAndWaitGone(const char *caption, int id, const char *what)
{
    HWND dialog = NULL;
    if (!WaitFor([&] { return (dialog = VisibleDialog(caption)) != NULL; }, 10000))
        return Fail(what);
    PressButton(dialog, id);
    return WaitFor([dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000)
               ? 0 : Fail("the dialog stayed open");
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return Fail("usage: traymark_poke wait|menu|about|escape|close|cancel|message|ok|temp");
    const char *command = argv[1];

    if (strcmp(command, "temp") == 0) {
        char folder[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof folder, folder);
        if (n == 0 || n >= sizeof folder)
            return Fail("no temporary folder");
        printf("%s\n", folder);
        return 0;
    }
    if (strcmp(command, "wait") == 0)
        return WaitFor([] { return AgentReady(ReadAgentWindow()); }, 30000)
                   ? 0 : Fail("the agent did not become ready");

    // No published agent needed: the "not found" message comes before its window.
    if (strcmp(command, "message") == 0)
        return WaitFor([] { return VisibleDialog(kMessageCaption) != NULL; }, 30000)
                   ? 0 : Fail("no message box appeared");
    if (strcmp(command, "ok") == 0)
        return PressAndWaitGone(kMessageCaption, IDOK, "no message box to press OK in");
    if (strcmp(command, "cancel") == 0)
        return PressAndWaitGone(kCloseCaption, IDCANCEL, "no Close dialog to cancel");

    HWND agent = ReadAgentWindow();
    if (!AgentReady(agent))
        return Fail("no running agent");

    if (strcmp(command, "menu") == 0) {
        // The menu opens at the cursor, which for a real click is over the
        // notification area in the bottom-right corner; just beside the icon,
        // so that its tooltip does not cover the menu.
        int right = GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN);
        int bottom = GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN);
        SetCursorPos(right - 40, bottom - 8);
        PostMessageA(agent, kTrayNotify, kTrayIconId, WM_RBUTTONUP);
        return WaitFor(MenuOpen, 10000) ? 0 : Fail("the tray menu did not open");
    }
    if (strcmp(command, "about") == 0) {
        PostMessageA(agent, WM_COMMAND, kAboutCommand, 0);
        return WaitFor([agent] { return IsWindowVisible(agent) != 0; }, 10000)
                   ? 0 : Fail("the About box did not appear");
    }
    if (strcmp(command, "close") == 0) {
        PostMessageA(agent, WM_COMMAND, kCloseCommand, 0);
        return WaitFor([] { return VisibleDialog(kCloseCaption) != NULL; }, 10000)
                   ? 0 : Fail("the Close dialog did not appear");
    }
    if (strcmp(command, "escape") == 0) {
        keybd_event(VK_ESCAPE, 0, 0, 0);
        keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
        return WaitFor([] { return !MenuOpen(); }, 10000) ? 0 : Fail("the tray menu stayed open");
    }
    return Fail("unknown command");
}
