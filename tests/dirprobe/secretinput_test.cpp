// dirprobe's password input on its own: the line reader over a pipe and over a real pty, and
// the echo switch on a pty that a child process has as its standard input (the switch installs
// signal handlers and an exit handler, so each case runs in a child of its own).
#include "secretinput.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// One read: what ReadSecretLine returns and the text it leaves in the buffer.
struct Read {
    bool got;
    std::string text;
};

struct LineCase {
    const char *what;
    std::string input;  // on a pty, \x04 is the end-of-file character
    size_t size;        // the buffer's size
    std::vector<Read> reads;
};

// Reads as the case says from `in`, checking every result.
void ExpectReads(std::FILE *in, const LineCase &c, size_t index, const char *channel)
{
    for (size_t r = 0; r < c.reads.size(); ++r) {
        std::vector<char> buf(c.size, '#');
        const bool got = ReadSecretLine(in, buf.data(), buf.size());
        EXPECT_EQ(got, c.reads[r].got) << channel << " case " << index << " (" << c.what << "), read " << r;
        EXPECT_EQ(std::string(buf.data()), c.reads[r].text)
            << channel << " case " << index << " (" << c.what << "), read " << r;
    }
}

const std::string kLong(300, 'x');

// The same cases over both channels; a pty's end of input is the end-of-file character.
std::vector<LineCase> LineCases(const std::string &eof)
{
    return {
        {"line feed", "word\n" + eof, 128, {{true, "word"}, {false, ""}}},
        {"carriage return and line feed", "word\r\n" + eof, 128, {{true, "word"}, {false, ""}}},
        {"no line end before the end", "word" + eof + eof, 128, {{true, "word"}, {false, ""}}},
        {"empty input", eof, 128, {{false, ""}}},
        {"empty lines", "\n\r\n" + eof, 128, {{true, ""}, {true, ""}, {false, ""}}},
        {"carriage return inside the line", "a\rb\n" + eof, 128, {{true, "a\rb"}}},
        {"two lines", "first\nsecond\n" + eof, 128, {{true, "first"}, {true, "second"}, {false, ""}}},
        {"long line: the rest is dropped",
         kLong + "\nnext\n" + eof,
         16,
         {{true, std::string(15, 'x')}, {true, "next"}, {false, ""}}},
        {"long line with \\r\\n", std::string(20, 'y') + "\r\n" + eof, 8, {{true, "yyyyyyy"}, {false, ""}}},
        {"line of the buffer's size", "1234567\n" + eof, 8, {{true, "1234567"}}},
        {"buffer of one byte", "abc\n" + eof, 1, {{true, ""}, {false, ""}}},
    };
}

TEST(SecretLine, OverAPipe)
{
    const std::vector<LineCase> cases = LineCases("");
    for (size_t i = 0; i < cases.size(); ++i) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const std::string &input = cases[i].input;
        ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        std::FILE *in = fdopen(fds[0], "r");
        ASSERT_NE(in, nullptr);
        ExpectReads(in, cases[i], i, "pipe");
        std::fclose(in);
    }
}

// A pty pair; the slave in canonical mode without echo (nobody reads the master's output here)
// and without the mapping of carriage returns to line feeds, so "\r\n" arrives as it was typed.
struct Pty {
    int master = -1;
    int slave = -1;
    Pty()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            master = slave = -1;
    }
    ~Pty()
    {
        if (slave >= 0)
            close(slave);
        if (master >= 0)
            close(master);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    bool Echo() const
    {
        struct termios mode;
        return tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
    }
};

TEST(SecretLine, OverAPty)
{
    const std::vector<LineCase> cases = LineCases("\x04");
    for (size_t i = 0; i < cases.size(); ++i) {
        Pty pty;
        ASSERT_GE(pty.master, 0) << "openpty: " << std::strerror(errno);
        struct termios mode;
        ASSERT_EQ(tcgetattr(pty.slave, &mode), 0);
        mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
        mode.c_iflag &= static_cast<tcflag_t>(~ICRNL);
        ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &mode), 0);
        const std::string &input = cases[i].input;
        ASSERT_EQ(write(pty.master, input.data(), input.size()), static_cast<ssize_t>(input.size()));
        std::FILE *in = fdopen(dup(pty.slave), "r");
        ASSERT_NE(in, nullptr);
        ExpectReads(in, cases[i], i, "pty");
        std::fclose(in);
    }
}

// ---- The echo switch -------------------------------------------------------------------------

// Waits up to 20 s for the fd to be readable; a child that hangs fails the case, not the run.
bool Readable(int fd)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 20000) == 1;
}

// A line the child reports over its pipe (up to a line feed), or "" when it ended first.
std::string ReadReport(int fd)
{
    std::string line;
    char ch;
    while (Readable(fd) && read(fd, &ch, 1) == 1 && ch != '\n')
        line += ch;
    return line;
}

