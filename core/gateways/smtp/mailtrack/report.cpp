#include "mailtrack/report.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "mailtrack/exterror.h"
#include "mailtrack/gwutils.h"
#include "mailtrack/jobfiles.h"
#include "mailtrack/report_testing.h"
#include "os/hostvars.h"
#include "os/sysutil.h"
#include "os/textcopy.h"
#include "rpcrt/rpcrt.h"
#include "xdr/alpha.h"
#include "xdr/xdrresult.h"

namespace {

constexpr const char kLogLanguage[] = "english_us.8859";

// The whole report, from its start to its page end: every alpha call and the connect wait at
// most what is left of it (besides each call's own bound), so that a server that answers every
// call slowly, and the log export with it, cannot keep the report alive.
constexpr int kReportBoundMs = 50000;
int reportBoundMs = kReportBoundMs;

// Every text of the page (the record's fields, the log) is ISO-8859-15: the header says so, or a
// browser shows the euro sign and other positions where the character sets differ wrongly.
void WriteContentType()
{
    HtmlMimeType("text/html; charset=ISO-8859-15");
}

// A fixed text field of the record, read no further than its width and escaped.
template <size_t N>
std::string Field(const char (&field)[N])
{
    return HtmlEscape(std::string(field, strnlen(field, N)).c_str());
}

// ctime of a 32-bit time widened with its sign; "--" for a time that does not convert (the
// original platform converts no time before 1970).
std::string TimeText(int32_t seconds)
{
    if (seconds < 0)
        return "--";
    time_t t = static_cast<time_t>(seconds);
    char text[64];
    if (ctime_r(&t, text) == nullptr)
        return "--";
    return text;
}

// The temporary file while the report holds it, for the ways out that never reach the release:
// a web server may end its CGI program with SIGTERM (its CGI time-out, a client that went away,
// its own shutdown), and a runtime that cannot start ends the program with exit(1). Both delete
// the file here.
//
// The end signals are blocked in every thread once the file exists, and one thread of its own
// waits for them: libtirpc blocks all signals in the calling thread for as long as a call lasts,
// so a handler would run only once the call is over. The waiting thread removes the file and
// ends the program by the same signal, at once, whatever the main thread is doing.
//
// The end signals are all those whose default action ends the program and that a program can
// catch, the real-time ones included; SIGQUIT, SIGXCPU and SIGXFSZ keep their core dump, taken
// once the file is gone. Not among them: SIGKILL and SIGSTOP (cannot be caught), SIGPIPE (ignored
// by the program) and the signals of a fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
// SIGABRT), which arrive in the faulting thread and must not be blocked or deferred.
char pendingTemp[SYS_MAX_PATH];
std::atomic<int> havePendingTemp{0};
// Held while the file is removed, so that the waiting thread never removes it a second time
// after the release (its name could by then belong to another program's file).
std::mutex pendingTempLock;
constexpr int kNamedEndSignals[] = {SIGTERM,   SIGINT,  SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGALRM,
                                    SIGVTALRM, SIGPROF, SIGPOLL, SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGPWR};

sigset_t EndSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kNamedEndSignals)
        sigaddset(&set, signo);
    for (int signo = SIGRTMIN; signo <= SIGRTMAX; ++signo)
        sigaddset(&set, signo);
    return set;
}

void DeletePendingTemp()
{
    if (havePendingTemp.exchange(0) != 0)
        unlink(pendingTemp);
}

// Ends the program as the signal's default action does, once the file is gone.
[[noreturn]] void EndBySignal(int signo)
{
    DeletePendingTemp();
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signo);
    _exit(128 + signo);
}

void *WaitForEndSignal(void *)
{
    sigset_t set = EndSignals();
    int signo = 0;
    while (sigwait(&set, &signo) != 0) {
    }
    // Not released: the program ends by the signal while it is held.
    pendingTempLock.lock();
    EndBySignal(signo);
}

// The release's removal of the file: the waiting thread cannot take it in between, and the end
// signals wait (where a handler would take them) until the file is gone and forgotten.
void ReleasePendingTemp(const char *path)
{
    sigset_t endSignals = EndSignals(), before;
    pthread_sigmask(SIG_BLOCK, &endSignals, &before);
    {
        std::lock_guard<std::mutex> hold(pendingTempLock);
        (void)SysDeleteFile(path);
        havePendingTemp = 0;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Only where no thread can be started: a handler, which runs once a call has returned.
void EndOnSignal(int signo)
{
    EndBySignal(signo);
}

// Called with the end signals blocked in the calling thread; they stay blocked there when the
// waiting thread runs, else the caller restores its mask.
bool HoldPendingTemp(const char *path)
{
    TextCopy(pendingTemp, sizeof pendingTemp, path);
    havePendingTemp = 1;
    static bool waiting = false;
    static bool installed = false;
    if (!installed) {
        installed = true;
        atexit(DeletePendingTemp);
        pthread_t thread;
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) == 0) {
            pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
            pthread_attr_setstacksize(&attr, 64 * 1024);
            waiting = pthread_create(&thread, &attr, WaitForEndSignal, nullptr) == 0;
            pthread_attr_destroy(&attr);
        }
        if (!waiting) {
            struct sigaction action;
            memset(&action, 0, sizeof action);
            action.sa_handler = EndOnSignal;
            action.sa_mask = EndSignals();
            for (int signo = 1; signo < NSIG; ++signo)
                if (sigismember(&action.sa_mask, signo) == 1)
                    sigaction(signo, &action, nullptr);
        }
    }
    return waiting;
}

