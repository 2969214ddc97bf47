// Floors for start-up time: GUI programs built like traymark.exe, importing the
// same system DLLs. Plain, it returns at once: process creation and DLL loading
// alone. With "window" it first creates and destroys one hidden window, which
// under Wine also loads the display driver and, through the manifest, the
// themed common controls: the cost of any program's first window.
#include <windows.h>
#include <shellapi.h>

// Referenced, never called: the loader must still map and initialise each DLL.
static void *volatile g_imports[] = {
    (void *)&CreateDialogParamA,   // user32
    (void *)&Shell_NotifyIconA,    // shell32
    (void *)&RegOpenKeyExA,        // advapi32
};

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int)
{
    if (lstrcmpA(tail, "window") == 0) {
        HWND w = CreateWindowA("BUTTON", "floor", WS_POPUP, 0, 0, 10, 10, NULL, NULL, instance, NULL);
        if (w)
            DestroyWindow(w);
    }
    return g_imports[0] ? 0 : 1;
}
