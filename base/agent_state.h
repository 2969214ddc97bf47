/* The one process-wide record. One thread, so it is never locked. */
#ifndef TRAYMARK_AGENT_STATE_H
#define TRAYMARK_AGENT_STATE_H

#include <windows.h>

/* A folder's long or short form: a path with a few bytes to spare. */
#define FOLDER_FIELD_SIZE 264

struct VolatileFolderSet {
    int  tempKnown;
    char tempLong[FOLDER_FIELD_SIZE];
    char tempShort[FOLDER_FIELD_SIZE];
    int  cacheKnown;
    char cacheLong[FOLDER_FIELD_SIZE];
    char cacheShort[FOLDER_FIELD_SIZE];
};

struct AgentStateRecord {
    HINSTANCE hInstance;
    int isMe;
    int isNT;
    int isXPClass;
    int busy;                  /* keeps tray clicks out while something modal is up */
    ATOM instanceAtom;
    DWORD clickDeadline;       /* end of the double-click window of the last left click */
    DWORD lastClickTick;       /* when that window began */
    int clickSeen;             /* there was a left click since the start */
    UINT taskbarCreatedMsg;
    VolatileFolderSet VolatileFolders;
};

extern AgentStateRecord AgentState;

#endif
