// dirprobe's printing of one resolved extension and its IMAP login check.
#pragma once

#include <cstddef>
#include <cstdio>

// Resolves the extension through the harness and prints the record on the standard output;
// for a user with an IMAP login name asks for the password (echo off) and checks the login.
void ResolveAndPrint(const char *extension);

// Switches the echo of the terminal on the standard input on or off; nothing when the standard
// input is not a terminal. While echo is off, SIGINT, SIGTERM and the end of the program switch
// it back on.
void SetConsoleEcho(int on);

// Reads one whole line from `in` into buf (at most size - 1 characters kept; the rest of a
// longer line is read and dropped) without its line end ("\n" or "\r\n"). false at the end of
// the input before any character.
bool ReadSecretLine(std::FILE *in, char *buf, size_t size);
