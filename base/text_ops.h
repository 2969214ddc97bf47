/* Text operations that step a character at a time, so that a double-byte
   character counts as one and its trail byte is never mistaken for '\\' or
   '.', and a UTF-8 sequence counts as one under code page 65001. */
#ifndef TRAYMARK_TEXT_OPS_H
#define TRAYMARK_TEXT_OPS_H

/* A path as Corvex and the shell store it: 260 characters plus terminator. */
#define PATH_BUFFER_SIZE 261

/* Bytes of the character at text (1 at the terminator); 0 when the
   terminator comes inside it. */
int CharSize(const char *text);
/* The next character, as CharNextA but whole under code page 65001 too. */
char *NextChar(const char *text);
char *FindCharForward(const char *text, char ch);
char *FindLastChar(const char *text, char ch);
char *LastCharPtr(const char *text);
int CountChars(const char *text);
/* Copies at most limit - 1 whole characters: out needs up to four bytes a
   character under code page 65001, two under a double-byte one. */
void CopyChars(char *out, const char *in, int limit);

/* Copies whole characters while they fit in outSize bytes with the terminator. */
void CopyTextBounded(char *out, const char *in, int outSize);
/* Appends whole characters to out while they fit in outSize bytes. */
void AppendTextBounded(char *out, const char *in, int outSize);

#endif
