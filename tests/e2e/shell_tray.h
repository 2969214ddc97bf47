// A stand-in notification area. Wine's Shell_NotifyIcon finds the first
// top-level window of class "Shell_TrayWnd" and sends it WM_COPYDATA (dwData:
// the NIM_ action, wParam: the caller's window) with a record of its own: the
// icon's window, identifier, flags, callback message and UTF-16 tooltip, then
// the icon's size and depth, then its mask and colour bits when one was passed.
// While the stand-in runs it is found before the real tray, so every call the
// agent makes lands here, is recorded, and is answered as the test wants.
#ifndef TRAYMARK_E2E_SHELL_TRAY_H
#define TRAYMARK_E2E_SHELL_TRAY_H

#include "tests/e2e/driver.h"

namespace driver {

struct TrayCall {
    DWORD action = 0;              // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    HWND sender = NULL;            // the window named in WM_COPYDATA's wParam
    HWND window = NULL;            // the record's window
    UINT id = 0;
    UINT flags = 0;
    UINT callbackMessage = 0;
    std::string tooltip;           // converted to the ANSI code page
    bool hasIcon = false;          // icon bits came with the record
    UINT iconWidth = 0;
    UINT iconHeight = 0;
    UINT iconBpp = 0;
    BOOL answer = FALSE;           // what the stand-in replied
    DWORD tick = 0;                // GetTickCount() on arrival
};

// Creates the stand-in in a thread of its own; true once FindWindowW finds it
// ahead of the real tray. Every icon is forgotten and every refusal dropped.
bool StartShellTray();
// Destroys it, so Shell_NotifyIcon reaches the real tray again.
void StopShellTray();
HWND ShellTrayWindow();

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
