#ifndef TRAYMARK_CLOSE_DIALOG_H
#define TRAYMARK_CLOSE_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK CloseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void OnCloseCommand(HWND window);

#endif
