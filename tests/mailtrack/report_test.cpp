// The report program run directly as a CGI program with a crafted environment, against the
// simulated alpha server: every page, byte for byte, what reached the server, and that the
// temporary directory is empty again after every request.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pages.h"
#include "simserver.h"
#include "testsupport.h"

using testsupport::RunOptions;
using testsupport::RunProgram;
using testsupport::RunResult;
using testsupport::SimRequest;
using testsupport::SimServer;
using testsupport::TempDir;

namespace {

using namespace pages;

std::string MailtrackPath()
{
    return MAILTRACK_BIN;
}

std::vector<std::string> DirEntries(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

class Report : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new SimServer;
        ASSERT_TRUE(server_->StartFile(testsupport::SourceDir() + "/tests/mailtrack/fixtures/report.json"))
            << server_->Log();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { server_->ClearRequests(); }

    // One run with the given CGI variables (NAME=value); the temporary directory must be empty
    // afterwards, whatever the page. With peakKiB, the program runs under peakrss, which gives
    // its peak resident size there.
    RunResult Run(std::vector<std::string> env, const std::string &input = "", long *peakKiB = nullptr)
    {
        env.push_back("TZ=UTC");
        env.push_back("TMPDIR=" + tmp_.path());
        env.push_back(server_->RpcMapEnv());
        RunOptions options;
        options.clearEnv = true;
        options.env = env;
        options.input = input;
        TempDir peakDir("mailtrack-peak");
        const std::string peakFile = peakDir.file("peak");
        std::vector<std::string> argv = {MailtrackPath()};
        if (peakKiB != nullptr)
            argv.insert(argv.begin(), {PEAKRSS_BIN, peakFile});
        RunResult result = RunProgram(argv, options);
        if (peakKiB != nullptr)
            *peakKiB = std::atol(testsupport::ReadFile(peakFile).c_str());
        EXPECT_TRUE(DirEntries(tmp_.path()).empty()) << "temporary file left behind";
        // In a sanitizer build a leak or a fault of any path shows here, whatever the page.
        EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
        return result;
    }
    RunResult Get(const std::string &query) { return Run({"REQUEST_METHOD=GET", "QUERY_STRING=" + query}); }
    std::string Query(const std::string &job, const std::string &recipient = "bob@example.com",
                      const std::string &user = "alice")
    {
        return "p=0&a=" + server_->Host() + "&u=" + user + "&r=" + job + "&n=" + recipient;
    }
    std::vector<SimRequest> Calls(int proc) { return server_->Calls("alpha", proc); }

    static SimServer *server_;
    TempDir tmp_{"mailtrack-tmp"};
};

SimServer *Report::server_ = nullptr;

TEST_F(Report, MainErrorPages)
{
    struct Case {
        std::string query;
        std::string page;
    } cases[] = {
        {"", MainError("Illegal calling mode")},
        {"a=x&u=y", MainError("Illegal calling mode")},
        {"p=1", MainError("Unknown program 1")},
        {"p=", MainError("Unknown program ")},
        {"p=%25s%25n", MainError("Unknown program %s%n")},
        {"p=%3Cscript%3Ealert(1)%3C/script%3E",
         MainError("Unknown program &lt;script&gt;alert(1)&lt;/script&gt;")},
        {"p=1&p=0", MainError("Unknown program 1")},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Get(cases[i].query);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << "\n" << r.err;
        EXPECT_EQ(r.out, cases[i].page) << "case " << i;
    }
    EXPECT_EQ(server_->Accepts(), 0) << "no server is contacted";
}

TEST_F(Report, InteractiveModeWithoutWebServer)
{
    // No REQUEST_METHOD: the input is the line typed on the standard input.
    RunResult r = Run({}, "p=1&a=x\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, MainError("Unknown program 1"));
    r = Run({}, Query("100") + "\n");
    EXPECT_EQ(r.out, FullPage(StandardRow(), Lines(25)));
}

TEST_F(Report, MissingParameters)
{
    const std::string a = "a=" + server_->Host();
    struct Case {
        std::string query;
        std::string message;
    } cases[] = {
        {"p=0", "Missing a parameter"},
        {"p=0&u=alice&r=1&n=x", "Missing a parameter"},
        {"p=0&" + a + "&r=1&n=x", "Missing u parameter"},
        {"p=0&" + a + "&n=x", "Missing u parameter"},
        {"p=0&" + a + "&u=alice&n=x", "Missing r parameter"},
        {"p=0&" + a + "&u=alice&r=1", "Missing n parameter"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Get(cases[i].query);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << "\n" << r.err;
        EXPECT_EQ(r.out, ReportError(cases[i].message)) << "case " << i;
    }
    EXPECT_EQ(server_->Accepts(), 0) << "no server is contacted";
}

TEST_F(Report, MessageInProgress)
{
    RunResult r = Get(Query("100"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, FullPage(StandardRow(), Lines(25)));

    std::vector<SimRequest> record = Calls(137);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].args["version"], 1);
    EXPECT_EQ(record[0].args["user"], "alice");
    EXPECT_EQ(record[0].args["job"], 100);

    // The log is asked for the record's job, from the server's next_line each time.
    std::vector<SimRequest> log = Calls(72);
    ASSERT_EQ(log.size(), 4u);
    const int firstLines[] = {0, 1070, 1140, 1175};
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].args["user"], "alice") << i;
        EXPECT_EQ(log[i].args["job"], 555) << i;
        EXPECT_EQ(log[i].args["kind"], 0) << i;
        EXPECT_EQ(log[i].args["max_lines"], 10) << i;
        EXPECT_EQ(log[i].args["language"], "english_us.8859") << i;
        EXPECT_EQ(log[i].args["first_line"], firstLines[i]) << i;
    }
    EXPECT_EQ(server_->Accepts("alpha"), 1) << "one connection for the whole page";
}