// Everything the report holds, given back by Release on every path.
struct ReportResources {
    char tempPath[SYS_MAX_PATH] = {};
    bool haveTemp = false;
    bool runtimeStarted = false;
    CLIENT *client = nullptr;
    tela::XdrResult<s_rec_res> reply{nullptr, xdr_s_rec_res};
    FILE *log = nullptr;
};

void Release(ReportResources &r)
{
    if (r.log != nullptr)
        fclose(r.log);
    r.log = nullptr;
    printf("</p>");
    if (r.client != nullptr)
        DestroyClient(r.client);
    r.client = nullptr;
    r.reply.Reset();
    if (r.runtimeStarted)
        rpc_runtime_cleanup();
    r.runtimeStarted = false;
    if (r.haveTemp)
        ReleasePendingTemp(r.tempPath);
    r.haveTemp = false;
    HtmlEnd();
    tela::SetCallDeadline(-1);
}

void WriteTable(const s_rec_v1 &rec)
{
    printf("<table border=0 cols=2>");
    printf("<tr><td><b>From:</b></td><td>%s</td></tr>", Field(rec.originator).c_str());
    printf("<tr><td><b>To:</b></td><td>%s/%s</td></tr>", Field(rec.recipient).c_str(),
           MediaName(MediaFromFlags(static_cast<uint32_t>(rec.flags))));
    printf("<tr><td><b>Subject:</b></td><td>%s</td></tr>", Field(rec.subject).c_str());
    printf("<tr><td><b>Date:</b></td><td>%s</td></tr>", TimeText(rec.submit_time).c_str());
    printf("<tr><td><b>Status:</b></td><td>%s", TxStateName(rec.state));
    if (rec.status_text[0] != '\0')
        printf(" (%s)", Field(rec.status_text).c_str());
    printf("</td></tr>");
    printf("<tr><td><b>Last Attempt:</b></td><td>%s</td></tr>",
           rec.last_attempt == 0 ? "--" : TimeText(rec.last_attempt).c_str());
    printf("<tr><td><b>Retries:</b></td><td>%d</td></tr>", rec.retries);
    printf("</table>");
}

// The exported log, escaped, with every line end written as "<br>". fgets ends a piece after its
// first newline, so a piece holds at most one, at its end.
void EchoLog(FILE *log)
{
    printf("<hr><h4>Transmission Log:</h4>");
    char piece[1024];
    while (fgets(piece, sizeof piece, log) != nullptr) {
        char *lineEnd = strchr(piece, '\n');
        if (lineEnd != nullptr)
            *lineEnd = '\0';
        fputs(HtmlEscape(piece).c_str(), stdout);
        if (lineEnd != nullptr)
            fputs("<br>", stdout);
    }
    printf("</p>");
}

// The recipient given in n against the record's field, exactly and no further than its width.
template <size_t N>
bool SameRecipient(const char *n, const char (&field)[N])
{
    size_t length = strnlen(field, N);
    return strlen(n) == length && memcmp(n, field, length) == 0;
}

}  // namespace

int32_t ParseJobNumber(const char *text)
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > int64_t{INT32_MAX} + 1)
            value = int64_t{INT32_MAX} + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<int32_t>(value);
}

void ErrorPage(const char *format, ...)
{
    printf("<hr><h2 align=center>Error</h2><p align=center><b>");
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("</b></p><hr>");
}

