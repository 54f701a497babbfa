// Functions the product's server processes share: the server status file "server.sta" in the
// current directory, the local host name, the installation's developer logo, publishing a log
// file under "$FAXROOT/logging" by a hard link, checks of a fax station identifier, user names
// and ownership, a similarity measure of two telephone numbers, job file names, bit operations
// and a few wrappers of the runtime.
//
// The file functions report through their results and never print; only CheckOrDie prints and
// ends the program. Checks that complain append to the caller's error text, never past its size.
#pragma once

#include <cstddef>
#include <cstdint>

// Server states, with the names written to the status file in this order.
enum ServerState { SERVER_STOPPED, SERVER_RUNNING, SERVER_SHUTDOWN, SERVER_SYNC, SERVER_CONVERTING };
constexpr int SERVER_STATE_COUNT = 5;

// The name of a state ("stopped", "running", "shutdown", "sync", "converting"); null outside 0-4.
const char *ServerStateName(int state);

// Reads "server.sta": 0 with the process id, the time and the state index; 12 no file; 13 a line
// missing or not convertible; 14 a state name that is none of the five (case matters).
int ReadServerStatus(uint32_t *pid, int32_t *time, int *state);

// Writes "server.sta" with this process's id, the current time and the state's name: 0 written;
// 9 the file cannot be created; 10 writing failed (also for a state outside 0-4, for which no
// file is touched); 11 closing failed.
int WriteServerStatus(int state);

// LOCALHOSTNAME (at most 35 characters, kept once found) when set, else the node name of the
// host. Static texts.
const char *GetLocalHostName();

// First line of "$FAXROOT/config/develop.logo", at most 10 characters, trailing white space
// removed, in a static buffer. When FAXROOT is not set or the file cannot be opened the buffer
// keeps its last content (empty at start).
const char *GetDevelopLogo();

// Makes "$FAXROOT/logging/<name>" a hard link to file, removing what was there. Returns 0 in any
// case: a failed removal or link, an unset FAXROOT or a path too long for the logging directory
// leave nothing published and are not reported.
int PublishLog(const char *file, const char *name);
// Like PublishLog, first removing the logging file oldName and renaming the logging file name to
// oldName, so the previous log stays published under the old name.
int PublishLogKeepOld(const char *file, const char *name, const char *oldName);

// "errno: %d, msg text: '%s'" with errno and its system text, in a static buffer.
const char *ErrnoText();
void ClearErrno();
// Pauses for the seconds; returns what sleep(3) returns.
unsigned SleepSeconds(unsigned seconds);
// The current time in 32-bit seconds.
int32_t CurrentTime();
// Seconds of the local time given (month 1-12, year counted from 1900); the summer-time flag and
// the day of the year are left to the conversion, weekday is not used. -1 when not convertible.
int32_t MakeTime(int day, int month, int year, int hour, int minute, int second, int weekday);

// ok: returns. Else writes text (at most 259 characters) with the system's errno message, then
// "!!!\nProgram terminated\n" to the standard error and ends the program with exit code 13.
void CheckOrDie(int ok, const char *text);

// 1 when tsi is at least 5 characters of blanks, "+", ">", "<", digits and ASCII letters; else
// 0 with "TSI too short, " or "illegal char \"<the others, in order>\", " appended to
// errorText, a terminated text in a buffer of errorSize bytes.
int CheckTSI(const char *tsi, char *errorText, size_t errorSize);

// How much two telephone numbers look alike, 0 to 1000: from the longest run of at least 3
// digits of a (first 30 digits) that occurs among the digits of b, 500 L / digits of b plus
// 500 L / characters of a other than blanks; 0 without such a run.
int DigitSimilarity(const char *a, const char *b);

// An ASCII letter or digit, "#", "+", "-", ".", "_", or a byte from 0x81 to 0xFE.
bool IsNameChar(char c);
// Every character is a name character (an empty text is valid).
bool IsValidName(const char *text);

// True when user is owner or "FAXADM".
bool IsOwnerOrAdmin(const char *owner, const char *user);
// Like IsOwnerOrAdmin; when false appends "illegal user <user> (owner <owner>), " to errorText
// (errorSize bytes).
bool CheckOwner(const char *owner, const char *user, char *errorText, size_t errorSize);

// Room MakeJobName needs, terminator included.
constexpr size_t JOB_NAME_SIZE = 17;
// Writes "<job in hex>.<part as 16-bit signed><'a' + letter>" into buffer (JOB_NAME_SIZE
// bytes), "ff.3e" for job 255, part 3, letter 4. Returns the characters written.
int MakeJobName(char *buffer, uint32_t job, int part, int letter);

// 1 and *value when text reads as a 32-bit hexadecimal number ("%lx": a leading minus wraps,
// "-1" gives 0xffffffff), else 0 and 0.
int ParseHexLong(const char *text, uint32_t *value);

// Bit n modulo 32: its mask, set or cleared in *word (the new word is returned), or tested (0/1).
uint32_t BitMask(int n);
uint32_t SetBit(uint32_t *word, int n, int flag);
int TestBit(uint32_t word, int n);

// Offset of local time that the server processes add: 0; the cached form computes it once.
int32_t LocalTimeOffset();
int32_t CachedLocalTimeOffset();

// "\n".
const char *NewlineText();
// Queries this platform does not offer: *value 0, result 34.
int QueryNotSupported(const void *any, int32_t *value);
