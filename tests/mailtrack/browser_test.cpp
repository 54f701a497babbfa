// The report as a real browser builds it: headless Chromium loads the page from lighttpd and the
// test reads the DOM it made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "lighttpd.h"
#include "needtool.h"
#include "simserver.h"
#include "testsupport.h"

using testsupport::Lighttpd;
using testsupport::LighttpdOptions;
using testsupport::SimServer;
using testsupport::TempDir;

namespace {

// Debian's chromium, headless, with a fresh profile, no proxy or name look-up beyond loopback.
std::string ChromiumPath()
{
    for (const char *path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (access(path, X_OK) == 0)
            return path;
    return "";
}

// The DOM that headless Chromium builds from the page at `url`; empty (and a test failure) when
// the browser fails.
std::string DumpDom(const std::string &chromium, const std::string &profile, const std::string &url)
{
    testsupport::RunOptions options;
    options.env = {"HOME=" + profile};
    options.timeoutMs = 90000;
    testsupport::RunResult r =
        testsupport::RunProgram({chromium,
                                 "--headless",
                                 "--no-sandbox",
                                 "--disable-gpu",
                                 "--disable-dev-shm-usage",
                                 "--user-data-dir=" + profile,
                                 "--no-first-run",
                                 "--no-default-browser-check",
                                 "--disable-background-networking",
                                 "--disable-component-update",
                                 "--disable-sync",
                                 "--disable-extensions",
                                 "--disable-default-apps",
                                 "--disable-breakpad",
                                 "--no-pings",
                                 "--disable-domain-reliability",
                                 "--metrics-recording-only",
                                 "--proxy-server=127.0.0.1:9",
                                 "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                                 "--dump-dom",
                                 url},
                                options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? r.out : "";
}

TEST(Browser, BuildsTheReport)
{
    TELA_NEED_TOOL(!testsupport::LighttpdPath().empty(), "lighttpd");
    std::string chromium = ChromiumPath();
    TELA_NEED_TOOL(!chromium.empty(), "chromium");
    SimServer server;
    ASSERT_TRUE(server.StartFile(testsupport::SourceDir() + "/tests/mailtrack/fixtures/report.json"))
        << server.Log();
    TempDir tmp("mailtrack-browser");
    Lighttpd web;
    LighttpdOptions webOptions;
    webOptions.cgiProgram = MAILTRACK_BIN;
    webOptions.environment = {{"TELAMORPCMAP", server.RpcMap()}, {"TZ", "UTC"}, {"TMPDIR", tmp.path()}};
    ASSERT_TRUE(web.Start(webOptions)) << web.Log();

    TempDir profile("chromium-profile");
    std::string dom = DumpDom(chromium, profile.path(),
                              web.Url(web.CgiPath("?p=0&a=127.0.0.1&u=alice&r=100&n=bob@example.com")));
    ASSERT_FALSE(dom.empty());

    // The refresh of 10 seconds, as the parser understood the attribute.
    EXPECT_NE(dom.find("<meta http-equiv=\"refresh\" content=\"10\">"), std::string::npos) << dom;
    EXPECT_NE(dom.find("<title>Durorov Uzoroduru Vorerad Report</title>"), std::string::npos) << dom;

    // The table the browser built: its body holds seven rows of two cells.
    std::smatch table;
    ASSERT_TRUE(std::regex_search(dom, table, std::regex("<tbody>([\\s\\S]*?)</tbody>"))) << dom;
    std::string rows = table[1];
    std::vector<std::string> labels;
    std::regex row("<tr><td><b>([^<]*)</b></td><td>([^<]*)</td></tr>");
    for (auto it = std::sregex_iterator(rows.begin(), rows.end(), row); it != std::sregex_iterator(); ++it)
        labels.push_back((*it)[1]);
    EXPECT_EQ(labels, (std::vector<std::string>{
                          "From:", "To:", "Subject:", "Date:", "Status:", "Last Attempt:", "Retries:"}))
        << rows;

    // The log lines, each followed by a line break.
    size_t start = dom.find("<h4>Transmission Log:</h4>");
    ASSERT_NE(start, std::string::npos) << dom;
    std::string log = dom.substr(start);
    for (int i = 1; i <= 25; ++i)
        EXPECT_NE(log.find("line " + std::to_string(i) + "<br>"), std::string::npos) << i;

    // The page declares its character set: the euro sign and the umlauts of the record (bytes
    // 0xA4, 0xFC, 0xE4 on the wire) come back from the browser as those characters.
    std::string latin = DumpDom(chromium, profile.path(),
                                web.Url(web.CgiPath("?p=0&a=127.0.0.1&u=alice&r=120&n=bob@example.com")));
    ASSERT_FALSE(latin.empty());
    EXPECT_NE(latin.find("<td><b>Subject:</b></td><td>5 \u20ac f\u00fcr B\u00e4rbel</td>"), std::string::npos)
        << latin;
    EXPECT_NE(latin.find("<td><b>From:</b></td><td>J\u00fcrgen M\u00fcller</td>"), std::string::npos)
        << latin;
    EXPECT_NE(latin.find("Gr\u00fc\u00dfe<br>"), std::string::npos) << latin;
}

}  // namespace
