// A stand-in for Corvex: it offers what the agent relies on (an executable to
// start) and records how it was started. Each start appends its command line,
// one line, to the file named by CORVEX_STANDIN_LOG; without that variable it
// shows the command line in a message box, which is what the demo run uses.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    char logPath[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("CORVEX_STANDIN_LOG", logPath, sizeof logPath);
    if (n == 0 || n >= sizeof logPath) {
        char text[1200];
        wsprintfA(text, "Corvex (stand-in) was started as:\n\n%.1000s", commandLine);
        MessageBoxA(NULL, text, "Corvex (stand-in)", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    // Several starts may race; retry while another start holds the file.
    for (int attempt = 0; attempt < 200; attempt++) {
        HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
        if (log != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(log, commandLine, lstrlenA(commandLine), &written, NULL);
            WriteFile(log, "\r\n", 2, &written, NULL);
            CloseHandle(log);
            return 0;
        }
        Sleep(10);
    }
    return 1;
}
