/* Tray icon clicks and the tray menu. */
#ifndef TRAYMARK_TRAY_MENU_H
#define TRAYMARK_TRAY_MENU_H

#include <windows.h>

void OnTrayNotify(HWND window, UINT identifier, UINT mouseMessage);
/* Fills an empty pop-up menu with everything the tray menu shows; exposed for tests. */
void BuildTrayMenu(HMENU menu);
void ShowTrayMenu(HWND window);
void OnOpenCommand(HWND window);
void OnFavoritesCommand(HWND window);

#endif
