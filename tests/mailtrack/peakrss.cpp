// peakrss FILE PROGRAM [ARG...]: runs the program with this process's standard input, output and
// error, writes its peak resident size in KiB (wait4's ru_maxrss) to FILE and exits as the program
// did (128 + the signal number when a signal ended it).
//
// A program started straight from a test inherits the test process's resident pages at fork,
// and its peak keeps them past exec; started from this small process, its peak is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: peakrss FILE PROGRAM [ARG...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "peakrss: exec %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    pid_t done;
    while ((done = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    if (done != pid)
        return 2;
    FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(out) != 0)
        return 2;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
