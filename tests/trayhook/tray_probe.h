// What the tray hook inside traymark.exe tells the test process about each
// Shell_NotifyIconA call: one record of our own layout, sent by WM_COPYDATA to
// the probe window, the same whatever Windows or Wine is underneath.
#ifndef TRAYMARK_TRAYHOOK_TRAY_PROBE_H
#define TRAYMARK_TRAYHOOK_TRAY_PROBE_H

#include <windows.h>

// The test process's probe window: a top-level window of this class.
#define TRAY_PROBE_CLASS "Traymark tray probe"
// COPYDATASTRUCT.dwData of each report.
#define TRAY_PROBE_CALL 0x54524331     // a call, before it is made; the reply decides it
#define TRAY_PROBE_RESULT 0x54524332   // a call the real shell answered, with its result
// Replies to TRAY_PROBE_CALL besides FALSE and TRUE: make the real call, then report it.
#define TRAY_PROBE_PASS_ON 2
// Sent by the hook on each GetTickCount of the program, with the real count as
// wParam: the reply is added to it, so a test can put the program anywhere on
// the count, the wrap included.
#define TRAY_PROBE_TICK_SHIFT (WM_APP + 0x54)
// The hook, once it has taken the import's place, sets the event of this name
// (with the process id) when the starter created one.
#define TRAY_HOOK_READY_FORMAT "Traymark tray hook %lu"

struct TrayProbeRecord {
    DWORD action;             // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    DWORD processId;          // the caller
    DWORD size;               // the record's cbSize
    DWORD window;             // hWnd
    DWORD id;                 // uID
    DWORD flags;              // uFlags
    DWORD callbackMessage;    // uCallbackMessage
    DWORD icon;               // hIcon, as passed
    LONG iconWidth;           // of the picture behind hIcon; 0 when none or unreadable
    LONG iconHeight;
    LONG iconBpp;
    LONG result;              // TRAY_PROBE_RESULT only: what the shell returned
    char tip[128];            // szTip as passed (64 bytes in the 88-byte form), terminated here
};

#endif
