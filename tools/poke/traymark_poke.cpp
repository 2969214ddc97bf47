// Drives a running traymark.exe for the demo's screenshots, the way the shell
// and the user would: it finds the agent through its published window handle.
//   traymark_poke wait     until the agent is up (exit 0) or the time is up (exit 1)
//   traymark_poke menu     a right click on the tray icon; waits for the menu
//   traymark_poke about    "About..."; waits for the About box
//   traymark_poke escape   Esc, which closes an open menu
//   traymark_poke temp     prints the temporary folder, as the agent sees it
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const UINT kTrayNotify = 0x8064;
static const WPARAM kTrayIconId = 1006;
static const WPARAM kAboutCommand = 101;
static const char kMenuClass[] = "#32768";

// The record is decimal text, usually stored without a terminator.
static HWND ReadAgentWindow()
{
    char text[32];
    DWORD size = sizeof text;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Velmora\\Corvex\\Corvex", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return NULL;
    LONG result = RegQueryValueExA(key, "Traymark Window Handle", NULL, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ || size >= sizeof text)
        return NULL;
    text[size] = 0;
    return (HWND)(LONG_PTR)strtol(text, NULL, 10);
}

static bool AgentReady(HWND window)
{
    char caption[64];
    return window && IsWindow(window) && GetWindowTextA(window, caption, sizeof caption) > 0 &&
           strcmp(caption, "About Corvex Traymark") == 0 &&
           GlobalFindAtomA("Corvex Traymark Active") != 0;
}

static bool MenuOpen()
{
    HWND menu = FindWindowA(kMenuClass, NULL);
    return menu && IsWindowVisible(menu);
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

int main(int argc, char **argv)
{
    if (argc != 2)
        return Fail("usage: traymark_poke wait|menu|about|escape|temp");
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
    if (strcmp(command, "escape") == 0) {
        keybd_event(VK_ESCAPE, 0, 0, 0);
        keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
        return WaitFor([] { return !MenuOpen(); }, 10000) ? 0 : Fail("the tray menu stayed open");
    }
    return Fail("unknown command");
}
