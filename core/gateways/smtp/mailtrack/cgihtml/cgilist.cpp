// Entry lists: lookups, list operations and the string helpers.
#include "cgihtml/cgihtml.h"

#include <cstdlib>
#include <cstring>

namespace {

bool Same(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// Collects the names (byName false) or values (byName true) of all entries whose other text
// equals key into a null-ended malloc'd array; null when none matches.
const char **Collect(const CgiEntry *list, const char *key, bool byName)
{
    size_t n = 0;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (Same(byName ? e->name : e->value, key))
            ++n;
    if (n == 0)
        return nullptr;
    auto **out = static_cast<const char **>(std::malloc((n + 1) * sizeof(const char *)));
    if (out == nullptr)
        return nullptr;
    size_t i = 0;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (Same(byName ? e->name : e->value, key))
            out[i++] = byName ? e->value : e->name;
    out[i] = nullptr;
    return out;
}

}  // namespace

const char *CgiValue(const CgiEntry *list, const char *name)
{
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (Same(e->name, name))
            return e->value;
    return nullptr;
}

const char **CgiValues(const CgiEntry *list, const char *name)
{
    return Collect(list, name, true);
}

const char *CgiNameOf(const CgiEntry *list, const char *value)
{
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (Same(e->value, value))
            return e->name;
    return nullptr;
}

const char **CgiNamesOf(const CgiEntry *list, const char *value)
{
    return Collect(list, value, false);
}

bool CgiFormEmpty(const CgiEntry *list)
{
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (e->value != nullptr && e->value[0] != '\0')
            return false;
    return true;
}

bool CgiFieldExists(const CgiEntry *list, const char *name)
{
    return CgiValue(list, name) != nullptr;
}

bool CgiFieldEmpty(const CgiEntry *list, const char *name)
{
    const char *value = CgiValue(list, name);
    return value == nullptr || value[0] == '\0';
}

void CgiListInit(CgiEntry **list)
{
    *list = nullptr;
}

CgiEntry *CgiListNext(const CgiEntry *node)
{
    return node != nullptr ? node->next : nullptr;
}

bool CgiListNodeOk(const CgiEntry * /*list*/, const CgiEntry *node)
{
    return node != nullptr;
}

bool CgiListContains(const CgiEntry *list, const CgiEntry *node)
{
    if (node == nullptr)
        return false;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        if (e == node)
            return true;
    return false;
}

void CgiListForEach(const CgiEntry *list, void (*fn)(const char *name, const char *value))
{
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        fn(e->name, e->value);
}

CgiEntry *CgiListInsertAfter(CgiEntry **list, CgiEntry *node, const char *name, const char *value)
{
    if (*list != nullptr && node == nullptr)
        std::exit(1);
    if (name == nullptr)
        name = "";
    if (value == nullptr)
        value = "";
    // One block per entry: the node, then both texts. A form of many short pairs costs one
    // allocation per pair instead of three.
    const size_t nameSize = std::strlen(name) + 1;
    const size_t valueSize = std::strlen(value) + 1;
    auto *entry = static_cast<CgiEntry *>(std::malloc(sizeof(CgiEntry) + nameSize + valueSize));
    if (entry == nullptr) {
        std::fputs(CgiErrorMessage(CGI_ERR_MEMORY), stderr);
        std::exit(1);
    }
    entry->name = reinterpret_cast<char *>(entry + 1);
    entry->value = entry->name + nameSize;
    std::memcpy(entry->name, name, nameSize);
    std::memcpy(entry->value, value, valueSize);
    if (*list == nullptr) {
        entry->next = nullptr;
        *list = entry;
    } else {
        entry->next = node->next;
        node->next = entry;
    }
    return entry;
}

void CgiListClear(CgiEntry **list)
{
    // Reverse the links first so that the last node goes first without a walk per node.
    CgiEntry *reversed = nullptr;
    while (*list != nullptr) {
        CgiEntry *node = *list;
        *list = node->next;
        node->next = reversed;
        reversed = node;
    }
    while (reversed != nullptr) {
        CgiEntry *node = reversed;
        reversed = node->next;
        std::free(node);  // its texts with it
    }
}

char *CgiStrDup(const char *text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    auto *copy = static_cast<char *>(std::malloc(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

char *CgiSubstr(const char *text, int start, int count)
{
    if (text == nullptr)
        return nullptr;
    long len = static_cast<long>(std::strlen(text));
    long from = start;
    if (from < 0)
        from = len - 1 + from;
    if (from < 0 || from > len)
        return nullptr;
    long n = count < 0 ? 0 : count;
    if (n > len - from)
        n = len - from;
    auto *out = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (out == nullptr)
        return nullptr;
    std::memcpy(out, text + from, static_cast<size_t>(n));
    out[n] = '\0';
    return out;
}

char *CgiEscapeShell(const char *text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    auto *out = static_cast<char *>(std::malloc(2 * n + 1));
    if (out == nullptr)
        return nullptr;
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain)
            out[j++] = '\\';
        out[j++] = static_cast<char>(c);
    }
    out[j] = '\0';
    return out;
}
