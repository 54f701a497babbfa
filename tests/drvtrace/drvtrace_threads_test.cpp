// The harness's trace lines written from several threads at once stay whole.
#include "drvtrace/drvtrace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"

namespace {

TEST(TraceScope, LinesOfManyThreadsStayWhole)
{
    SetTraceVerbosity(3);
    testsupport::CaptureFd captured(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                GdResult rc = 0;
                TraceScope scope("Worker", static_cast<LineNo>(t), &rc);
                DriverTrace(__FILE__, __LINE__, TRACE_DEBUG, static_cast<LineNo>(t),
                            "thread %d step %d of a longer line that must not be torn apart\n", t, i);
                rc = (i % 2) ? GDERR_FAILED : 0;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    fflush(stdout);
    const std::string out = captured.Text();
    size_t lines = 0, start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        ++lines;
        const bool whole = line == "-->Worker()" || line == "<--Worker()=ok" ||
                           line == "<--Worker()=0x10000001" ||
                           (line.rfind("thread ", 0) == 0 && line.size() > 40 &&
                            line.find("must not be torn apart") != std::string::npos);
        ASSERT_TRUE(whole) << "torn line: " << line;
    }
    EXPECT_EQ(start, out.size());
    EXPECT_EQ(lines, 8u * 200 * 3);
}

}  // namespace
