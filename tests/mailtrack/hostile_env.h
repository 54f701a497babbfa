// What the tests of the report program against hostile alpha servers share: the temporary
// directory's entries, lighttpd's children, and lighttpd with the package's snippet.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hostile.h"
#include "lighttpd.h"
#include "needtool.h"
#include "pages.h"
#include "testsupport.h"

namespace hostile_env {

using Clock = std::chrono::steady_clock;

using testsupport::SecondsSince;

inline int EntryCount(const std::string &path)
{
    int count = 0;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d))
            count += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        closedir(d);
    }
    return count;
}

// The living children of a process (from /proc/<pid>/stat).
inline std::vector<pid_t> Children(pid_t parent)
{
    std::vector<pid_t> children;
    if (DIR *d = opendir("/proc")) {
        while (dirent *e = readdir(d)) {
            pid_t pid = atoi(e->d_name);
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            std::getline(stat, line);
            size_t close = line.rfind(')');
            int ppid = 0;
            char state = 0;
            if (close != std::string::npos &&
                sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent &&
                state != 'Z')
                children.push_back(pid);
        }
        closedir(d);
    }
    return children;
}

// True while process `pid` holds a file of directory `dir` open for writing only: the log
// export's file, named or not.
inline bool WritesInto(pid_t pid, const std::string &dir)
{
    char real[PATH_MAX];
    if (realpath(dir.c_str(), real) == nullptr)
        return false;
    const std::string prefix = std::string(real) + "/";
    const std::string proc = "/proc/" + std::to_string(pid);
    bool found = false;
    if (DIR *d = opendir((proc + "/fd").c_str())) {
        while (dirent *e = readdir(d)) {
            char target[PATH_MAX];
            ssize_t n = readlink((proc + "/fd/" + e->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0 || std::string(target, static_cast<size_t>(n)).rfind(prefix, 0) != 0)
                continue;
            std::ifstream info(proc + "/fdinfo/" + e->d_name);
            std::string key, flags;
            while (info >> key && key != "flags:") {
            }
            if (info >> flags && (std::stoul(flags, nullptr, 8) & O_ACCMODE) == O_WRONLY)
                found = true;
        }
        closedir(d);
    }
    return found;
}

// The report request that the hostile server's answers fit.
inline std::string Query()
{
    return "p=0&a=127.0.0.1&u=alice&r=4711&n=bob@example.com";
}

inline const std::string kExportFailed = "can not export logfile: GW0: Failed\n";

// The page of a report cut by its bound: the table when the record came, then the error block
// of the call or export that the bound ended, and the page end.
inline void ExpectCutPage(const std::string &page, const std::string &message, bool table,
                          const std::string &what)
{
    using namespace pages;
    const std::string head = H + RH + (table ? "<table border=0 cols=2>" : "");
    const std::string tail = E(message) + "</p>" + END;
    EXPECT_EQ(page.substr(0, head.size()), head) << what << "\n" << page;
    EXPECT_TRUE(page.size() >= tail.size() && page.compare(page.size() - tail.size(), tail.size(), tail) == 0)
        << what << "\n"
        << page;
    if (table) {
        EXPECT_NE(page.find("<td>hostile</td>"), std::string::npos) << what << "\n" << page;
    }
}

// One run of `program` for Query() against `server` to its end (at most 110 s), with TMPDIR
// `tmp`; *seconds: how long it took.
inline testsupport::RunResult RunReport(const std::string &program, const testsupport::HostileAlpha &server,
                                        const std::string &tmp, double *seconds)
{
    testsupport::RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query(), "TZ=UTC", "TMPDIR=" + tmp,
                   server.RpcMapEnv()};
    options.timeoutMs = 110000;
    auto start = Clock::now();
    testsupport::RunResult r = testsupport::RunProgram({program}, options);
    *seconds = SecondsSince(start);
    return r;
}

class HostileWeb : public testing::Test {
protected:
    void SetUp() override { TELA_NEED_TOOL(!testsupport::LighttpdPath().empty(), "lighttpd"); }
    // lighttpd with the package's snippet running `program`, sending alpha calls to `server`.
    void StartWeb(const testsupport::HostileAlpha &server, const std::string &program = MAILTRACK_BIN)
    {
        testsupport::LighttpdOptions options;
        options.cgiProgram = program;
        options.packagedSnippet = true;
        options.environment = {{"TELAMORPCMAP", "127.0.0.1:" + std::to_string(server.port())},
                               {"TZ", "UTC"},
                               {"TMPDIR", tmp_.path()}};
        ASSERT_TRUE(web_.Start(options)) << web_.Log();
    }
    // True once lighttpd has no child left and the temporary directory is empty.
    bool CgiGone() { return Children(web_.pid()).empty() && EntryCount(tmp_.path()) == 0; }
    // Waits up to `seconds` for CgiGone.
    bool WaitCgiGone(double seconds)
    {
        return testsupport::WaitFor([&] { return CgiGone(); }, static_cast<int>(seconds * 1000));
    }

    testsupport::TempDir tmp_{"mailtrack-web"};
    testsupport::Lighttpd web_;
};

}  // namespace hostile_env
