#include "tests/e2e/hook_probe.h"

#include "tests/e2e/driver.h"
#include "tests/e2e/inject.h"

namespace driver {

static DWORD WINAPI ProbeThread(LPVOID parameter)
{
    ProbeWindow *probe = (ProbeWindow *)parameter;
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = probe->proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = probe->className;
    RegisterClassA(&wc);
    probe->window = CreateWindowExA(WS_EX_TOOLWINDOW, probe->className, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                    wc.hInstance, NULL);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);   // the queue exists before we say ready
    SetEvent(probe->ready);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(probe->window);
    probe->window = NULL;
    UnregisterClassA(probe->className, wc.hInstance);
    return 0;
}

bool StartProbeWindow(ProbeWindow *probe)
{
    if (!probe->thread) {
        probe->ready = CreateEventA(NULL, TRUE, FALSE, NULL);
        probe->thread = CreateThread(NULL, 0, ProbeThread, probe, 0, &probe->threadId);
        if (!probe->thread) {
            CloseHandle(probe->ready);
            probe->ready = NULL;
            return false;
        }
        HANDLE either[] = { probe->ready, probe->thread };
        WaitForMultipleObjects(2, either, FALSE, ScaledMs(5000));
    }
    return probe->window && FindWindowA(probe->className, NULL) == probe->window;
}

void StopProbeWindow(ProbeWindow *probe)
{
    if (!probe->thread)
        return;
    PostThreadMessageA(probe->threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(probe->thread, ScaledMs(5000));
    CloseHandle(probe->thread);
    CloseHandle(probe->ready);
    probe->thread = probe->ready = NULL;
}

bool ResumeWithHook(const PROCESS_INFORMATION &process, const std::string &dll, const char *readyFormat,
                    const char *replaced, std::string *error)
{
    char name[64];
    wsprintfA(name, readyFormat, process.dwProcessId);
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, name);
    bool loaded = ready && LoadBeforeEntry(process.hProcess, dll, error);
    ResumeThread(process.hThread);
    HANDLE either[] = { ready, process.hProcess };
    bool hooked = loaded && WaitForMultipleObjects(2, either, FALSE, ScaledMs(10000)) != WAIT_TIMEOUT &&
                  WaitForSingleObject(ready, 0) == WAIT_OBJECT_0;
    if (loaded && !hooked)
        *error = std::string("the hook did not take ") + replaced + "'s place";
    if (ready)
        CloseHandle(ready);
    return hooked;
}

}  // namespace driver
