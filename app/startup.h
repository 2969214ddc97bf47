/* Start-up decision, instance marker and the message loop. */
#ifndef TRAYMARK_STARTUP_H
#define TRAYMARK_STARTUP_H

#include <windows.h>

#define INSTANCE_MARKER "Corvex Traymark Active"
#define REMOTE_CLOSE_TIMEOUT 10000     /* ms a "/remove" waits for the running copy to end */

enum StartDecision {
    StartIgnore = 0,
    StartRemoteClose = 1,
    StartRun = 2,
    StartMainAppMissing = 3,
    StartClearMarker = 4
};

int ProbeWindowsVersion(void);
StartDecision EvaluateStart(const char *tail);
void RunAgent(HINSTANCE hInstance);
void RemoteCloseAgent(void);
void ClearInstanceMarker(void);

#endif
