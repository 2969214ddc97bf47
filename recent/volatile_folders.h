/* The temporary and Internet cache folders, whose archives vanish on their own. */
#ifndef TRAYMARK_VOLATILE_FOLDERS_H
#define TRAYMARK_VOLATILE_FOLDERS_H

#define FOLDER_FIELD_SIZE 264

void RefreshVolatileFolders(void);
int IsInVolatileFolder(const char *path);
/* out: a 264-byte field. */
void ExpandLongPath(const char *in, char *out);
/* out: at least 261 bytes. */
void ShortPathOrEmpty(const char *in, char *out);
int StartsWithFolder(const char *path, const char *longForm, const char *shortForm);

#endif
