#include <windows.h>

#include "app/handle_record.h"
#include "base/registry_keys.h"
#include "base/registry_text.h"

static const char kHandleValue[] = "Traymark Window Handle";
static const int kHandleTextSize = 32;   /* "%ld" of any handle, with room to spare */

void WriteAgentWindowHandle(HWND hwnd)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, CORVEX_SETTINGS_KEY, 0, (LPSTR) "Corvex Application Data", 0,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    char text[kHandleTextSize];
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
    /* Stored without a terminator: only the bytes the query returned count. */
    char text[kHandleTextSize];
    DWORD length;
    ReadRegString(HKEY_CURRENT_USER, CORVEX_SETTINGS_KEY, kHandleValue, text, sizeof text, &length);
    return ParseHandleText(text, length);
}
