// Cookie text into an entry list.
#include "cgihtml/cgihtml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    CgiEntry *list = nullptr;
    int count = CgiParseCookies(&list, text.c_str());
    int seen = 0;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        ++seen;
    if (seen != count)
        std::abort();
    CgiListClear(&list);
    return 0;
}
