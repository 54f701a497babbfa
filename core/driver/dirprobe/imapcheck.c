/* IMAP login check with the IMAP client library, and the application callbacks it requires. */
#include "imapcheck.h"

#include <c-client/c-client.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "imapcheck_testing.h"
#include "os/textcopy.h"

/* The credentials of the running check, handed to the library on its first attempt only. */
static const char *loginUser = "";
static const char *loginPassword = "";
static int loginAttempts = 0;
static int driversLinked = 0;

int ImapLoginAttempts(void)
{
    return loginAttempts;
}

/* The library's TLS start for STARTTLS, wrapped: by itself it offers a TLS 1.0 handshake only,
   which current servers and the system's TLS settings refuse. Without the flag the handshake
   offers every version that both sides allow; the certificate checks stay the library's. */
static sslstart_t libraryStartTls = NIL;

static void *StartTls(void *stream, char *host, unsigned long flags)
{
    return libraryStartTls(stream, host, flags & ~NET_TLSCLIENT);
}

/* The check itself, in the child process: the library's preparation and one mailbox open. */
static int RunCheck(const char *host, const char *user, const char *password)
{
    char mailbox[1024];
    MAILSTREAM *stream;

    if (!driversLinked) {
        mail_link(&imapdriver);
        mail_link(&pop3driver);
        auth_link(&auth_md5);
        auth_link(&auth_log);
        /* TLS for "/ssl" mailboxes and servers that offer STARTTLS. */
        ssl_onceonlyinit();
        libraryStartTls = (sslstart_t)mail_parameters(NIL, GET_SSLSTART, NIL);
        if (libraryStartTls)
            mail_parameters(NIL, SET_SSLSTART, (void *)StartTls);
        /* Straight to the IMAP port: no pre-authenticated rsh session to the mail host first. */
        mail_parameters(NIL, SET_RSHTIMEOUT, (void *)0);
        driversLinked = 1;
    }
    loginUser = user ? user : "";
    loginPassword = password ? password : "";
    if (host[0] == '{')
        snprintf(mailbox, sizeof mailbox, "%s", host);
    else
        snprintf(mailbox, sizeof mailbox, "{%s}", host);
    loginAttempts = 0;
    stream = mail_open(NIL, mailbox, NIL);
    if (!stream)
        return 0;
    mail_close_full(stream, NIL);
    return 1;
}

/* The whole check runs in a child process with limits of its own. The library's time-outs bound
   each wait, not the whole (a server that trickles keeps a read going), and its line reader joins
   a reply line in memory without a ceiling; neither can be bounded from outside the library in
   the same process. The parent kills the child when the check's time is up, and the child's
   data may grow by a fixed amount only (an allocation beyond it fails, and the library gives up
   by aborting). The result comes back as the exit status. */

static long checkBoundMs = 30000;

/* What the child's data (heap and private writable mappings) may grow by during the check. */
#define CHILD_DATA_HEADROOM (32L * 1024 * 1024)
/* The exit status of a child that ended its check: this base, plus 1 for a working login, plus 2
   when the library asked for the login. */
#define CHILD_DONE 16

void ImapCheckSetBoundMs(long ms)
{
    checkBoundMs = ms > 0 ? ms : 30000;
}

/* The process's data size (VmData) in bytes, from /proc/self/status; -1 when it cannot be read.
   Reads with plain system calls into a stack buffer. */
static long CurrentDataBytes(void)
{
    char buf[4096];
    size_t got = 0;
    ssize_t n;
    char *at;
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    while (got < sizeof buf - 1 && (n = read(fd, buf + got, sizeof buf - 1 - got)) > 0)
        got += (size_t)n;
    close(fd);
    buf[got] = '\0';
    at = strstr(buf, "\nVmData:");
    if (!at)
        return -1;
    return strtol(at + 9, NULL, 10) * 1024;
}

static void LimitChild(void)
{
    struct rlimit lim;
    long data = CurrentDataBytes();
    /* Without the size of today's data, a ceiling that a normal check stays well below. */
    rlim_t cap = (rlim_t)(data >= 0 ? data + CHILD_DATA_HEADROOM : 2 * CHILD_DATA_HEADROOM);
    if (getrlimit(RLIMIT_DATA, &lim) == 0 && (lim.rlim_max == RLIM_INFINITY || cap < lim.rlim_max)) {
        lim.rlim_cur = cap;
        lim.rlim_max = cap;
        setrlimit(RLIMIT_DATA, &lim);
    }
    /* An abort at the memory ceiling leaves no core file. */
    lim.rlim_cur = 0;
    lim.rlim_max = 0;
    setrlimit(RLIMIT_CORE, &lim);
    /* A backstop for a parent that ended without killing it. */
    alarm((unsigned)(checkBoundMs / 1000 + 5));
}

static long MonotonicMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

