// Interrupt handling of a running LDAP operation, and the object-identifier test of the option
// parser.
#include "tools/common.h"

#include <cctype>
#include <cstdio>

namespace {

int pendingValue = 0;

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int tool_check_interrupt(LDAP *ld, int msgid)
{
    switch (tool_settings.interrupt_pending) {
    case 1: {
        int rc = ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        std::fprintf(stderr, "got interrupt, abandon got %d: %s\n", rc, ldap_err2string(rc));
        return -1;
    }
    case 2: {
        int rc = ldap_cancel_s(ld, msgid, nullptr, nullptr);
        std::fprintf(stderr, "got interrupt, cancel got %d: %s\n", rc, ldap_err2string(rc));
        return -1;
    }
    case 3:
        return -1;
    default:
        return 0;
    }
}

int tool_is_dotted_oid(const char *text)
{
    if (!text || !IsDigit(text[0]))
        return 0;
    bool partStart = true;
    for (const char *p = text; *p; p++) {
        if (*p == '.') {
            if (p[1] == '\0')
                return 0;
            partStart = true;
            continue;
        }
        if (!IsDigit(*p))
            return 0;
        if (partStart && *p == '0' && p[1] != '.')
            return 0;
        partStart = false;
    }
    return 1;
}

int take_pending_value()
{
    int value = pendingValue;
    pendingValue = 0;
    return value;
}
