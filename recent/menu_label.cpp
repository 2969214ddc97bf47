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
    const char *name = NextChar(FindLastChar(path, '\\'));
    int N = CountChars(name);
    int D = L - N;

    int H = LABEL_LIMIT - N - kFolderMarkerRoom;
    if (H < kMinimumHead)
        H = kMinimumHead;
    if (H + kFolderMarkerRoom > D)
        H = D;

    /* Each piece is a part of the path and a marker: under code page 65001
       64 characters can take four bytes each, more than the path holds. */
    char head[PATH_BUFFER_SIZE + 8];
    char tail[PATH_BUFFER_SIZE + 8];
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
        int size = CharSize(in);
        if (size == 0)
            break;              /* a character cut short by the terminator is dropped */
        if (*in == '&')
            *o++ = '&';
        for (int i = 0; i < size; i++)
            *o++ = *in++;
    }
    *o = 0;
}
