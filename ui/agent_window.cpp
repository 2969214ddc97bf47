#include <windows.h>

#include "base/agent_state.h"
#include "mainapp/help.h"
#include "recent/recent_files.h"
#include "res/resource.h"
#include "ui/agent_window.h"
#include "ui/close_dialog.h"
#include "ui/tray_icon.h"
#include "ui/tray_menu.h"

int IsAgentWindow(HWND hwnd)
{
    char className[16];
    char caption[64];
    if (!hwnd || !IsWindow(hwnd))
        return 0;
    if (!GetClassNameA(hwnd, className, sizeof className) || lstrcmpA(className, AGENT_WINDOW_CLASS) != 0)
        return 0;
    /* GetWindowTextA reads another process's caption without sending it a
       message, so a hung window cannot hold us here. */
    if (!GetWindowTextA(hwnd, caption, sizeof caption))
        return 0;
    return lstrcmpA(caption, AGENT_CAPTION) == 0;
}

static void SetWindowIcon(HWND hwnd, WPARAM which, int width, int height)
{
    HICON icon = (HICON)LoadImageA(AgentState.hInstance, MAKEINTRESOURCEA(IDI_TRAYMARK), IMAGE_ICON,
                                   width, height, LR_DEFAULTCOLOR);
    if (icon)
        SendMessageA(hwnd, WM_SETICON, which, (LPARAM)icon);
}

/* Non-zero when the ANSI code page reads the byte 0xAE as the registered sign. */
static int AnsiHasSignByte(void)
{
    WCHAR sign = 0;
    return MultiByteToWideChar(CP_ACP, 0, "\xAE", 1, &sign, 1) == 1 && sign == 0x00AE;
}

static void SetVersionLine(HWND hwnd)
{
    /* SetDlgItemTextW is only a stub on the consumer family. */
    if (AgentState.isNT)
        SetDlgItemTextW(hwnd, IDC_VERSION_TEXT, VERSION_LINE_WIDE);
    else
        SetDlgItemTextA(hwnd, IDC_VERSION_TEXT, AnsiHasSignByte() ? VERSION_LINE_SIGN_BYTE : VERSION_LINE_PLAIN);
}

/* Lets the shell's broadcast through to an agent started elevated: User
   Interface Privilege Isolation (Vista and later) drops it otherwise. Looked
   up at run time, as older systems lack it. */
static void AllowTaskbarCreated(UINT message)
{
    typedef BOOL(WINAPI * MessageFilterFunction)(UINT, DWORD);
    const DWORD kMessageFilterAdd = 1;   /* MSGFLT_ADD, absent from headers for older targets */
    HMODULE user32 = GetModuleHandleA("user32.dll");
    MessageFilterFunction allow =
        user32 ? (MessageFilterFunction)(void *)GetProcAddress(user32, "ChangeWindowMessageFilter") : NULL;
    if (allow && message)
        allow(message, kMessageFilterAdd);
}

static BOOL OnInitDialog(HWND hwnd)
{
    SetVersionLine(hwnd);
    /* These two icons live as long as the window. */
    SetWindowIcon(hwnd, ICON_SMALL, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    SetWindowIcon(hwnd, ICON_BIG, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    AgentState.busy = 0;
    AddTrayIcon(hwnd, 0);
    EnableWindow(GetDlgItem(hwnd, IDCANCEL), TRUE);
    EnableWindow(GetDlgItem(hwnd, IDC_ABOUT_HELP), TRUE);
    AgentState.taskbarCreatedMsg = RegisterWindowMessageA("TaskbarCreated");
    AllowTaskbarCreated(AgentState.taskbarCreatedMsg);
    return TRUE;
}

static void OnEndSession(HWND hwnd, BOOL ending)
{
    if (!ending)
        return;
    QuitHelpQuietly(hwnd);
    if (AgentState.instanceAtom) {
        GlobalDeleteAtom(AgentState.instanceAtom);
        AgentState.instanceAtom = 0;   /* the loop's end must not delete it again */
    }
    DestroyWindow(hwnd);
}

static void ShowAboutBox(HWND hwnd)
{
    AgentState.busy = 1;
    ShowWindow(GetDlgItem(hwnd, IDCANCEL), SW_SHOW);
    ShowWindow(GetDlgItem(hwnd, IDC_ABOUT_HELP), SW_SHOW);
    ShowWindow(hwnd, SW_SHOW);
}

static void DismissAboutBox(HWND hwnd)
{
    ShowWindow(hwnd, SW_HIDE);
    RequestHelp(hwnd, 0, 1);
    AgentState.busy = 0;
}

static void OnCommand(HWND hwnd, UINT id)
{
    switch (id) {
    case IDCANCEL:        DismissAboutBox(hwnd); break;
    case IDM_QUIT:        QuitHelpQuietly(hwnd); DestroyWindow(hwnd); break;
    case IDC_ABOUT_HELP:  RequestHelp(hwnd, HELPID_TRAYMARK, 0); break;
    case IDM_ABOUT:       ShowAboutBox(hwnd); break;
    case IDM_OPEN:        OnOpenCommand(hwnd); break;
    case IDM_HELP:        RequestHelp(hwnd, 0, 0); break;
    case IDM_FAVORITES:   OnFavoritesCommand(hwnd); break;
    case IDM_CLOSE:       OnCloseCommand(hwnd); break;
    default:
        if (id >= IDM_RECENT_FIRST && id <= IDM_RECENT_LAST)
            OnRecentFileCommand(hwnd, id);
        break;
    }
}

INT_PTR CALLBACK AgentWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_DESTROY:
        RemoveTrayIcon(hwnd, 0);
        PostQuitMessage(0);
        return TRUE;
    case WM_ENDSESSION:
        OnEndSession(hwnd, (BOOL)wParam);
        return TRUE;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        RefreshTrayIcon(hwnd, 0);
        return TRUE;
    case WM_TIMER:
        OnTrayRetryTimer(hwnd, (UINT_PTR)wParam);
        return TRUE;
    case WM_TRAYNOTIFY:
        OnTrayNotify(hwnd, (UINT)wParam, (UINT)lParam);
        return TRUE;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return TRUE;
    }
    /* Registered at run time, so it cannot be a case label; it is left to the
       default handling too. */
    if (message == AgentState.taskbarCreatedMsg && message != 0)
        AddTrayIcon(hwnd, 0);
    return FALSE;
}
