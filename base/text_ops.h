/* Text operations that step with CharNextA, so that a double-byte character
   counts as one and its trail byte is never mistaken for '\\' or '.'. */
#ifndef TRAYMARK_TEXT_OPS_H
#define TRAYMARK_TEXT_OPS_H

/* A path as Corvex and the shell store it: 260 characters plus terminator. */
#define PATH_BUFFER_SIZE 261

char *FindCharForward(const char *text, char ch);
char *FindLastChar(const char *text, char ch);
char *LastCharPtr(const char *text);
int CountChars(const char *text);
void CopyChars(char *out, const char *in, int limit);

/* Copies whole characters while they fit in outSize bytes with the terminator. */
void CopyTextBounded(char *out, const char *in, int outSize);
/* Appends whole characters to out while they fit in outSize bytes. */
void AppendTextBounded(char *out, const char *in, int outSize);

#endif
