// Unix-compatibility functions: our own option parser. The system's user-id functions, popen,
// pclose, byte functions and gettimeofday are used as they are.
//
// The parser does not reorder arguments: the first argument that is not an option ends the
// parsing. Its messages go to the standard error, unbuffered:
//   "<argv0>: unknown option, -<c>\n" and "<argv0>: argument missing for -<c>\n".
// It has its own names so that libraries calling the C library's parser never reach it.
#pragma once

namespace tela {

// Parser state, process-wide.
extern int OptInd;    // index of the next argument, 1 at start
extern int OptErr;    // non-zero: print messages (1 at start)
extern int OptOpt;    // the option character last looked at
extern char *OptArg;  // the argument of the last option, or nullptr

// The next option character of argv, '?' for an unknown option or a missing argument, -1 at
// the end of the options ("--" is skipped; "-" alone and a non-option stay at OptInd).
// An option letter followed by ":" in opts takes an argument (rest of the same argument, or
// the next argument).
int GetOpt(int argc, char *const argv[], const char *opts);

// Back to the start state (OptInd 1, OptErr 1, OptOpt 0, OptArg nullptr, position 1), for a
// second parse.
void GetOptReset();

}  // namespace tela
