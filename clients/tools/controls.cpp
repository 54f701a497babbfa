// Request controls of the LDAP tool settings and the printers of response controls.
#include "tools/controls.h"

#include "lutil/lutil.h"

#include <cstdio>

#include <ldif.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int vlv_target_position = 0;
int vlv_list_count = 0;
struct berval vlv_context = {0, nullptr};

namespace {

// Base64 of a value, with room sized from its length.
std::string Base64(const char *value, ber_len_t length)
{
    if (!value || length == 0)
        return std::string();
    std::vector<char> text(4 * ((length + 2) / 3) + 1);
    int n = base64_encode(reinterpret_cast<const unsigned char *>(value), length, text.data(), text.size());
    return n < 0 ? std::string() : std::string(text.data(), n);
}

// Appends formatted text, unbounded (a server's cookie or context can be long).
void Append(std::string &text, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string &text, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n > 0) {
        size_t old = text.size();
        text.resize(old + n + 1);
        std::vsnprintf(text.data() + old, n + 1, format, args);
        text.resize(old + n);
    }
    va_end(args);
}

// The blank that joins a second item to what was written before it.
const char *Joiner(const std::string &text)
{
    return text.empty() ? "" : " ";
}

// A printer's line under its label: a value line in plain style, a comment line "label: ..."
// in LDIF style.
void WriteLabelled(const char *label, const std::string &text)
{
    if (tool_settings.ldif_output == 0) {
        tool_write_ldif_line(LDIF_PUT_VALUE, label, text.data(), text.size());
    } else {
        std::string name = std::string(label) + ": ";
        tool_write_ldif_line(LDIF_PUT_COMMENT, name.c_str(), text.data(), text.size());
    }
}

int PrintReadEntry(LDAPControl *ctrl, const char *label)
{
    BerElement *ber = ber_init(&ctrl->ldctl_value);
    if (!ber)
        return 1;
    struct FreeBer {
        BerElement *ber;
        ~FreeBer() { ber_free(ber, 1); }
    } freeBer{ber};

    tool_write_ldif_line(LDIF_PUT_COMMENT, "==> ", label, std::strlen(label));
    struct berval dn = {0, nullptr};
    if (ber_scanf(ber, "{m", &dn) == LBER_ERROR)
        return 1;
    tool_write_ldif_line(LDIF_PUT_VALUE, "dn", dn.bv_val, dn.bv_len);

    ber_len_t length = 0;
    char *last = nullptr;
    for (ber_tag_t tag = ber_first_element(ber, &length, &last); tag != LBER_DEFAULT;
         tag = ber_next_element(ber, &length, last)) {
        struct berval type = {0, nullptr};
        BerVarray values = nullptr;
        if (ber_scanf(ber, "{m", &type) == LBER_ERROR)
            return 1;
        if (ber_scanf(ber, "[W]", &values) == LBER_ERROR || values == nullptr)
            return 1;
        std::string name(type.bv_val, type.bv_len);
        for (BerValue *v = values; v->bv_val; v++) {
            if (tool_settings.ldif_output == 0) {
                tool_write_ldif_line(LDIF_PUT_VALUE, name.c_str(), v->bv_val, v->bv_len);
            } else {
                std::string commentName = name + ": ";
                tool_write_ldif_line(LDIF_PUT_COMMENT, commentName.c_str(), v->bv_val, v->bv_len);
            }
        }
        ber_bvarray_free(values);
    }
    tool_write_ldif_line(LDIF_PUT_COMMENT, "<== ", label, std::strlen(label));
    return 0;
}

int print_preread_control(LDAP * /*ld*/, LDAPControl *ctrl)
{
    return PrintReadEntry(ctrl, "preread");
}

int print_postread_control(LDAP * /*ld*/, LDAPControl *ctrl)
{
    return PrintReadEntry(ctrl, "postread");
}

int print_paged_results_control(LDAP *ld, LDAPControl *ctrl)
{
    ber_int_t estimate = 0;
    struct berval cookie = {0, nullptr};
    if (ldap_parse_pageresponse_control(ld, ctrl, &estimate, &cookie) != LDAP_SUCCESS)
        return 1;
    ber_memfree(tool_settings.paged_cookie.bv_val);
    tool_settings.paged_cookie = cookie;

    std::string text;
    if (estimate > 0)
        Append(text, "estimate=%d", static_cast<int>(estimate));
    if (cookie.bv_val && cookie.bv_len > 0) {
        Append(text, "%scookie=%s", Joiner(text), Base64(cookie.bv_val, cookie.bv_len).c_str());
        tool_settings.paged_more = 1;
    } else {
        Append(text, "%scookie=", Joiner(text));
    }
    WriteLabelled("pagedresults", text);
    return 0;
}

