#include <windows.h>

#include "base/text_ops.h"
#include "recent/menu_label.h"

static const int kFolderMarkerRoom = 4;  /* "...\" */
static const int kNameMarkerRoom = 3;    /* "..." */
static const int kMinimumHead = 3;

void ShortenMenuLabel(char *path)
{
    int L = CountChars(path);
    if (L <= LABEL_LIMIT)
        return;

    int E = CountChars(FindLastChar(path, '.'));
    const char *name = CharNextA(FindLastChar(path, '\\'));
    int N = CountChars(name);
    int D = L - N;

    int H = LABEL_LIMIT - N - kFolderMarkerRoom;
    if (H < kMinimumHead)
        H = kMinimumHead;
    if (H + kFolderMarkerRoom > D)
        H = D;

    /* Each piece is at most 64 characters of two bytes at most. */
    char head[2 * LABEL_LIMIT + 8];
    char tail[2 * LABEL_LIMIT + 8];
    CopyChars(head, path, H + 1);
    int m = 0;
    if (D > H) {
        lstrcatA(head, "...\\");
        m = kFolderMarkerRoom;
    }

    int T = LABEL_LIMIT - (H + m) - kNameMarkerRoom;
    if (T >= N - kNameMarkerRoom)
        T = N;
    if (T == N - E + 1)
        T = T - 1;   /* never end the tail on the dot of the extension */
    CopyChars(tail, name, T + 1);
    if (T < N)
        lstrcatA(tail, "...");

    lstrcpyA(path, head);
    lstrcatA(path, tail);
}

void EscapeAmpersands(char *out, const char *in)
{
    char *o = out;
    while (*in) {
        if (IsDBCSLeadByte((BYTE)*in)) {
            if (!in[1])
                break;
            *o++ = *in++;
            *o++ = *in++;
            continue;
        }
        if (*in == '&')
            *o++ = '&';
        *o++ = *in++;
    }
    *o = 0;
}
