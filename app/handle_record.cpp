#include <windows.h>

#include "app/handle_record.h"

static const char kAgentKey[] = "Software\\Velmora\\Corvex\\Corvex";
static const char kHandleValue[] = "Traymark Window Handle";

void WriteAgentWindowHandle(HWND hwnd)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kAgentKey, 0, (LPSTR) "Corvex Application Data", 0,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    char text[32];
    wsprintfA(text, "%ld", (LONG)(LONG_PTR)hwnd);
    /* Stored without its terminator, as earlier releases wrote it. */
    RegSetValueExA(key, kHandleValue, 0, REG_SZ, (const BYTE *)text, lstrlenA(text));
    RegCloseKey(key);
}

LONG ParseHandleText(const char *text, DWORD length)
{
    DWORD i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t'))
        i++;
    int negative = 0;
    if (i < length && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        i++;
    }
    /* Accumulate unsigned so that an over-long number wraps instead of overflowing. */
    DWORD value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; i++)
        value = value * 10 + (DWORD)(text[i] - '0');
    return negative ? (LONG)(0u - value) : (LONG)value;
}

LONG ReadAgentWindowHandle(void)
{
    char text[32];
    DWORD length = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kAgentKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type;
        length = sizeof text;
        if (RegQueryValueExA(key, kHandleValue, NULL, &type, (BYTE *)text, &length) != ERROR_SUCCESS ||
            type != REG_SZ)
            length = 0;
        RegCloseKey(key);
    }
    return ParseHandleText(text, length);
}