int print_password_policy_control(LDAP *ld, LDAPControl *ctrl)
{
    ber_int_t expire = -1;
    ber_int_t grace = -1;
    LDAPPasswordPolicyError error = PP_noError;
    int rc = ldap_parse_passwordpolicy_control(ld, ctrl, &expire, &grace, &error);
    if (rc != LDAP_SUCCESS)
        return rc;
    std::string text;
    if (expire != -1)
        Append(text, "expire=%d", static_cast<int>(expire));
    if (grace != -1)
        Append(text, "%sgrace=%d", Joiner(text), static_cast<int>(grace));
    if (error != PP_noError)
        Append(text, "%serror=%d (%s)", Joiner(text), static_cast<int>(error),
               ldap_passwordpolicy_err2txt(error));
    WriteLabelled("ppolicy", text);
    return 0;
}

int print_sort_result_control(LDAP *ld, LDAPControl *ctrl)
{
    ber_int_t code = 0;
    char *attribute = nullptr;
    int rc = ldap_parse_sortresponse_control(ld, ctrl, &code, &attribute);
    if (rc != LDAP_SUCCESS)
        return rc;
    std::string text;
    Append(text, "(%d) %s%s%s", static_cast<int>(code), ldap_err2string(code), attribute ? " " : "",
           attribute ? attribute : "");
    ldap_memfree(attribute);
    WriteLabelled("sortResult", text);
    return static_cast<int>(text.size());
}

int print_vlv_result_control(LDAP *ld, LDAPControl *ctrl)
{
    ber_int_t position = 0;
    ber_int_t count = 0;
    struct berval *context = nullptr;
    ber_int_t code = 0;
    int rc = ldap_parse_vlvresponse_control(ld, ctrl, &position, &count, &context, &code);
    if (rc != LDAP_SUCCESS)
        return rc;
    vlv_target_position = position;
    vlv_list_count = count;
    ber_memfree(vlv_context.bv_val);
    vlv_context = {0, nullptr};
    if (context) {
        vlv_context = *context;
        ber_memfree(context);  // the structure only; its text now belongs to vlv_context
    }
    std::string text;
    Append(text, "pos=%d count=%d context=%s (%d) %s", static_cast<int>(position), static_cast<int>(count),
           Base64(vlv_context.bv_val, vlv_context.bv_len).c_str(), static_cast<int>(code),
           ldap_err2string(code));
    WriteLabelled("vlvResult", text);
    return static_cast<int>(text.size());
}

int print_deref_control(LDAP *ld, LDAPControl *ctrl)
{
    LDAPDerefRes *list = nullptr;
    int rc = ldap_parse_derefresponse_control(ld, ctrl, &list);
    if (rc != LDAP_SUCCESS)
        return rc;
    for (LDAPDerefRes *d = list; d; d = d->next) {
        std::string line = d->derefAttr ? d->derefAttr : "";
        line += ": ";
        for (LDAPDerefVal *a = d->attrVals; a; a = a->next) {
            for (BerValue *v = a->vals; v && v->bv_val; v++) {
                bool binary = ldif_is_not_printable(v->bv_val, v->bv_len) != 0;
                line += '<';
                line += a->type ? a->type : "";
                if (binary)
                    line += ':';
                line += '=';
                if (binary)
                    line += Base64(v->bv_val, v->bv_len);
                else
                    line.append(v->bv_val, v->bv_len);
                line += ">;";
            }
        }
        line.append(d->derefVal.bv_val ? d->derefVal.bv_val : "", d->derefVal.bv_len);
        tool_write_ldif_line(LDIF_PUT_COMMENT, nullptr, line.data(), line.size());
    }
    ldap_derefresponse_free(list);
    return 0;
}

int print_what_failed_control(LDAP * /*ld*/, LDAPControl *ctrl)
{
    BerElement *ber = ber_init(&ctrl->ldctl_value);
    if (!ber)
        return LDAP_NO_MEMORY;
    BerVarray failed = nullptr;
    if (ber_scanf(ber, "[W]", &failed) != LBER_ERROR) {
        tool_write_ldif_line(LDIF_PUT_COMMENT, " what failed:", nullptr, 0);
        for (BerValue *v = failed; v && v->bv_val; v++)
            tool_write_ldif_line(LDIF_PUT_COMMENT, nullptr, v->bv_val, v->bv_len);
        ber_bvarray_free(failed);
    }
    ber_free(ber, 1);
    return 0;
}

