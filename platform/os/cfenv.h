// Installation environment: finds the product's bin directory (from FAXROOT or from the
// program's own path), reads, applies, edits and writes environment files of NAME=value lines,
// extends PATH, and starts other programs.
//
// Environment file: lines of NAME=value; lines whose first character is "#" are comments and
// are dropped. Each line loses only its line end ("\n" or "\r\n"). In a value every "?" stands
// for the value of FAXROOT. Paths use "/" and PATH elements are separated by ":".
#pragma once

#include <cstddef>

// Size of the path buffers of this file (terminator included).
constexpr size_t ENV_MAX_PATH = 4096;

// The lines of an environment file: an array of separately allocated texts ended by a null
// pointer, all from malloc. The owner frees it with FreeEnvFile.
using EnvFile = char **;

// Loads "<bin>/../etc/config" into the environment, where <bin> is "$FAXROOT/bin" when FAXROOT
// is set, else BinDirFromProgram(argv[0]); then sets PATH to "$FAXROOT/bin:$PATH" (a part that
// is not set is left out) and turns the backslashes of argv[0] into "/" in place. When there is
// no file it writes "config not found!!\n" to the standard error and ends the program with exit
// code 1. argc is not used.
void InitEnv(int *argc, char **argv);

// The bin directory of the installation from the program path as started (argv[0]): the path
// found through PATH (or as given, or below the current directory), cut at its last "/"; a last
// component "/lambda", "/cmdline" or "/etc" becomes "/bin"; "/smtp" or "/sapconnect" is removed
// and then a "/gateway" before it becomes "/bin". Case matters. out gets at most outSize - 1
// characters.
void BinDirFromProgram(const char *program, char *out, size_t outSize = ENV_MAX_PATH);

// `file` itself when it exists; else the first "<element>/<file>" that exists for the elements
// of the variable `variable` (a ":"-list); else an empty text.
void FindInPath(const char *file, const char *variable, char *out, size_t outSize = ENV_MAX_PATH);

// The first element of a ":"-list into out (cut to fit). Returns the rest of the list after
// the first ":", or nullptr when this was the last element (or list is nullptr: out is empty).
const char *NextListElement(const char *list, char *out, size_t outSize = ENV_MAX_PATH);

// Every backslash of text turned into "/", in place.
void ToSlashes(char *text);

// Puts name=value into the environment (setenv, replacing); an empty value removes the
// variable instead. 0 on success, -1 on failure; when out of memory it first writes "SetEnv"
// through perror.
int SetEnv(const char *name, const char *value);

// Reads the file; nullptr when it cannot be opened. Lines of any length.
[[nodiscard]] EnvFile ReadEnvFile(const char *path);
// Applies the file: its FAXROOT entry (unexpanded) wins over an inherited FAXROOT; every other
// variable is set from the file (with "?" expanded) only when it is not set already. Entries
// without "=" or with an empty name are skipped; an empty value sets nothing (an empty
// FAXROOT entry removes FAXROOT). Without a FAXROOT nothing else is set. Out of memory for an
// entry: "SetEnvFile()" through perror, then abort (the FAXROOT step reports as SetEnv does).
void SetEnvFile(EnvFile file);
// ReadEnvFile, SetEnvFile and FreeEnvFile: 1, or 0 when the file cannot be opened.
int LoadEnvFile(const char *path);
void FreeEnvFile(EnvFile file);
// The value inside the first entry "name=...", or nullptr when there is none.
char *GetEnvFileValue(EnvFile file, const char *name);
// Index of the first entry that starts with name followed by "=", else minus the number of
// entries (0 for an empty file or nullptr: test the entry itself to tell the two apart).
int FindEnvFileEntry(EnvFile file, const char *name);
// Sets the entry name=value, replacing the first such entry or appending one; file may be
// nullptr. Returns the array, which may have moved.
[[nodiscard]] EnvFile SetEnvFileValue(EnvFile file, const char *name, const char *value);
// Each entry followed by "\n". 1 written, 0 when the file cannot be created or written.
int WriteEnvFile(const char *path, EnvFile file);

// text with every "?" replaced by $FAXROOT; "echo FAXROOT not set" when FAXROOT is not set.
// The result lives in a per-thread buffer that the next call overwrites.
const char *ExpandFaxroot(const char *text);
// "\"text\"" in a per-thread buffer that the next call overwrites.
const char *QuoteString(const char *text);

// The process environment (environ).
char **GetEnvBlock();
// The spawn functions start `program` with the argument vector argv (nullptr-terminated, passed
// through unquoted) and the current environment.
// Waits for the program: its exit code (128 + signal number when killed), -1 when it cannot be
// started.
int SpawnAndWait(const char *program, char *const argv[]);
// Like SpawnAndWait, then ends the calling program with that exit code; returns only when the
// program cannot be started.
void SpawnAndExit(const char *program, char *const argv[]);
// Does not wait for the program (the child is reaped by the system), but raises it to high
// priority (nice -10) 100 ms after the start and sets it back to normal (nice 0) 100 ms later,
// so it returns after 200 ms. Where this process may not change the priority, the program runs
// on as it is. 1 when started, 0 else.
int SpawnDetached(const char *program, char *const argv[]);
// Replaces every element of argv with a malloc'ed copy in double quotes (the old elements are
// not freed), and FreeArgs frees the elements (not the array).
void QuoteArgs(char **argv);
void FreeArgs(char **argv);