namespace {

// Steps from the parameter checks to the log echo. Every way out leaves what it took in `r`
// for the one release of ReportPage.
void ReportBody(const CgiEntry *entries, ReportResources &r, int tempError)
{
    const char *a = CgiValue(entries, "a");
    const char *u = CgiValue(entries, "u");
    const char *job = CgiValue(entries, "r");
    const char *n = CgiValue(entries, "n");
    if (!r.haveTemp) {
        char text[512];
        SysErrorText(tempError, text, sizeof text);
        ErrorPage("can not create temporary file: %s", HtmlEscape(text).c_str());
        return;
    }
    if (a == nullptr || u == nullptr || job == nullptr || n == nullptr) {
        ErrorPage("Missing %s parameter", a == nullptr     ? "a"
                                          : u == nullptr   ? "u"
                                          : job == nullptr ? "r"
                                                           : "n");
        return;
    }

    rpc_runtime_init();
    r.runtimeStarted = true;
    r.client = CreateAlphaClient(a);
    if (r.client == nullptr) {
        ErrorPage("%s", HtmlEscape(CreateErrorText(a)).c_str());
        return;
    }
    s_rec_req request;
    memset(&request, 0, sizeof request);
    request.vers = 1;
    BoundedCopy(request.s_rec_req_u.v1.user, u, 10);
    request.s_rec_req_u.v1.job = ParseJobNumber(job);
    r.reply.Call([&] { return a_get_s_rec_new_1(&request, r.client); });
    if (!r.reply) {
        ErrorPage("%s", HtmlEscape(ClientErrorText(r.client, "a_get_s_rec_new_1")).c_str());
        return;
    }
    // The version-1 arm begins with the fields of version 0; after a version-0 reply the rest of
    // it is still zero from the stub's clearing.
    const s_rec_v1 &rec = r.reply->record.s_rec_new_u.v1;
    if (r.reply->final != 0) {
        printf(
            "<p align=center><b>"
            "The message you are requesting has reached its final state.<br>"
            "If you have requested a report it has been sent to you.<br>"
            "Please do not use this reference any longer.<br>"
            "</b>");
        return;
    }
    if (!SameRecipient(n, rec.recipient)) {
        ErrorPage("illegal reference");
        return;
    }
    WriteTable(rec);
    if (!ExportLog(r.client, u, rec.job, 0, kLogLanguage, r.tempPath)) {
        ExtErrorText failed(EC_GW);
        ErrorPage("can not export logfile: %s\n", failed.Text());
        return;
    }
    r.log = fopen(r.tempPath, "r");
    if (r.log == nullptr) {
        ExtErrorText failed(EC_SY | (static_cast<ErrorCode>(SysGetLastError()) & EC_NUMBER_MASK));
        ErrorPage("can not open logfile: %s", HtmlEscape(failed.Text()).c_str());
        return;
    }
    // Read through the open file from here on: its name goes at once, so that no way the program
    // ends (SIGKILL, a crash) can leave it behind while the log is echoed.
    ReleasePendingTemp(r.tempPath);
    r.haveTemp = false;
    EchoLog(r.log);
}

}  // namespace

void ReportPage(const CgiEntry *entries)
{
    tela::SetCallDeadline(reportBoundMs);
    ReportResources r;
    WriteContentType();
    // The header goes out at once: a web server that passes the answer on as it comes starts
    // its answer then and, from that point, notices when its client goes away.
    fflush(stdout);
    // No end signal between the file's creation and its registration; with the waiting thread
    // they stay blocked here for good.
    sigset_t endSignals = EndSignals(), before;
    pthread_sigmask(SIG_BLOCK, &endSignals, &before);
    r.haveTemp = SysTempFileName(r.tempPath, "LOG", nullptr) != 0;
    const int tempError = SysGetLastError();
    if (!r.haveTemp || !HoldPendingTemp(r.tempPath))
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    printf(
        "<head><meta http-equiv=\"refresh\" content=10>"
        "<title>Durorov Uzoroduru Vorerad Report</title></head><body>");
    ReportBody(entries, r, tempError);
    Release(r);
}

void AnswerRequest(const CgiEntry *entries)
{
    const char *p = CgiValue(entries, "p");
    if (p == nullptr) {
        WriteContentType();
        HtmlBegin("");
        ErrorPage("Illegal calling mode");
        HtmlEnd();
    } else if (strcmp(p, "0") != 0) {
        WriteContentType();
        HtmlBegin("");
        ErrorPage("Unknown program %s", HtmlEscape(p).c_str());
        HtmlEnd();
    } else {
        ReportPage(entries);
    }
}

int MailtrackMain()
{
    // A browser that goes away (stdout a closed pipe) or a server that drops the connection must
    // not end the program before it has given back its temporary file.
    signal(SIGPIPE, SIG_IGN);

    CgiRequest request = CgiProcessRequest();
    request.uploadDir = nullptr;  // nothing here reads uploads: keep the entries, store no file
    CgiEntry *entries = nullptr;
    int count = 0;
    CgiError error = CgiReadInputFrom(request, &entries, &count);
    if (error != CGI_OK) {
        fputs(CgiErrorMessage(error), stderr);
        CgiListClear(&entries);
        return 1;
    }
    AnswerRequest(entries);
    CgiListClear(&entries);
    return 0;
}

namespace mailtrack_testing {

void SetReportBoundMs(int ms)
{
    reportBoundMs = ms > 0 && ms < kReportBoundMs ? ms : kReportBoundMs;
}

}  // namespace mailtrack_testing
