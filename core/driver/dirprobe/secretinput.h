// dirprobe's password input: the terminal's echo switch and a reader of one whole line.
#pragma once

#include <cstddef>
#include <cstdio>

// Switches the echo of the terminal on the standard input on or off; nothing when the standard
// input is not a terminal. While echo is off, SIGINT, SIGTERM and the end of the program switch
// it back on (a signal that was ignored stays ignored); the signal then does what it did
// before. A stop (SIGTSTP, SIGTTIN, SIGTTOU) puts the terminal back as the user had it before the
// program stops; when it continues in the foreground (SIGCONT) the echo goes off again.
void SetConsoleEcho(int on);

// Reads one whole line from `in` into buf (at most size - 1 characters kept; the rest of a
// longer line is read and dropped) without its line end ("\n" or "\r\n"). false at the end of
// the input before any character. size must be at least 1.
bool ReadSecretLine(std::FILE *in, char *buf, size_t size);
