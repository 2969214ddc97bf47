#include <windows.h>

#include "base/text_ops.h"

/* Under the UTF-8 ANSI code page (65001: a manifest's activeCodePage, or
   Windows 10's "Beta: Use Unicode UTF-8" setting) IsDBCSLeadByte is false for
   every byte and CharNextA steps one byte at a time, so a sequence of two to
   four bytes would count as as many characters and could be cut in two. */
static int Utf8SequenceLength(BYTE lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 1;
}

int CharSize(const char *text)
{
    if (GetACP() != CP_UTF8)
        return !IsDBCSLeadByte((BYTE)*text) ? 1 : text[1] ? 2 : 0;
    int length = Utf8SequenceLength((BYTE)*text);
    for (int i = 1; i < length; i++) {
        if (!text[i])
            return 0;
        if (((BYTE)text[i] & 0xC0) != 0x80)
            return 1;           /* a lead byte without its continuation bytes stands alone */
    }
    return length;
}

char *NextChar(const char *text)
{
    if (!*text)
        return (char *)text;
    int size = CharSize(text);
    if (size == 0)
        return (char *)text + lstrlenA(text);   /* the rest is a character cut short */
    return (char *)text + size;
}

char *FindCharForward(const char *text, char ch)
{
    const char *p = text;
    while (*p && *p != ch)
        p = NextChar(p);
    return (char *)p;
}

char *FindLastChar(const char *text, char ch)
{
    const char *last = text;
    for (const char *p = text; *p; p = NextChar(p)) {
        if (*p == ch)
            last = p;
    }
    return (char *)last;
}

char *LastCharPtr(const char *text)
{
    const char *last = text;
    for (const char *p = text; *p; p = NextChar(p))
        last = p;
    return (char *)last;
}

int CountChars(const char *text)
{
    int count = 0;
    for (const char *p = text; *p; p = NextChar(p))
        count++;
    return count;
}

void CopyChars(char *out, const char *in, int limit)
{
    char *o = out;
    for (int copied = 0; copied < limit - 1 && *in; copied++) {
        int size = CharSize(in);
        if (size == 0)
            break;              /* a character cut short by the terminator is dropped */
        for (int i = 0; i < size; i++)
            *o++ = *in++;
    }
    *o = 0;
}

void CopyTextBounded(char *out, const char *in, int outSize)
{
    if (outSize <= 0)
        return;
    *out = 0;
    AppendTextBounded(out, in, outSize);
}

void AppendTextBounded(char *out, const char *in, int outSize)
{
    int used = lstrlenA(out);
    while (*in) {
        int size = CharSize(in);
        if (size == 0 || used + size >= outSize)
            break;
        for (int i = 0; i < size; i++)
            out[used++] = *in++;
    }
    out[used] = 0;
}