/* Waits until the child ended or the bound is up (then kills it); its wait status in *status.
   1 when it ended by itself. */
static int AwaitChild(pid_t pid, int done, int *status)
{
    long deadline = MonotonicMs() + checkBoundMs;
    int ended = 1;
    for (;;) {
        /* The child holds the write end of `done` until it ends. */
        struct pollfd p = {done, POLLIN, 0};
        long left = deadline - MonotonicMs();
        int rc;
        if (left <= 0) {
            kill(pid, SIGKILL);
            ended = 0;
            break;
        }
        rc = poll(&p, 1, (int)left);
        if (rc > 0)
            break;
        if (rc < 0 && errno != EINTR) {
            kill(pid, SIGKILL);
            ended = 0;
            break;
        }
    }
    while (waitpid(pid, status, 0) < 0) {
        if (errno != EINTR) {
            *status = -1;
            break;
        }
    }
    return ended;
}

int CheckImapLogin(const char *host, const char *user, const char *password)
{
    int done[2];
    int status = 0;
    pid_t pid;
    char notice[96];

    loginAttempts = 0;
    if (pipe(done) != 0) {
        snprintf(notice, sizeof notice, "login check not started: %s", strerror(errno));
        mm_log(notice, ERROR);
        return 0;
    }
    fcntl(done[0], F_SETFD, FD_CLOEXEC);
    fcntl(done[1], F_SETFD, FD_CLOEXEC);
    pid = fork();
    if (pid == 0) {
        int ok;
        close(done[0]);
        LimitChild();
        ok = RunCheck(host, user, password);
        _exit(CHILD_DONE + (ok ? 1 : 0) + (loginAttempts ? 2 : 0));
    }
    close(done[1]);
    if (pid < 0) {
        snprintf(notice, sizeof notice, "login check not started: %s", strerror(errno));
        close(done[0]);
        mm_log(notice, ERROR);
        return 0;
    }
    if (!AwaitChild(pid, done[0], &status)) {
        close(done[0]);
        snprintf(notice, sizeof notice, "login check given up after %ld s", checkBoundMs / 1000);
        mm_log(notice, ERROR);
        return 0;
    }
    close(done[0]);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) >= CHILD_DONE &&
        WEXITSTATUS(status) < CHILD_DONE + 4) {
        loginAttempts = (WEXITSTATUS(status) - CHILD_DONE) / 2;
        return (WEXITSTATUS(status) - CHILD_DONE) % 2;
    }
    /* Ended otherwise: at its memory ceiling, or killed by someone else. */
    if (status != -1 && WIFSIGNALED(status))
        snprintf(notice, sizeof notice, "login check ended by signal %d", WTERMSIG(status));
    else if (status != -1 && WIFEXITED(status))
        snprintf(notice, sizeof notice, "login check ended with status %d", WEXITSTATUS(status));
    else
        snprintf(notice, sizeof notice, "login check lost");
    mm_log(notice, ERROR);
    return 0;
}

void mm_login(NETMBX *mb, char *user, char *pwd, long trial)
{
    (void)mb;
    (void)trial;
    if (loginAttempts == 0) {
        TextCopy(user, MAILTMPLEN, loginUser);
        TextCopy(pwd, MAILTMPLEN, loginPassword);
        loginAttempts = 1;
    } else {
        /* An empty user name makes the library give up: one attempt only. */
        user[0] = '\0';
        pwd[0] = '\0';
        loginAttempts = 0;
    }
}

void mm_notify(MAILSTREAM *stream, char *string, long errflg)
{
    (void)stream;
    (void)errflg;
    fprintf(stderr, "IMAP: %s\n", string);
}

void mm_log(char *string, long errflg)
{
    (void)errflg;
    fprintf(stderr, "IMAP: %s\n", string);
}

long mm_diskerror(MAILSTREAM *stream, long errcode, long serious)
{
    (void)stream;
    (void)errcode;
    (void)serious;
    return 0;
}

void mm_searched(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_exists(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_expunged(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_flags(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_list(MAILSTREAM *stream, int delimiter, char *name, long attributes)
{
    (void)stream;
    (void)delimiter;
    (void)name;
    (void)attributes;
}
void mm_lsub(MAILSTREAM *stream, int delimiter, char *name, long attributes)
{
    (void)stream;
    (void)delimiter;
    (void)name;
    (void)attributes;
}
void mm_status(MAILSTREAM *stream, char *mailbox, MAILSTATUS *status)
{
    (void)stream;
    (void)mailbox;
    (void)status;
}
void mm_dlog(char *string)
{
    (void)string;
}
void mm_critical(MAILSTREAM *stream)
{
    (void)stream;
}
void mm_nocritical(MAILSTREAM *stream)
{
    (void)stream;
}
void mm_fatal(char *string)
{
    (void)string;
}