TEST_F(Report, RecordVariants)
{
    Row v0 = StandardRow();
    v0.from = "";
    v0.status = "transmission";
    Row quiet = StandardRow();
    quiet.to = "bob@example.com/sms";
    quiet.status = "in process by lcr";
    quiet.lastAttempt = "--";
    quiet.retries = "0";
    Row odd = StandardRow();
    odd.to = "bob@example.com/telex";
    odd.subject =
        "Gr\xfc\xdf"
        "e";
    odd.date = "--";
    odd.status = "unknown (line busy)";
    odd.retries = "-1";
    Row zero = StandardRow();
    zero.to = "zero@example.com/voice";
    Row negative = StandardRow();
    negative.to = "neg@example.com/voice";

    struct Case {
        std::string query;
        std::string page;
    } cases[] = {
        {Query("102"), FullPage(v0, {"only line"})},
        {Query("103"), FullPage(quiet, {})},
        {Query("109"), FullPage(odd, {"Gr\xfc\xdf"
                                      "e \xa4"})},
        {Query("xyz", "zero@example.com"), FullPage(zero, {})},
        {Query("  +0abc", "zero@example.com"), FullPage(zero, {})},
        {Query("-5", "neg@example.com"), FullPage(negative, {})},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Get(cases[i].query);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << "\n" << r.err;
        EXPECT_EQ(r.out, cases[i].page) << "case " << i;
    }
}

TEST_F(Report, JobFromTheDigitsOfR)
{
    struct Case {
        std::string r;
        int job;
    } cases[] = {{"%20%20%2B42abc", 42}, {"xyz", 0}, {"-5", -5}, {"99999999999", 2147483647}, {"", 0}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        server_->ClearRequests();
        RunResult r = Get(Query(cases[i].r, "nobody"));
        EXPECT_EQ(r.exitCode, 0) << "case " << i;
        std::vector<SimRequest> record = Calls(137);
        ASSERT_EQ(record.size(), 1u) << "case " << i;
        EXPECT_EQ(record[0].args["job"], cases[i].job) << "case " << i;
    }
}

TEST_F(Report, FinalStateAndWrongRecipient)
{
    const std::string finalPage = FinalState();
    struct Case {
        std::string query;
        std::string page;
    } cases[] = {
        {Query("101", "nobody"), finalPage},  // the recipient is not compared
        {Query("100", "Bob@example.com"), ReportError("illegal reference")},
        {Query("100", "bob@example.co"), ReportError("illegal reference")},
        {Query("100", ""), ReportError("illegal reference")},
        {Query("4711"), ReportError("illegal reference")},  // no such record: empty recipient
        {Query("100", "bob@example.com", "mallory"), ReportError("illegal reference")},  // another user
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Get(cases[i].query);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << "\n" << r.err;
        EXPECT_EQ(r.out, cases[i].page) << "case " << i;
    }
    EXPECT_TRUE(Calls(72).empty()) << "no log is exported for these pages";
}

