#include <windows.h>

#include "base/text_ops.h"

char *FindCharForward(const char *text, char ch)
{
    const char *p = text;
    while (*p && *p != ch)
        p = CharNextA(p);
    return (char *)p;
}

char *FindLastChar(const char *text, char ch)
{
    const char *last = text;
    for (const char *p = text; *p; p = CharNextA(p)) {
        if (*p == ch)
            last = p;
    }
    return (char *)last;
}

char *LastCharPtr(const char *text)
{
    const char *last = text;
    for (const char *p = text; *p; p = CharNextA(p))
        last = p;
    return (char *)last;
}

int CountChars(const char *text)
{
    int count = 0;
    for (const char *p = text; *p; p = CharNextA(p))
        count++;
    return count;
}

void CopyChars(char *out, const char *in, int limit)
{
    char *o = out;
    for (int copied = 0; copied < limit - 1 && *in; copied++) {
        if (IsDBCSLeadByte((BYTE)*in)) {
            if (!in[1])
                break;          /* a lead byte without its trail byte is dropped */
            *o++ = *in++;
        }
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
        int width = 1;
        if (IsDBCSLeadByte((BYTE)*in)) {
            if (!in[1])
                break;
            width = 2;
        }
        if (used + width >= outSize)
            break;
        out[used++] = *in++;
        if (width == 2)
            out[used++] = *in++;
    }
    out[used] = 0;
}
