#include <windows.h>

#include "base/agent_state.h"
#include "mainapp/help.h"
#include "mainapp/launcher.h"
#include "res/resource.h"
#include "ui/close_dialog.h"

INT_PTR CALLBACK CloseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CheckRadioButton(dialog, IDC_CLOSE_FOR_NOW, IDC_CLOSE_AND_REMOVE, IDC_CLOSE_FOR_NOW);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, IsDlgButtonChecked(dialog, IDC_CLOSE_FOR_NOW) == BST_CHECKED
                                  ? IDC_CLOSE_FOR_NOW : IDC_CLOSE_AND_REMOVE);
            break;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            break;
        case IDC_CLOSE_HELP:
            RequestHelp(dialog, HELPID_TRAYMARK, 0);
            break;
        }
        return TRUE;
    }
    return FALSE;
}

void OnCloseCommand(HWND window)
{
    AgentState.busy = 1;
    INT_PTR result = DialogBoxParamA(AgentState.hInstance, MAKEINTRESOURCEA(IDD_CLOSE), window,
                                     CloseDialogProc, 0);
    if (result == IDCANCEL) {
        AgentState.busy = 0;
        return;
    }
    /* Anything else, a failed dialog included, closes the agent. */
    if (result == IDC_CLOSE_AND_REMOVE)
        LaunchMainApp(window, "/notm", NULL);
    RequestHelp(window, 0, 1);
    DestroyWindow(window);
    AgentState.busy = 0;
}
