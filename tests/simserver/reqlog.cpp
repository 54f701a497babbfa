// Request log writer.
#include "reqlog.h"

namespace simserver {

RequestLog::~RequestLog()
{
    if (file_)
        fclose(file_);
}

bool RequestLog::Open(const std::string &path)
{
    if (path.empty())
        return true;
    file_ = fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void RequestLog::Write(nlohmann::json event)
{
    if (!file_)
        return;
    event["seq"] = ++seq_;
    std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(file_, "%s\n", line.c_str());
    fflush(file_);
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace simserver
