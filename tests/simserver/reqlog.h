// The request log: one JSON object per line for every connection accepted or closed and every
// request decoded, flushed at once so that a test can read it while the server runs.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace simserver {

class RequestLog {
public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    // Opens (appends to) the file; an empty path writes nothing. False when it cannot be opened.
    [[nodiscard]] bool Open(const std::string &path);
    // Adds "seq" and writes the event as one line.
    void Write(nlohmann::json event);

private:
    FILE *file_ = nullptr;
    long seq_ = 0;
};

// Lower-case hex of the bytes.
std::string Hex(const std::string &bytes);

}  // namespace simserver