TEST_F(Report, UserCutToTenCharacters)
{
    Row row = StandardRow();
    RunResult r = Get(Query("7", "bob@example.com", "abcdefghijKLMN"));
    EXPECT_EQ(r.out, FullPage(row, {"cut user"}));
    std::vector<SimRequest> record = Calls(137);
    std::vector<SimRequest> log = Calls(72);
    ASSERT_EQ(record.size(), 1u);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(record[0].args["user"], "abcdefghij");
    for (const SimRequest &call : log)
        EXPECT_EQ(call.args["user"], "abcdefghij");
}

TEST_F(Report, ServerFailures)
{
    const std::string exportFailed = "can not export logfile: GW0: Failed\n";
    struct Case {
        std::string query;
        std::string page;
    } cases[] = {
        {Query("104"), ReportError(exportFailed, Table(StandardRow()))},
        {Query("106"), ReportError(exportFailed, Table(StandardRow()))},  // next_line goes back
        {Query("666"), ReportError("a_get_s_rec_new_1: RPC: Procedure unavailable")},
        {Query("111"),
         ReportError("a_get_s_rec_new_1: RPC: Unable to receive; errno = Connection reset by peer")},
        {Query("112"), ReportError("a_get_s_rec_new_1: RPC: Can&#39;t decode result")},
        {Query("113"), ReportError(exportFailed, Table(StandardRow()))},  // dropped after one batch
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Get(cases[i].query);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << "\n" << r.err;
        EXPECT_EQ(r.out, cases[i].page) << "case " << i;
    }
}

TEST_F(Report, ClientCannotBeCreated)
{
    // A port map that names the host with a port where nothing listens.
    testsupport::ClosedPorts held;
    const int closed = held.port();
    ASSERT_NE(closed, 0);
    RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query("100"), "TZ=UTC", "TMPDIR=" + tmp_.path(),
                   "TELAMORPCMAP=127.0.0.1:" + std::to_string(closed)};
    RunResult r = RunProgram({MailtrackPath()}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ReportError("127.0.0.1: RPC: Remote system error - Connection refused"));
    EXPECT_TRUE(DirEntries(tmp_.path()).empty());
}

TEST_F(Report, NoTemporaryFile)
{
    RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query("100"), "TZ=UTC",
                   "TMPDIR=" + tmp_.file("missing"), server_->RpcMapEnv()};
    RunResult r = RunProgram({MailtrackPath()}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ReportError("can not create temporary file: No such file or directory"));
    EXPECT_EQ(server_->Accepts(), 0);
}

TEST_F(Report, HostileAnswers)
{
    Row markup = StandardRow();
    markup.from = "Eve &lt;eve@example.com&gt; &amp; &quot;co&quot;";
    markup.subject = "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;";
    markup.status = "transmission (&lt;i&gt;late&lt;/i&gt;)";
    markup.to = "bob&lt;b&gt;&amp;&quot;&#39;@example.com/voice";
    RunResult r = Get(Query("105", "bob%3Cb%3E%26%22%27%40example.com"));
    EXPECT_EQ(r.out, FullPage(markup, {"&lt;b&gt;bold&lt;/b&gt; &amp; more",
                                       "say &quot;hi&quot; &amp; &#39;bye&#39;", "plain"}));

    // The host of a comes back inside the RPC library's text. A name like this one is refused
    // before any look-up leaves the machine.
    r = Get("p=0&a=%3Cb%3E%26x&u=alice&r=1&n=x");
    EXPECT_EQ(r.out, ReportError("&lt;b&gt;&amp;x: RPC: Unknown host"));

    // Every fixed text filled to its width without a terminator: nothing beyond it is read.
    const std::string recipient(31, '#');
    Row full = StandardRow();
    full.from = std::string(81, '#');
    full.to = recipient + "/voice";
    full.subject = std::string(31, '#');
    full.status = "transmission (" + std::string(81, '#') + ")";
    std::string escaped;
    for (int i = 0; i < 31; ++i)
        escaped += "%23";
    r = Get(Query("108", escaped));
    EXPECT_EQ(r.out, FullPage(full, {"x" + std::string(100, '#'), std::string(101, '#')}));
    r = Get(Query("108", recipient.substr(0, 30)));
    EXPECT_EQ(r.out, ReportError("illegal reference"));
}

