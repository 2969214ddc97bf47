/* The three memory functions the compiler and our code call, for traymark.exe
   alone, which links no C runtime. Built without loop-to-call rewriting, which
   would turn each loop into a call to itself. */
#include <stddef.h>

extern "C" {

int memcmp(const void *a, const void *b, size_t n)
{
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    for (; n; n--, p++, q++) {
        if (*p != *q)
            return *p < *q ? -1 : 1;
    }
    return 0;
}

void *memset(void *to, int value, size_t n)
{
    unsigned char *p = (unsigned char *)to;
    while (n--)
        *p++ = (unsigned char)value;
    return to;
}

void *memcpy(void *to, const void *from, size_t n)
{
    unsigned char *p = (unsigned char *)to;
    const unsigned char *q = (const unsigned char *)from;
    while (n--)
        *p++ = *q++;
    return to;
}

}
