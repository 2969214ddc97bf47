/* The command-line tail: what follows the program name and the blanks after it. */
#ifndef TRAYMARK_COMMAND_TAIL_H
#define TRAYMARK_COMMAND_TAIL_H

const char *CommandLineTail(const char *commandLine);

#endif
