// The floor for start-up time: a GUI program built like traymark.exe, importing
// the same system DLLs, that returns at once. What it costs is process creation
// and loading those DLLs, which no program of this kind can avoid.
#include <windows.h>
#include <shellapi.h>

// Referenced, never called: the loader must still map and initialise each DLL.
static void *volatile g_imports[] = {
    (void *)&CreateDialogParamA,   // user32
    (void *)&Shell_NotifyIconA,    // shell32
    (void *)&RegOpenKeyExA,        // advapi32
};

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return g_imports[0] ? 0 : 1;
}
