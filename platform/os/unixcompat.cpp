// Our own option parser: no reordering of arguments, the system's own messages.
#include "os/unixcompat.h"

#include <unistd.h>

#include <cstring>

namespace tela {

int OptInd = 1;
int OptErr = 1;
int OptOpt = 0;
char *OptArg = nullptr;

namespace {

// Index of the next option character inside argv[OptInd].
int position = 1;

// "<argv0><what><c>\n" on the standard error, in three unbuffered writes.
void Complain(const char *argv0, const char *what, char c)
{
    if (!OptErr)
        return;
    const char *name = argv0 ? argv0 : "";
    char tail[2] = {c, '\n'};
    ssize_t ignored = write(2, name, strlen(name));
    ignored = write(2, what, strlen(what));
    ignored = write(2, tail, sizeof tail);
    (void)ignored;
}

}  // namespace

int GetOpt(int argc, char *const argv[], const char *opts)
{
    if (position == 1) {
        if (OptInd >= argc || !argv[OptInd] || argv[OptInd][0] != '-' || argv[OptInd][1] == '\0')
            return -1;
        if (strcmp(argv[OptInd], "--") == 0) {
            ++OptInd;
            return -1;
        }
    }
    const char *arg = argv[OptInd];
    char c = arg[position];
    OptOpt = static_cast<unsigned char>(c);
    const char *letter = (c != ':' && opts) ? strchr(opts, c) : nullptr;
    if (!letter) {
        Complain(argv[0], ": unknown option, -", c);
        if (arg[++position] == '\0') {
            ++OptInd;
            position = 1;
        }
        return '?';
    }
    if (letter[1] == ':') {
        if (arg[position + 1] != '\0') {
            OptArg = const_cast<char *>(&arg[position + 1]);
        } else if (++OptInd >= argc) {
            Complain(argv[0], ": argument missing for -", c);
            position = 1;
            return '?';
        } else {
            OptArg = argv[OptInd];
        }
        ++OptInd;
        position = 1;
        return static_cast<unsigned char>(c);
    }
    if (arg[++position] == '\0') {
        position = 1;
        ++OptInd;
    }
    OptArg = nullptr;
    return static_cast<unsigned char>(c);
}

void GetOptReset()
{
    OptInd = 1;
    OptErr = 1;
    OptOpt = 0;
    OptArg = nullptr;
    position = 1;
}

}  // namespace tela
