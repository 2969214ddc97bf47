/* Registry string reads that always leave a terminated text inside the
   buffer: the registry hands back values without a terminating NUL, values
   that fill the whole limit, and values that end in a lone lead byte. */
#ifndef TRAYMARK_REGISTRY_TEXT_H
#define TRAYMARK_REGISTRY_TEXT_H

#include <windows.h>

/* Terminates buf (size bytes) after the `length` bytes a query returned. */
void TerminateRegText(char *buf, DWORD length, DWORD size);

/* RegQueryValueExA with `size` as the limit; non-zero when a string value was
   read. buf is emptied on failure. */
int QueryRegText(HKEY key, const char *name, char *buf, DWORD size);

/* A key's default value, with `size` as the limit. */
int QueryRegDefaultText(HKEY root, const char *subkey, char *buf, LONG size);

#endif