TEST_F(Report, ExportedLogCannotBeOpened)
{
    // The server holds its first log answer back while the test removes the file that the
    // export is writing: the export completes into the removed file, and opening it fails.
    RunResult r;
    std::thread run([&] { r = Get(Query("114")); });
    bool removed = false;
    testsupport::WaitFor(
        [&] {
            if (!Calls(72).empty())
                for (const std::string &name : DirEntries(tmp_.path()))
                    removed = unlink(tmp_.file(name).c_str()) == 0 || removed;
            return removed;
        },
        10000, 10);
    run.join();
    ASSERT_TRUE(removed) << "the export was not seen in time";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              ReportError("can not open logfile: SY2: No such file or directory", Table(StandardRow())));
}

TEST_F(Report, EndedBySignalGivesBackItsFile)
{
    // A web server may end its CGI program with SIGTERM (time-out, client gone, shutdown). The
    // server holds the record back, so the program is ended while it waits.
    testsupport::ServerProcess cgi("mailtrack");
    ASSERT_TRUE(cgi.Start({MailtrackPath()}, {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query("115"), "TZ=UTC",
                                              "TMPDIR=" + tmp_.path(), server_->RpcMapEnv()}));
    ASSERT_TRUE(cgi.WaitUntil([&] { return !Calls(137).empty(); })) << cgi.Log();
    EXPECT_EQ(DirEntries(tmp_.path()).size(), 1u);
    int status = cgi.Stop();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "wait status " << status;
    EXPECT_TRUE(DirEntries(tmp_.path()).empty()) << "temporary file left behind";
}

TEST_F(Report, EndlessLogIsCut)
{
    const auto start = std::chrono::steady_clock::now();
    RunResult r = Get(Query("107"));
    const double took = testsupport::SecondsSince(start);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ReportError("can not export logfile: GW0: Failed\n", Table(StandardRow())));
    // A sanitizer build on a busy machine may reach the report's own bound of 50 s first: the
    // same page, with fewer calls, and never more than the ceiling allows.
    if (took < 50.0) {
        EXPECT_EQ(Calls(72).size(), 10001u)
            << "100,000 lines in batches of 10, then the call that passes the bound";
    } else {
        EXPECT_LE(Calls(72).size(), 10001u) << "ended by the report's bound after " << took << " s";
    }
}

