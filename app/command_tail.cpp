#include <windows.h>

#include "app/command_tail.h"

static int IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

/* MinGW-w64's start-up code tests the bytes of an unquoted program name as
   signed chars, so a folder byte of 0x80 or more ended the name there and the
   tail began inside the path. Here bytes are compared as they are, and the name
   is walked a character at a time, as Windows' own start-up code does. */
const char *CommandLineTail(const char *commandLine)
{
    const char *p = commandLine;
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p = CharNextA(p);
        if (*p == '"')
            p++;
    } else {
        while (*p && !IsBlank(*p))
            p = CharNextA(p);
    }
    while (IsBlank(*p))
        p++;
    return p;
}
