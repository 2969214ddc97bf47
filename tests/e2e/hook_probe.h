// What the tray hook and the menu hook share: a hidden window, in a thread of
// the driver's own, that the hook in traymark.exe reports to, and the start of
// traymark.exe with the hook in place before the program's first instruction.
#ifndef TRAYMARK_E2E_HOOK_PROBE_H
#define TRAYMARK_E2E_HOOK_PROBE_H

#include <windows.h>

#include <string>

namespace driver {

struct ProbeWindow {
    const char *className;
    WNDPROC proc;
    HWND window;
    HANDLE thread;
    HANDLE ready;      // set by the thread once the window is up
    DWORD threadId;
};

// Creates the window once; true while FindWindow finds it.
bool StartProbeWindow(ProbeWindow *probe);
void StopProbeWindow(ProbeWindow *probe);
// For a program created suspended: loads the hook, resumes the program and waits
// for the event named readyFormat with its process id, which the hook sets once
// it has taken the place of `replaced`.
bool ResumeWithHook(const PROCESS_INFORMATION &process, const std::string &dll, const char *readyFormat,
                    const char *replaced, std::string *error);

}  // namespace driver

#endif