TEST_F(Report, ReaderGoesAway)
{
    // The page of 10,000 log lines is far more than a pipe holds: once the reader has gone,
    // every write fails, and the program must still finish and give back its temporary file.
    RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET",    "QUERY_STRING=" + Query("110"), "TZ=UTC",
                   "TMPDIR=" + tmp_.path(), server_->RpcMapEnv(),           "MAILTRACK=" + MailtrackPath()};
    RunResult r = RunProgram({"/bin/sh", "-c", "\"$MAILTRACK\" | head -c 10 >/dev/null; exit 0"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(DirEntries(tmp_.path()).empty()) << "temporary file left behind";
    EXPECT_EQ(Calls(72).size(), 1001u) << "the whole log was exported";
}

TEST_F(Report, PostAndMultipart)
{
    std::string body = Query("100");
    RunResult post = Run({"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                          "CONTENT_LENGTH=" + std::to_string(body.size())},
                         body);
    EXPECT_EQ(post.exitCode, 0) << post.err;
    EXPECT_EQ(post.out, FullPage(StandardRow(), Lines(25)));

    std::string multipart;
    auto part = [&](const std::string &name, const std::string &value) {
        multipart +=
            "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    part("p", "0");
    part("a", server_->Host());
    part("u", "alice");
    part("r", "103");
    part("n", "bob@example.com");
    // A file part keeps its entry, but its content is stored nowhere.
    const std::string upload = "mailtrack-upload-" + std::to_string(getpid()) + ".txt";
    multipart += "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + upload +
                 "\"\r\nContent-Type: text/plain\r\n\r\nnot stored\r\n--XyZ--\r\n";
    RunResult mp = Run({"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data; boundary=XyZ",
                        "CONTENT_LENGTH=" + std::to_string(multipart.size())},
                       multipart);
    Row quiet = StandardRow();
    quiet.to = "bob@example.com/sms";
    quiet.status = "in process by lcr";
    quiet.lastAttempt = "--";
    quiet.retries = "0";
    EXPECT_EQ(mp.exitCode, 0) << mp.err;
    EXPECT_EQ(mp.out, FullPage(quiet, {}));
    EXPECT_NE(access(("/tmp/" + upload).c_str(), F_OK), 0) << "upload written to /tmp";
}

TEST_F(Report, RejectedInput)
{
    struct Case {
        std::vector<std::string> env;
        std::string input;
        std::string err;
    } cases[] = {
        {{"REQUEST_METHOD=PUT"}, "", "caught by cgihtml: REQUEST_METHOD invalid\n"},
        {{"REQUEST_METHOD=POST"}, "p=0", "caught by cgihtml: CONTENT_LENGTH is null\n"},
        {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=10"},
         "p=0",
         "caught by cgihtml: input length < CONTENT_LENGTH\n"},
        {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=-1"}, "p=0", "caught by cgihtml: CONTENT_LENGTH invalid\n"},
        {{"REQUEST_METHOD=GET"}, "", "caught by cgihtml: QUERY_STRING is null\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RunResult r = Run(cases[i].env, cases[i].input);
        EXPECT_EQ(r.exitCode, 1) << "case " << i;
        EXPECT_EQ(r.out, "") << "case " << i;
        EXPECT_EQ(r.err, cases[i].err) << "case " << i;
    }
    EXPECT_EQ(server_->Accepts(), 0);
}

// Requests of hostile shape within the readers' bounds: what a 1 MiB body or a long typed line
// costs above a request without any (the peak resident size of the run, which a sanitizer build
// inflates past meaning, so it is compared only in a plain build), and how those that cannot be
// read end.
TEST_F(Report, HostileRequestShapesStayWithinTheirMemory)
{
    const bool comparePeaks = testsupport::kComparePeaks;
    const long boundKiB = 16 * 1024;
    auto repeat = [](const std::string &piece, size_t bytes) {
        std::string text;
        while (text.size() < bytes)
            text += piece;
        return text;
    };
    const std::string mib = "CONTENT_LENGTH=1048576";
    const std::string prompts =
        "\n--- cgihtml Interactive Mode ---\n"
        "Enter CGI input string.  Remember to encode appropriate characters.\n"
        "Press ENTER when done:\n\n";
    const std::string longLine(1024 * 1024, 'q');
    struct Case {
        const char *name;
        std::vector<std::string> env;
        std::string input;
        int exitCode;
        std::string out;
        std::string errEnd;  // how the standard error ends
    } cases[] = {
        {"1 MiB of empty pairs",
         {"REQUEST_METHOD=POST", mib},
         repeat("=&", 1 << 20),
         1,
         "",
         "caught by cgihtml: too many entries\n"},
        {"1 MiB of one-character pairs",
         {"REQUEST_METHOD=POST", mib},
         repeat("a=1&", 1 << 20),
         0,
         MainError("Illegal calling mode"),
         ""},
        {"a typed line of 32 MiB",
         {},
         repeat("=&", 32 << 20) + "\n",
         1,
         "",
         prompts + "caught by cgihtml: input line too long\n"},
        {"a typed line of 1 MiB",
         {},
         longLine + "\n",
         0,
         MainError("Illegal calling mode"),
         "\n Input string: " + longLine +
             "\nString length: 1048576\n--- end cgihtml Interactive Mode ---\n\n"},
    };
    long emptyKiB = 0;
    const RunResult empty = Run({"REQUEST_METHOD=GET", "QUERY_STRING="}, "", &emptyKiB);
    ASSERT_EQ(empty.exitCode, 0) << empty.err;
    ASSERT_GT(emptyKiB, 0);
    for (const Case &c : cases) {
        long peakKiB = 0;
        RunResult r = Run(c.env, c.input, &peakKiB);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_TRUE(r.err.size() >= c.errEnd.size() &&
                    r.err.compare(r.err.size() - c.errEnd.size(), c.errEnd.size(), c.errEnd) == 0)
            << c.name << ": " << r.err.substr(0, 300);
        if (comparePeaks) {
            EXPECT_LT(peakKiB - emptyKiB, boundKiB)
                << c.name << ": " << peakKiB << " KiB against " << emptyKiB << " KiB for an empty request";
        }
        std::printf("%s: peak %ld KiB (an empty request: %ld KiB)\n", c.name, peakKiB, emptyKiB);
    }
    EXPECT_EQ(server_->Accepts(), 0);
}

}  // namespace
