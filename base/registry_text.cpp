#include <windows.h>

#include "base/registry_text.h"

void TerminateRegText(char *buf, DWORD length, DWORD size)
{
    if (size == 0)
        return;
    /* A value that fills the limit without its terminator loses its last byte. */
    DWORD end = length < size ? length : size - 1;
    buf[end] = 0;

    /* Never leave half of a double-byte character at the end. */
    DWORD i = 0;
    while (i < end && buf[i]) {
        if (IsDBCSLeadByte((BYTE)buf[i])) {
            if (i + 1 >= end || !buf[i + 1]) {
                buf[i] = 0;
                break;
            }
            i += 2;
        } else {
            i++;
        }
    }
}

int QueryRegString(HKEY key, const char *name, char *buf, DWORD size, DWORD *length)
{
    DWORD type = 0;
    *length = size;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, (BYTE *)buf, length);
    /* A key without a default value reads as an empty text, as RegQueryValueA
       has it: the key itself is what names the fact. */
    if (rc == ERROR_FILE_NOT_FOUND && (!name || !*name)) {
        *length = 0;
        return 1;
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        *length = 0;
        return 0;
    }
    return 1;
}

int QueryRegText(HKEY key, const char *name, char *buf, DWORD size)
{
    DWORD length;
    if (size == 0)
        return 0;
    if (!QueryRegString(key, name, buf, size, &length)) {
        buf[0] = 0;
        return 0;
    }
    TerminateRegText(buf, length, size);
    return 1;
}

int ReadRegString(HKEY root, const char *subkey, const char *name, char *buf, DWORD size, DWORD *length)
{
    HKEY key;
    *length = 0;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return REG_TEXT_NO_KEY;
    int read = QueryRegString(key, name, buf, size, length);
    RegCloseKey(key);
    return read ? REG_TEXT_READ : REG_TEXT_NO_VALUE;
}

int ReadRegText(HKEY root, const char *subkey, const char *name, char *buf, DWORD size)
{
    DWORD length;
    if (size == 0)
        return REG_TEXT_NO_VALUE;
    int read = ReadRegString(root, subkey, name, buf, size, &length);
    if (read == REG_TEXT_READ)
        TerminateRegText(buf, length, size);
    else
        buf[0] = 0;
    return read;
}
