/* rss_probe OUTFILE PROGRAM [ARG...]: runs PROGRAM as a child and writes its peak resident set
 * size in KiB and its exit status ("maxrss_kib N\nstatus N\n") to OUTFILE; exits with the
 * child's exit code (128 + signal when it was killed).
 *
 * The kernel carries the peak of the image a process replaces at exec into that process's
 * figure, so a program started straight from a large parent reports at least the parent's size.
 * Started from this small program instead, the figure is the program's own (with this program's
 * size, about a megabyte, as the floor). */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: rss_probe OUTFILE PROGRAM [ARG...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 2;
    }
    if (pid == 0) {
        execve(argv[2], argv + 2, environ);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            perror("wait4");
            return 2;
        }
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE *out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 2;
    }
    fprintf(out, "maxrss_kib %ld\nstatus %d\n", usage.ru_maxrss, code);
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 2;
    }
    return code;
}
