// dirprobe's printing of one resolved extension and its IMAP login check.
#pragma once

// Resolves the extension through the harness and prints the record on the standard output;
// for a user with an IMAP login name asks for the password (echo off) and checks the login.
void ResolveAndPrint(const char *extension);
