#include <windows.h>

#include "base/agent_state.h"
#include "app/handle_record.h"
#include "app/startup.h"
#include "mainapp/locator.h"
#include "res/resource.h"
#include "ui/agent_window.h"

int ProbeWindowsVersion(void)
{
    AgentState.isMe = AgentState.isNT = AgentState.isXPClass = 0;
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info; /* 148 */
    if (!GetVersionExA(&info))
        return 0;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMinorVersion >= 90)
        AgentState.isMe = 1;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        AgentState.isNT = 1;
        if (info.dwMajorVersion >= 5 && info.dwMinorVersion >= 1)
            AgentState.isXPClass = 1;
    }
    return 1;
}

StartDecision EvaluateStart(const char *tail)
{
    if (GlobalFindAtomA(INSTANCE_MARKER)) {
        if (lstrcmpiA(tail, "/remove") == 0)
            return StartRemoteClose;
        if (lstrcmpiA(tail, "/clear") == 0)
            return StartClearMarker;
        return StartIgnore;
    }
    return MainAppUsable() ? StartRun : StartMainAppMissing;
}

void RemoteCloseAgent(void)
{
    /* A stale record may by now name somebody else's window. */
    HWND agent = (HWND)(LONG_PTR)ReadAgentWindowHandle();
    if (!IsAgentWindow(agent))
        return;
    /* An uninstaller deletes traymark.exe once we end: the agent must be gone
       by then. Taken before the request, while the window still names it. */
    DWORD processId = 0;
    GetWindowThreadProcessId(agent, &processId);
    HANDLE process = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : NULL;
    /* An uninstaller waits on us: an agent that does not answer is given up on. */
    DWORD start = GetTickCount();
    DWORD_PTR ignored;
    SendMessageTimeoutA(agent, WM_COMMAND, IDM_QUIT, 0, SMTO_ABORTIFHUNG, REMOTE_CLOSE_TIMEOUT, &ignored);
    if (process) {
        DWORD spent = GetTickCount() - start;
        WaitForSingleObject(process, spent < REMOTE_CLOSE_TIMEOUT ? REMOTE_CLOSE_TIMEOUT - spent : 0);
        CloseHandle(process);
    }
}

void ClearInstanceMarker(void)
{
    /* Bounded: an atom that refuses deletion must not keep us here. */
    for (int i = 0; i < 0x10000; i++) {
        ATOM atom = GlobalFindAtomA(INSTANCE_MARKER);
        if (!atom || GlobalDeleteAtom(atom) != 0)
            break;
    }
}

void RunAgent(HINSTANCE hInstance)
{
    HWND hwnd = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(IDD_AGENT), NULL, AgentWindowProc, 0);
    if (!hwnd)
        return;
    WriteAgentWindowHandle(hwnd);
    AgentState.instanceAtom = GlobalAddAtomA(INSTANCE_MARKER);

    MSG msg;
    /* -1 is an error return: ending beats spinning on it. The window may go
       inside a nested modal loop (the tray menu's, under Wine) that swallows
       WM_QUIT, so a gone window ends the loop as well. */
    while (IsWindow(hwnd) && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    /* The end of the session may already have taken our marker away. */
    if (AgentState.instanceAtom) {
        GlobalDeleteAtom(AgentState.instanceAtom);
        AgentState.instanceAtom = 0;
    }
}
