// Url-encoded form text into an entry list, then the lookups over it.
#include "cgihtml/cgihtml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    CgiEntry *list = nullptr;
    int count = CgiParseForm(&list, text.c_str());
    int seen = 0;
    for (const CgiEntry *e = list; e != nullptr; e = e->next) {
        ++seen;
        if (CgiValue(list, e->name) == nullptr)
            std::abort();
    }
    if (seen != count)
        std::abort();
    if (list != nullptr)
        std::free(CgiValues(list, list->name));
    CgiListClear(&list);

    // The decoder on its own, over an exactly sized copy.
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    CgiUnescape(copy);
    std::free(copy);
    return 0;
}
