// What the menu hook inside traymark.exe tells the test process about each
// pop-up menu it is about to show: the items' texts as the menu holds them, in
// Unicode, so that the test sees the characters the user would see.
#ifndef TRAYMARK_MENUHOOK_MENU_PROBE_H
#define TRAYMARK_MENUHOOK_MENU_PROBE_H

// The test process's probe window: a top-level window of this class.
#define MENU_PROBE_CLASS "Traymark menu probe"
// COPYDATASTRUCT.dwData of a report: one text per item, top first, each ended
// by a NUL (a separator has an empty text).
#define MENU_PROBE_ITEMS 0x4D454E55
// The hook, once it has taken the import's place, sets the event of this name
// (with the process id), which the starter created.
#define MENU_HOOK_READY_FORMAT "Traymark menu hook %lu"

#endif
