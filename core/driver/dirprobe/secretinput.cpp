// The password input of dirprobe: echo switch and line reader.
#include "secretinput.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The terminal mode before echo was switched off, restored by SetConsoleEcho(1), by the signal
// handlers and at exit.
struct termios savedMode;
volatile sig_atomic_t echoOff = 0;
struct sigaction oldInt, oldTerm;

void RestoreEcho()
{
    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
        echoOff = 0;
    }
}

void OnSignal(int sig)
{
    RestoreEcho();
    // Let the signal do what it did before.
    sigaction(sig, sig == SIGINT ? &oldInt : &oldTerm, nullptr);
    raise(sig);
}

}  // namespace

void SetConsoleEcho(int on)
{
    static bool atExitSet = false;
    struct termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        return;  // not a terminal
    if (on) {
        if (!echoOff) {
            mode.c_lflag |= ECHO;
            tcsetattr(STDIN_FILENO, TCSANOW, &mode);
            return;
        }
        savedMode.c_lflag |= ECHO;
        RestoreEcho();
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        return;
    }
    if (echoOff)
        return;
    savedMode = mode;
    if (!atExitSet) {
        std::atexit(RestoreEcho);
        atExitSet = true;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    // A signal the program ignores stays ignored: it must not turn the echo on mid-password.
    if (oldInt.sa_handler == SIG_IGN)
        sigaction(SIGINT, &oldInt, nullptr);
    if (oldTerm.sa_handler == SIG_IGN)
        sigaction(SIGTERM, &oldTerm, nullptr);
    mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
    echoOff = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

bool ReadSecretLine(std::FILE *in, char *buf, size_t size)
{
    size_t n = 0;
    bool any = false;
    int ch;
    while ((ch = std::getc(in)) != EOF) {
        any = true;
        if (ch == '\n')
            break;
        if (n + 1 < size)
            buf[n++] = static_cast<char>(ch);
    }
    if (n > 0 && buf[n - 1] == '\r')
        --n;
    buf[n] = '\0';
    return any;
}
