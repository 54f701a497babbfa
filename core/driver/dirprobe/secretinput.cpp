// The password input of dirprobe: echo switch and line reader.
#include "secretinput.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// The terminal mode before echo was switched off, restored by SetConsoleEcho(1), by the signal
// handlers and at exit.
struct termios savedMode;
volatile sig_atomic_t echoOff = 0;

void OnEnd(int sig);
void OnStop(int sig);
void OnContinue(int sig);

// The signals handled while the echo is off, and what each did before. SIGINT and SIGTERM end
// the program with the terminal restored; the stop signals stop it with the terminal as the user
// had it; SIGCONT switches the echo off again once the program runs in the foreground again.
struct Handled {
    int sig;
    void (*handler)(int);
    struct sigaction old;
};
Handled handled[] = {
    {SIGINT, OnEnd, {}},   {SIGTERM, OnEnd, {}},  {SIGTSTP, OnStop, {}},
    {SIGTTIN, OnStop, {}}, {SIGTTOU, OnStop, {}}, {SIGCONT, OnContinue, {}},
};
const size_t kHandledCount = sizeof handled / sizeof handled[0];

const struct sigaction *OldAction(int sig)
{
    for (size_t i = 0; i < kHandledCount; ++i)
        if (handled[i].sig == sig)
            return &handled[i].old;
    return nullptr;
}

void RestoreEcho()
{
    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
        echoOff = 0;
    }
}

void OnEnd(int sig)
{
    RestoreEcho();
    // Let the signal do what it did before.
    sigaction(sig, OldAction(sig), nullptr);
    raise(sig);
}

// While the password is asked for, the echo goes off again whenever the program continues in
// the foreground (a shell turns it on while the program is stopped).
void EchoOffAgain()
{
    struct termios mode;
    if (echoOff && tcgetpgrp(STDIN_FILENO) == getpgrp() && tcgetattr(STDIN_FILENO, &mode) == 0) {
        mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    }
}

// Puts back the user's mode and stops for real; when continued, or when the stop was dropped (a
// process group without a shell to continue it), handles the signal again with the echo off.
// Only async-signal-safe calls.
void OnStop(int sig)
{
    int savedErrno = errno;
    if (echoOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    struct sigaction stop, mine;
    std::memset(&stop, 0, sizeof stop);
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(sig, &stop, &mine);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    sigaction(sig, &mine, nullptr);
    EchoOffAgain();
    errno = savedErrno;
}

void OnContinue(int)
{
    int savedErrno = errno;
    EchoOffAgain();
    errno = savedErrno;
}

void InstallHandlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    // A handler that changes the terminal runs with the stop and continue signals held back.
    for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT})
        sigaddset(&sa.sa_mask, sig);
    for (size_t i = 0; i < kHandledCount; ++i) {
        Handled &h = handled[i];
        sa.sa_handler = h.handler;
        // A stop in the middle of the password's read goes on reading afterwards.
        sa.sa_flags = h.handler == OnEnd ? 0 : SA_RESTART;
        sigaction(h.sig, &sa, &h.old);
        // A signal the program ignores stays ignored: it must not turn the echo on mid-password.
        // An ignored SIGCONT still continues the program, so its handler stays.
        if (h.sig != SIGCONT && h.old.sa_handler == SIG_IGN)
            sigaction(h.sig, &h.old, nullptr);
    }
}

void RestoreHandlers()
{
    for (size_t i = 0; i < kHandledCount; ++i)
        sigaction(handled[i].sig, &handled[i].old, nullptr);
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
        RestoreHandlers();
        return;
    }
    if (echoOff)
        return;
    savedMode = mode;
    if (!atExitSet) {
        std::atexit(RestoreEcho);
        atExitSet = true;
    }
    InstallHandlers();
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
