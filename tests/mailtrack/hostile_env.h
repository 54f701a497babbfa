// What the tests of the report program against hostile alpha servers share: the temporary
// directory's entries, lighttpd's children, and lighttpd with the package's snippet.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

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

// The report request that the hostile server's answers fit.
inline std::string Query()
{
    return "p=0&a=127.0.0.1&u=alice&r=4711&n=bob@example.com";
}

class HostileWeb : public testing::Test {
protected:
    void SetUp() override { TELA_NEED_TOOL(!testsupport::LighttpdPath().empty(), "lighttpd"); }
    // lighttpd with the package's snippet, sending alpha calls to `server`.
    void StartWeb(const testsupport::HostileAlpha &server)
    {
        testsupport::LighttpdOptions options;
        options.cgiProgram = MAILTRACK_BIN;
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