// What the master side has received so far (the terminal's echo), without waiting.
std::string DrainMaster(int master)
{
    std::string out;
    char buf[256];
    for (;;) {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 0) != 1)
            break;
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// What the child does after the password was read with the echo off.
enum class Then { EchoOn, Terminate, Interrupt, Exit };

struct EchoCase {
    const char *what;
    bool ignoreInterrupt;  // SIGINT ignored before the echo goes off
    Then then;
    int killedBy;         // the signal that ends the child, 0 for a normal end
    bool echoAfterwards;  // the terminal's echo once the child has ended
};

const EchoCase kEchoCases[] = {
    {"switched on again", false, Then::EchoOn, 0, true},
    {"SIGTERM while off", false, Then::Terminate, SIGTERM, true},
    {"SIGINT while off", false, Then::Interrupt, SIGINT, true},
    {"ignored SIGINT while off", true, Then::Interrupt, 0, false},
    {"program ends while off", false, Then::Exit, 0, true},
};

// One report line to the test over `report`.
void Say(int report, const std::string &line)
{
    std::string l = line + "\n";
    (void)!write(report, l.data(), l.size());
}

// The child: the pty as its standard input, echo off, one password read and reported, then the
// case's ending. Reports go to `report`, one line each.
[[noreturn]] void RunChild(const EchoCase &c, int slave, int report)
{
    dup2(slave, STDIN_FILENO);
    if (c.ignoreInterrupt)
        signal(SIGINT, SIG_IGN);
    auto say = [report](const std::string &line) { Say(report, line); };
    SetConsoleEcho(0);
    say("off");
    char password[64];
    say(ReadSecretLine(stdin, password, sizeof password) ? password : "(none)");
    switch (c.then) {
    case Then::EchoOn: {
        SetConsoleEcho(1);
        say("on");
        char line[64];
        say(ReadSecretLine(stdin, line, sizeof line) ? line : "(none)");
        _exit(0);
    }
    case Then::Terminate:
        raise(SIGTERM);
        break;
    case Then::Interrupt:
        raise(SIGINT);
        break;
    case Then::Exit:
        std::exit(0);  // the exit handler switches the echo back on
    }
    _exit(0);  // an ignored signal: leave without the exit handler, echo still off
}

TEST(ConsoleEcho, OnARealPty)
{
    for (size_t i = 0; i < sizeof kEchoCases / sizeof kEchoCases[0]; ++i) {
        const EchoCase &c = kEchoCases[i];
        Pty pty;
        ASSERT_GE(pty.master, 0) << "openpty: " << std::strerror(errno);
        ASSERT_TRUE(pty.Echo()) << "a new pty echoes";
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            RunChild(c, pty.slave, report[1]);
        }
        close(report[1]);

        EXPECT_EQ(ReadReport(report[0]), "off") << "case " << i << " (" << c.what << ")";
        EXPECT_FALSE(pty.Echo()) << "case " << i << " (" << c.what << ")";
        ASSERT_EQ(write(pty.master, "secret\n", 7), 7);
        EXPECT_EQ(ReadReport(report[0]), "secret") << "case " << i << " (" << c.what << ")";
        // The line was read, so any echo of it has reached the master side by now.
        EXPECT_EQ(DrainMaster(pty.master).find("secret"), std::string::npos)
            << "case " << i << " (" << c.what << "): the password was echoed";
        if (c.then == Then::EchoOn) {
            EXPECT_EQ(ReadReport(report[0]), "on") << "case " << i;
            EXPECT_TRUE(pty.Echo()) << "case " << i;
            ASSERT_EQ(write(pty.master, "shown\n", 6), 6);
            EXPECT_EQ(ReadReport(report[0]), "shown") << "case " << i;
            EXPECT_NE(DrainMaster(pty.master).find("shown"), std::string::npos) << "case " << i;
        }

        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.killedBy != 0) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.killedBy)
                << "case " << i << " (" << c.what << "): status " << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "case " << i << " (" << c.what << "): status " << status;
        }
        EXPECT_EQ(pty.Echo(), c.echoAfterwards) << "case " << i << " (" << c.what << ")";
        close(report[0]);
    }
}

// ---- A stop at the prompt ---------------------------------------------------------------------

// Waits up to 20 s for the pty's echo to be as wanted.
bool EchoBecomes(const Pty &pty, bool on)
{
    for (int i = 0; i < 2000; ++i) {
        if (pty.Echo() == on)
            return true;
        usleep(10000);
    }
    return false;
}

struct StopCase {
    const char *what;
    bool typed;  // Ctrl-Z typed on the terminal; else SIGSTOP, which no program can catch
};

const StopCase kStopCases[] = {
    {"Ctrl-Z typed at the prompt", true},
    {"SIGSTOP at the prompt", false},
};

