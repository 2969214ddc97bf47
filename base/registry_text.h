/* Registry string reads. Every read goes through one query with one type
   rule: REG_SZ or REG_EXPAND_SZ, taken as stored. Texts are always left
   terminated inside the buffer: the registry hands back values without a
   terminating NUL, values that fill the whole limit, and values that end in
   a lone lead byte. */
#ifndef TRAYMARK_REGISTRY_TEXT_H
#define TRAYMARK_REGISTRY_TEXT_H

#include <windows.h>

/* What the reads of root\subkey found. */
#define REG_TEXT_READ      1
#define REG_TEXT_NO_VALUE  0    /* the key opened; the value is missing or no string */
#define REG_TEXT_NO_KEY   (-1)

/* Terminates buf (size bytes) after the `length` bytes a query returned. */
void TerminateRegText(char *buf, DWORD length, DWORD size);

/* The bytes of a string value of an open key, at most `size`, counted in
   *length; nothing is added to them. name NULL or "" is the key's default
   value. Non-zero when a string was read; *length is 0 otherwise. */
int QueryRegString(HKEY key, const char *name, char *buf, DWORD size, DWORD *length);

/* The same as a terminated text; buf is emptied on failure. */
int QueryRegText(HKEY key, const char *name, char *buf, DWORD size);

/* The two reads above for root\subkey, opened for reading and closed again. */
int ReadRegString(HKEY root, const char *subkey, const char *name, char *buf, DWORD size, DWORD *length);
int ReadRegText(HKEY root, const char *subkey, const char *name, char *buf, DWORD size);

#endif
