/* The temporary and Internet cache folders, whose archives vanish on their own. */
#ifndef TRAYMARK_VOLATILE_FOLDERS_H
#define TRAYMARK_VOLATILE_FOLDERS_H

#include "base/agent_state.h"

void RefreshVolatileFolders(void);
int IsInVolatileFolder(const char *path);
/* out: a FOLDER_FIELD_SIZE field. */
void ExpandLongPath(const char *in, char *out);
/* out: at least PATH_BUFFER_SIZE bytes. */
void ShortPathOrEmpty(const char *in, char *out);
int StartsWithFolder(const char *path, const char *longForm, const char *shortForm);

#endif
