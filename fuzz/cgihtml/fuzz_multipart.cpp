// multipart/form-data bodies. The input's first line is CONTENT_TYPE, the rest is the body;
// uploads are parsed but no file is written.
#include "cgihtml/cgihtml.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    size_t newline = input.find('\n');
    std::string type = input.substr(0, newline);
    std::string body = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    body += '\0';  // fmemopen needs a non-empty buffer; the length below leaves the byte out
    std::string length = std::to_string(body.size() - 1);

    FILE *in = fmemopen(body.data(), body.size(), "r");
    if (in == nullptr)
        return 0;
    CgiRequest request;
    request.contentType = type.c_str();
    request.contentLength = length.c_str();
    request.in = in;
    request.uploadDir = nullptr;
    CgiEntry *list = nullptr;
    int count = 0;
    CgiError error = CgiParseMultipartFrom(request, &list, &count);
    if (error != CGI_OK && error != CGI_ERR_BAD_LENGTH)
        std::abort();
    int seen = 0;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        ++seen;
    if (seen != count)
        std::abort();
    if (std::ftell(in) > static_cast<long>(body.size() - 1))
        std::abort();  // read beyond CONTENT_LENGTH
    CgiListClear(&list);
    std::fclose(in);
    return 0;
}
