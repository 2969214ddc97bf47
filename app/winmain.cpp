#include <windows.h>
#include <commctrl.h>

#include "base/agent_state.h"
#include "app/startup.h"
#include "mainapp/locator.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int)
{
    AgentState.hInstance = hInstance;
    /* The manifest asks for common controls 6; on Windows XP their dialog
       classes exist only once comctl32 is loaded, or no dialog would open. */
    InitCommonControls();
    ProbeWindowsVersion();

    switch (EvaluateStart(lpCmdLine)) {
    case StartRemoteClose:
        RemoteCloseAgent();
        break;
    case StartRun:
        RunAgent(hInstance);
        break;
    case StartMainAppMissing:
        ReportMainAppMissing(NULL);
        break;
    case StartClearMarker:
        ClearInstanceMarker();
        break;
    case StartIgnore:
        break;
    }
    return 0;
}
