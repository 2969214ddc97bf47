// The tray menu's texts as the user sees them. A hook DLL, loaded into
// traymark.exe before its entry point runs, takes the place of
// TrackPopupMenuEx and sends the probe window here each menu's item texts,
// read back from the menu in Unicode, before the menu shows: the menu
// belongs to the agent's process, so it is read there.
#ifndef TRAYMARK_E2E_MENU_PROBE_H
#define TRAYMARK_E2E_MENU_PROBE_H

#include "tests/e2e/driver.h"

namespace driver {

// Creates the probe in a thread of its own; while it is up, StartTraymark
// starts traymark.exe with the hook. True once FindWindow finds it.
bool StartMenuProbe();
void StopMenuProbe();
bool MenuHookWanted();
// For a traymark.exe created suspended: loads the hook, resumes the program and
// waits until the hook has taken the import's place.
bool ResumeWithMenuHook(const PROCESS_INFORMATION &process, std::string *error);
// The item texts of the last menu shown, top first; empty when none came.
std::vector<std::wstring> WaitForMenuTexts(DWORD timeoutMs = 5000);

}  // namespace driver

#endif
