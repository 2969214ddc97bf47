// Looks like the agent's window to "/remove" (a dialog of its class and
// caption) but lives in a process of its own, so a remover that reaches it
// sees that process end. Exit code 1: the close request came; 2: it never did.
#include <windows.h>
#include <stdlib.h>

static const WPARAM kIdmQuit = 3;
static const UINT kLifetimeMs = 60000;   // unless the command line names another

static INT_PTR CALLBACK LookalikeProc(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && wParam == kIdmQuit)
        PostQuitMessage(1);
    else if (message == WM_TIMER)
        PostQuitMessage(2);
    return message == WM_INITDIALOG || message == WM_COMMAND;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    UINT lifetimeMs = (UINT)strtoul(commandLine, NULL, 10);
    DWORD storage[16] = {};   // DLGTEMPLATE, then empty menu, class and title
    DLGTEMPLATE *tpl = (DLGTEMPLATE *)storage;
    tpl->style = WS_POPUP | WS_CAPTION;
    tpl->cx = 100;
    tpl->cy = 50;
    HWND dialog = CreateDialogIndirectParamA(instance, tpl, NULL, LookalikeProc, 0);
    if (!dialog)
        return 3;
    SetWindowTextA(dialog, "About Corvex Traymark");
    // A test that died leaves nobody to close us.
    SetTimer(dialog, 1, lifetimeMs ? lifetimeMs : kLifetimeMs, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return (int)msg.wParam;
}
