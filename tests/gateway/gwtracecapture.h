// Trace capture of the gateway configuration tests. No trace object is installed in them, so
// every trace line goes to the fallback stream, which this object points at a file of its own.
#pragma once

#include <cstdio>
#include <string>

#include "trace/trace.h"
#include "trace/trace_params.h"

class TraceCapture {
public:
    static constexpr int kKeepLevel = -99;

    // level: the trace level while capturing, restored afterwards; kKeepLevel leaves it alone
    // (for code that sets the level itself).
    explicit TraceCapture(int level = 3)
        : file_(tmpfile()), level_(level == kKeepLevel ? kKeepLevel : GetTraceLevel())
    {
        TraceSetFallbackStream(file_);
        if (level != kKeepLevel)
            SetTraceLevel(level);
    }
    ~TraceCapture()
    {
        TraceSetFallbackStream(nullptr);
        if (level_ != kKeepLevel)
            SetTraceLevel(level_);
        fclose(file_);
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Everything captured so far.
    std::string Text()
    {
        fflush(file_);
        std::string text;
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }

private:
    FILE *file_;
    int level_;
};
