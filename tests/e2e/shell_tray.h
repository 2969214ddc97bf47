// The tray as the tests see it. A hook DLL, loaded into traymark.exe before
// its entry point runs, takes the place of Shell_NotifyIconA in its import
// table and reports every call to the probe window here, in a record of our
// own layout (tests/trayhook/tray_probe.h), so nothing depends on how one
// Windows or Wine release talks to its shell. As a stand-in shell, the probe
// records each call and answers it as the test wants; passing calls on, it
// lets the real shell answer and records that answer.
#ifndef TRAYMARK_E2E_SHELL_TRAY_H
#define TRAYMARK_E2E_SHELL_TRAY_H

#include "tests/e2e/driver.h"

namespace driver {

struct TrayCall {
    DWORD action = 0;              // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    DWORD processId = 0;           // the caller
    DWORD size = 0;                // the record's cbSize
    HWND window = NULL;            // the record's window
    UINT id = 0;
    UINT flags = 0;
    UINT callbackMessage = 0;
    std::string tooltip;
    bool hasIcon = false;          // an icon was passed
    UINT iconWidth = 0;            // its picture, as the caller's process reads it
    UINT iconHeight = 0;
    UINT iconBpp = 0;
    BOOL answer = FALSE;           // what the stand-in or the real shell replied
    DWORD tick = 0;                // GetTickCount() on arrival
};

enum class TrayMode {
    StandIn,                       // the probe decides every answer
    PassOn,                        // the real shell does; the probe records its answers
};

// Creates the probe in a thread of its own; true once FindWindow finds it.
// Every icon is forgotten and every refusal dropped. While it is up,
// StartTraymark starts traymark.exe with the hook.
bool StartShellTray(TrayMode mode = TrayMode::StandIn);
// Destroys it: hooked programs call the real shell directly again.
void StopShellTray();
bool TrayHookWanted();
// For a traymark.exe created suspended: loads the hook into it, resumes it
// and waits until the hook has taken the import's place.
bool ResumeWithTrayHook(const PROCESS_INFORMATION &process, std::string *error);
std::string TrayHookDll();         // BuildDir() + "trayhook.dll"
// From now on a hooked program's GetTickCount reads `reads`, and stands still
// there until the next call; StartShellTray lets it run with the real count again.
void SetHookedTickCount(DWORD reads);

std::vector<TrayCall> TrayCalls();
void ClearTrayCalls();
// Waits until at least `count` calls arrived; returns the calls seen.
std::vector<TrayCall> WaitForTrayCalls(size_t count, DWORD timeoutMs = 5000);
// The calls, once `count` have arrived and nothing more came for `quietMs`.
std::vector<TrayCall> SettledTrayCalls(size_t count, DWORD timeoutMs = 5000, DWORD quietMs = 500);

// The next `count` NIM_ADD calls are answered FALSE and add nothing.
void RefuseTrayAdds(int count);
// Drops every icon, as a restarted shell would.
void ForgetTrayIcons();
bool TrayHoldsIcon(HWND window, UINT id);

const char *TrayActionName(DWORD action);
UINT TaskbarCreatedMessage();

// Corvex installed and the stand-in tray up before the agent starts; it is
// gone after each test, so other tests talk to the real tray again.
class ShellTrayTest : public AgentTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace driver

#endif
