// Input: two bytes of output size, one byte choosing the replacement, then the text. Every
// output goes into a heap buffer of exactly the size given, so a write past it is caught.
#include "uc2/uc2.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "uc2 check failed: %s\n", what);
        abort();
    }
}

std::string ReferenceToIso(const std::string &in, size_t size, const char *repl)
{
    if (size == 0)
        return "";
    const size_t replLen = repl ? strlen(repl) : 0;
    std::string out;
    size_t pos = 0;
    while (pos < in.size() && out.size() < size) {
        unsigned char byte;
        int mod;
        utf8_to_iso(in.c_str(), &pos, &byte, &mod);
        if (mod == UC2_MAPPED)
            out.push_back(static_cast<char>(byte));
        else if (mod != UC2_DROPPED && replLen > 0 && out.size() + replLen < size)
            out += repl;
    }
    if (out.size() == size)
        out.pop_back();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    if (len < 3)
        return 0;
    const size_t size = static_cast<size_t>(data[0]) | (static_cast<size_t>(data[1] & 0x0F) << 8);
    const char *const repls[] = {nullptr, "", "?", "<?>"};
    const char *repl = repls[data[2] & 3];
    const std::string text(reinterpret_cast<const char *>(data + 3),
                           strnlen(reinterpret_cast<const char *>(data + 3), len - 3));

    {
        std::vector<char> buf(size);
        char *r = utf8_to_iso_buf(text.c_str(), buf.data(), size, repl);
        Check(r == buf.data(), "utf8_to_iso_buf result");
        if (size > 0) {
            const std::string got(buf.data(), strnlen(buf.data(), size));
            Check(got.size() < size, "utf8_to_iso_buf terminated");
            Check(got == ReferenceToIso(text, size, repl), "utf8_to_iso_buf rules");
        }
    }
    {
        std::vector<char> buf(size);
        Check(iso_to_utf8_buf(text.c_str(), buf.data(), size) == buf.data(), "iso_to_utf8_buf");
        if (size > 0)
            Check(strnlen(buf.data(), size) < size, "iso_to_utf8_buf terminated");
    }
    {
        std::vector<uint16_t> units(size);
        Check(iso_to_uc2_buf(text.c_str(), units.data(), size) == units.data(), "iso_to_uc2_buf");
        std::vector<char> buf(size);
        uc2_to_iso_buf(units.data(), size, buf.data(), size, repl);
        if (size > 0)
            Check(strnlen(buf.data(), size) < size, "uc2_to_iso_buf terminated");
    }
    {
        char *a = utf8_to_iso_dup(text.c_str(), repl);
        Check(a != nullptr && strlen(a) <= text.size(), "utf8_to_iso_dup");
        free(a);
        char *b = iso_to_utf8_dup(text.c_str());
        Check(b != nullptr && strlen(b) + 1 == iso_to_utf8_size(text.c_str()), "iso_to_utf8_dup");
        free(b);
        uint16_t *c = iso_to_uc2_dup(text.c_str());
        Check(c != nullptr, "iso_to_uc2_dup");
        free(c);
    }
    return 0;
}