// Encoding of one BER-valued request control; its value points into the element, which is
// freed after the list was set.
struct BerScratch {
    BerElement *ber = nullptr;
    BerElement *Start(LDAP *ld)
    {
        ber = ber_alloc_t(LBER_USE_DER);
        if (!ber)
            tool_end_process(ld, 1);
        return ber;
    }
    ~BerScratch()
    {
        if (ber)
            ber_free(ber, 1);
    }
};

bool AnyControlSetting()
{
    const ToolSettings &s = tool_settings;
    return s.assert_level || s.authzid || s.proxydn || s.relax || s.manageDSAit || s.noop || s.ppolicy ||
           s.preread || s.postread || s.chaining || s.sessiontracking;
}

// Sequence of the comma-separated attributes (empty without any) into the control's value.
void EncodeReadControl(LDAP *ld, BerScratch &scratch, const char *attrs, const char *label,
                       struct berval *value)
{
    std::vector<std::string> parts;
    if (attrs) {
        std::string current;
        for (const char *p = attrs;; p++) {
            if (*p == ',' || *p == '\0') {
                if (!current.empty())
                    parts.push_back(current);
                current.clear();
                if (*p == '\0')
                    break;
            } else {
                current += *p;
            }
        }
    }
    std::vector<char *> names;
    for (std::string &part : parts)
        names.push_back(part.data());
    names.push_back(nullptr);
    BerElement *ber = scratch.Start(ld);
    if (ber_printf(ber, "{v}", parts.empty() ? nullptr : names.data()) == -1) {
        std::fprintf(stderr, "%s attrs encode failed.\n", label);
        tool_end_process(ld, 1);
    }
    int rc = ber_flatten2(ber, value, 0);
    if (rc < 0) {
        std::fprintf(stderr, "%s flatten failed (%d)\n", label, rc);
        tool_end_process(ld, 1);
    }
}

}  // namespace

const ResponseControlPrinter response_control_printers[] = {
    {LDAP_CONTROL_PRE_READ, 255, print_preread_control},
    {LDAP_CONTROL_POST_READ, 255, print_postread_control},
    {LDAP_CONTROL_PAGEDRESULTS, 1, print_paged_results_control},
    {LDAP_CONTROL_PASSWORDPOLICYRESPONSE, 255, print_password_policy_control},
    {LDAP_CONTROL_SORTRESPONSE, 1, print_sort_result_control},
    {LDAP_CONTROL_VLVRESPONSE, 1, print_vlv_result_control},
    {"1.3.6.1.4.1.4203.666.5.16", 1, print_deref_control},
    {"1.3.6.1.4.1.4203.666.5.17", 255, print_what_failed_control},
    {nullptr, 0, nullptr},
};