// The prompting program: in a process group of its own in the terminal's foreground, echo off,
// one password read and reported.
[[noreturn]] void RunPrompt(int slave, int report)
{
    setpgid(0, 0);
    tcsetpgrp(slave, getpid());  // SIGTTOU is still ignored, as the shell had it
    signal(SIGTTOU, SIG_DFL);
    dup2(slave, STDIN_FILENO);
    auto say = [report](const std::string &line) { Say(report, line); };
    SetConsoleEcho(0);
    say("off");
    char password[64];
    say(ReadSecretLine(stdin, password, sizeof password) ? password : "(none)");
    SetConsoleEcho(1);
    _exit(0);
}

// A job-control shell in a session of its own with the pty as its terminal: it starts the
// prompting program, and when that stops it reports the echo, takes the terminal, turns the echo
// on as shells do, gives the terminal back and continues the program ("fg").
[[noreturn]] void RunShell(int slave, int report)
{
    auto say = [report](const std::string &line) { Say(report, line); };
    setsid();
    if (ioctl(slave, TIOCSCTTY, 0) != 0) {
        say("no terminal");
        _exit(2);
    }
    signal(SIGTTOU, SIG_IGN);
    pid_t prompt = fork();
    if (prompt == 0)
        RunPrompt(slave, report);
    setpgid(prompt, prompt);
    tcsetpgrp(slave, prompt);
    int status = 0;
    if (waitpid(prompt, &status, WUNTRACED) != prompt || !WIFSTOPPED(status)) {
        say("not stopped");
        _exit(3);
    }
    struct termios mode;
    tcgetattr(slave, &mode);
    say(std::string("stopped, echo ") + ((mode.c_lflag & ECHO) ? "on" : "off"));
    tcsetpgrp(slave, getpgrp());
    mode.c_lflag |= ECHO;
    tcsetattr(slave, TCSANOW, &mode);
    tcsetpgrp(slave, prompt);
    kill(-prompt, SIGCONT);
    say("continued");
    if (waitpid(prompt, &status, 0) != prompt)
        _exit(4);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status));
}

TEST(ConsoleEcho, StaysOffAcrossAStopAtThePrompt)
{
    for (size_t i = 0; i < sizeof kStopCases / sizeof kStopCases[0]; ++i) {
        const StopCase &c = kStopCases[i];
        Pty pty;
        ASSERT_GE(pty.master, 0) << "openpty: " << std::strerror(errno);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        std::fflush(nullptr);
        pid_t shell = fork();
        ASSERT_GE(shell, 0);
        if (shell == 0) {
            close(report[0]);
            RunShell(pty.slave, report[1]);
        }
        close(report[1]);

        ASSERT_EQ(ReadReport(report[0]), "off") << "case " << i << " (" << c.what << ")";
        EXPECT_FALSE(pty.Echo()) << "case " << i;
        // The prompting program is the only member of the foreground group.
        pid_t prompt = tcgetpgrp(pty.master);
        ASSERT_GT(prompt, 0) << "case " << i;
        if (c.typed) {
            ASSERT_EQ(write(pty.master, "\x1a", 1), 1);
        } else {
            ASSERT_EQ(kill(prompt, SIGSTOP), 0);
        }
        const std::string stopped = ReadReport(report[0]);
        // Stopped by Ctrl-Z, it leaves the terminal as the user had it.
        if (c.typed) {
            EXPECT_EQ(stopped, "stopped, echo on") << "case " << i << " (" << c.what << ")";
        } else {
            EXPECT_EQ(stopped.rfind("stopped", 0), 0u) << "case " << i << ": " << stopped;
        }
        EXPECT_EQ(ReadReport(report[0]), "continued") << "case " << i;
        EXPECT_TRUE(EchoBecomes(pty, false)) << "case " << i << " (" << c.what << "): echo stays on";
        ASSERT_EQ(write(pty.master, "secret\n", 7), 7);
        EXPECT_EQ(ReadReport(report[0]), "secret") << "case " << i << " (" << c.what << ")";
        EXPECT_EQ(DrainMaster(pty.master).find("secret"), std::string::npos)
            << "case " << i << " (" << c.what << "): the password was echoed";

        int status = 0;
        ASSERT_EQ(waitpid(shell, &status, 0), shell);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "case " << i << " (" << c.what << "): status " << status;
        EXPECT_TRUE(pty.Echo()) << "case " << i << " (" << c.what << ")";
        close(report[0]);
    }
}

// Standard input that is not a terminal: the switch does nothing, not even install its
// handlers, so SIGTERM ends the program as it always does.
TEST(ConsoleEcho, NotATerminal)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(fds[0], STDIN_FILENO);
        struct sigaction caught;
        SetConsoleEcho(0);
        sigaction(SIGTERM, nullptr, &caught);
        _exit(caught.sa_handler == SIG_DFL ? 0 : 1);
    }
    close(fds[0]);
    close(fds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
