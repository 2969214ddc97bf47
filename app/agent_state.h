/* The one process-wide record. One thread, so it is never locked. */
#ifndef TRAYMARK_AGENT_STATE_H
#define TRAYMARK_AGENT_STATE_H

#include <windows.h>

/* Paths as stored by Corvex and the shell: 260 characters plus terminator. */
#define PATH_BUFFER_SIZE 261

struct VolatileFolderSet {
    int  tempKnown;
    char tempLong[264];
    char tempShort[264];
    int  cacheKnown;
    char cacheLong[264];
    char cacheShort[264];
};

struct AgentStateRecord {
    HINSTANCE hInstance;
    int isMe;
    int isNT;
    int isXPClass;
    int busy;                  /* keeps tray clicks out while something modal is up */
    ATOM instanceAtom;
    DWORD clickDeadline;       /* end of the double-click window of the last left click */
    UINT taskbarCreatedMsg;
    VolatileFolderSet VolatileFolders;
};

extern AgentStateRecord AgentState;

#endif