void tool_set_server_controls(LDAP *ld, LDAPControl *extra, int count)
{
    ToolSettings &s = tool_settings;
    if (!AnyControlSetting() && count == 0 && s.extra_control_count == 0)
        return;

    std::vector<LDAPControl *> list;
    try {
        list.reserve(64 + count + s.extra_control_count + 1);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "No memory\n");
        tool_end_process(ld, 1);
    }
    LDAPControl controls[16];
    std::memset(controls, 0, sizeof controls);
    int used = 0;
    auto add = [&](const char *oid, struct berval value, bool critical) {
        LDAPControl &c = controls[used++];
        c.ldctl_oid = const_cast<char *>(oid);
        c.ldctl_value = value;
        c.ldctl_iscritical = critical ? 1 : 0;
        list.push_back(&c);
    };
    const struct berval none = {0, nullptr};
    BerScratch proxyBer, prereadBer, postreadBer, chainingBer;

    if (s.assert_level) {
        if (s.assertion_value.bv_val == nullptr) {
            int rc = s.assertion ? ldap_create_assertion_control_value(ld, s.assertion, &s.assertion_value)
                                 : LDAP_PARAM_ERROR;
            if (rc != LDAP_SUCCESS)
                std::fprintf(stderr, "Unable to create assertion value \"%s\" (%d)\n",
                             s.assertion ? s.assertion : "", rc);
        }
        add(LDAP_CONTROL_ASSERT, s.assertion_value, s.assert_level > 1);
    }
    if (s.authzid) {
        struct berval value = {static_cast<ber_len_t>(std::strlen(s.authzid)), s.authzid};
        add(LDAP_CONTROL_PROXY_AUTHZ, value, true);
    }
    if (s.proxydn) {
        BerElement *ber = proxyBer.Start(ld);
        struct berval value = {0, nullptr};
        if (ber_printf(ber, "s", s.proxydn) == -1)
            tool_end_process(ld, 1);
        if (ber_flatten2(ber, &value, 0) == -1)
            tool_end_process(ld, 1);
        add("2.16.840.1.113730.3.4.12", value, true);
    }
    if (s.relax)
        add(LDAP_CONTROL_RELAX, none, s.relax > 1);
    if (s.manageDSAit)
        add(LDAP_CONTROL_MANAGEDSAIT, none, s.manageDSAit > 1);
    if (s.noop)
        add(LDAP_CONTROL_NOOP, none, s.noop > 1);
    if (s.ppolicy)
        add(LDAP_CONTROL_PASSWORDPOLICYREQUEST, none, false);
    if (s.preread) {
        struct berval value = {0, nullptr};
        EncodeReadControl(ld, prereadBer, s.preread_attrs, "preread", &value);
        add(LDAP_CONTROL_PRE_READ, value, s.preread > 1);
    }
    if (s.postread) {
        struct berval value = {0, nullptr};
        EncodeReadControl(ld, postreadBer, s.postread_attrs, "postread", &value);
        add(LDAP_CONTROL_POST_READ, value, s.postread > 1);
    }
    if (s.chaining) {
        struct berval value = {0, nullptr};
        if (s.chaining_resolve > -1) {
            BerElement *ber = chainingBer.Start(ld);
            bool ok = ber_printf(ber, "{e", static_cast<ber_int_t>(s.chaining_resolve)) != -1;
            if (ok && s.chaining_continuation > -1)
                ok = ber_printf(ber, "e", static_cast<ber_int_t>(s.chaining_continuation)) != -1;
            if (ok)
                ok = ber_printf(ber, "N}") != -1;
            if (!ok) {
                std::fprintf(stderr, "Chaining behavior control encoding error!\n");
                tool_end_process(ld, 1);
            }
            if (ber_flatten2(ber, &value, 0) == -1)
                tool_end_process(ld, 1);
        }
        add("1.3.6.1.4.1.4203.666.11.3", value, s.chaining > 1);
    }
    if (s.sessiontracking) {
        if (s.session_tracking_value.bv_val == nullptr && make_session_tracking_value(ld, nullptr) != 0)
            tool_end_process(ld, 1);
        add(LDAP_CONTROL_X_SESSION_TRACKING, s.session_tracking_value, false);
    }

    for (int i = 0; i < count; i++)
        list.push_back(&extra[i]);
    for (int i = 0; i < s.extra_control_count; i++)
        list.push_back(&s.extra_controls[i]);
    list.push_back(nullptr);

    if (ldap_set_option(ld, LDAP_OPT_SERVER_CONTROLS, list.data()) != LDAP_OPT_SUCCESS) {
        bool critical = false;
        for (LDAPControl *c : list)
            if (c && c->ldctl_iscritical)
                critical = true;
        std::fprintf(stderr, "Could not set %scontrols\n", critical ? "critical " : "");
        if (critical)
            tool_end_process(ld, 1);
    }
}

void tool_print_controls(LDAP *ld, LDAPControl **ctrls)
{
    const ToolSettings &s = tool_settings;
    for (LDAPControl **p = ctrls; p && *p; p++) {
        LDAPControl *c = *p;
        if (!c->ldctl_oid)
            continue;
        std::string text = s.ldif_output ? ": " : "";
        text += c->ldctl_oid;
        text += c->ldctl_iscritical ? " true" : " false";
        if (c->ldctl_value.bv_val) {
            text += ' ';
            text += Base64(c->ldctl_value.bv_val, c->ldctl_value.bv_len);
        }
        if (s.ldif_output < 2)
            tool_write_ldif_line(s.ldif_output ? LDIF_PUT_COMMENT : LDIF_PUT_VALUE, "control", text.data(),
                                 text.size());
        for (const ResponseControlPrinter *e = response_control_printers; e->oid; e++) {
            if (std::strcmp(e->oid, c->ldctl_oid) == 0) {
                if (e->print)
                    e->print(ld, c);
                break;
            }
        }
    }
}

int tool_write_ldif_line(int kind, const char *name, const char *value, ber_len_t length)
{
    char *line = ldif_put_wrap(kind, name, value, length, tool_settings.ldif_wrap);
    if (!line)
        return -1;
    std::fputs(line, stdout);
    ber_memfree(line);
    return 0;
}
