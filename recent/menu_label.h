/* Turning an archive path into a tray menu label. */
#ifndef TRAYMARK_MENU_LABEL_H
#define TRAYMARK_MENU_LABEL_H

#define LABEL_LIMIT 64
#define LABEL_BUFFER_SIZE 524

/* Rewrites path (at least 261 bytes) in place to at most 64 characters
   (66 when the kept name ends in a dot). */
void ShortenMenuLabel(char *path);
/* Writes in to out with every '&' doubled; out needs twice the length of in plus one. */
void EscapeAmpersands(char *out, const char *in);

#endif
