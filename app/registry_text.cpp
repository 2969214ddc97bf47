#include <windows.h>

#include "app/registry_text.h"

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

int QueryRegText(HKEY key, const char *name, char *buf, DWORD size)
{
    DWORD type = 0;
    DWORD length = size;
    if (size == 0)
        return 0;
    buf[0] = 0;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, (BYTE *)buf, &length);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buf[0] = 0;
        return 0;
    }
    TerminateRegText(buf, length, size);
    return 1;
}

int QueryRegDefaultText(HKEY root, const char *subkey, char *buf, LONG size)
{
    /* RegQueryValueA hides the type, and would hand over a binary value as text. */
    HKEY key;
    if (size <= 0)
        return 0;
    buf[0] = 0;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    int ok = QueryRegText(key, NULL, buf, (DWORD)size);
    RegCloseKey(key);
    return ok;
}
