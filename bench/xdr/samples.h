// Sample records of the two programs' roads, filled as a typical request or answer holds them.
// The benchmark encodes and decodes them; the fuzz seed maker writes their encodings.
//
// Every Fill* clears the record first, so fixed fields send zeros behind their text. Records
// with lists or counted bytes get heap blocks (calloc/malloc, as decoding makes them): release
// them with xdr_free and the record's routine, like a decoded answer.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "xdr/fieldtext.h"
#include "xdr/records.h"

namespace xdrsamples {

inline void FillCompat(compat_rec &r)
{
    std::memset(&r, 0, sizeof r);
    r.valid = 1;
    r.level = 16;
}

// A route request of version 0, 1 or 2 for the extension 4711 (version 2 asks for the full form).
inline void FillRouteReq(route_req &r, int version)
{
    std::memset(&r, 0, sizeof r);
    r.vers = version;
    switch (version) {
    case 0:
        tela::FieldSet(r.route_req_u.v0.line_id, "4711");
        break;
    case 1:
        tela::FieldSet(r.route_req_u.v1.line_id, "4711");
        break;
    default:
        tela::FieldSet(r.route_req_u.v2.line_id, "4711");
        r.route_req_u.v2.full = 1;
        break;
    }
}
inline void FillRouteReqV0(route_req &r)
{
    FillRouteReq(r, 0);
}
inline void FillRouteReqV1(route_req &r)
{
    FillRouteReq(r, 1);
}
inline void FillRouteReqV2(route_req &r)
{
    FillRouteReq(r, 2);
}

// The short (arm 0) and full (arm 1) route answers naming user jdoe on alpha1.
inline void FillRouteResV0(route_res &r)
{
    std::memset(&r, 0, sizeof r);
    r.vers = 0;
    route_res_v0 &a = r.route_res_u.v0;
    tela::FieldSet(a.server, "alpha1.example.test");
    tela::FieldSet(a.user, "jdoe");
    tela::FieldSet(a.route_extra, "voice");
    a.route_extra_value = 3;
}

inline void FillRouteResV1(route_res &r)
{
    std::memset(&r, 0, sizeof r);
    r.vers = 1;
    route_res_v1 &a = r.route_res_u.v1;
    tela::FieldSet(a.route_id, "R4711");
    tela::FieldSet(a.route_text, "direct line of John Doe");
    tela::FieldSet(a.line_id, "4711");
    tela::FieldSet(a.server, "alpha1.example.test");
    tela::FieldSet(a.user, "jdoe");
    tela::FieldSet(a.route_extra, "voice");
    a.route_extra_value = 3;
}

inline void FillUsrconfNewReq(usrconf_new_req &r)
{
    std::memset(&r, 0, sizeof r);
    r.vers = 1;
    tela::FieldSet(r.usrconf_new_req_u.v1.user, "jdoe");
    tela::FieldSet(r.usrconf_new_req_u.v1.key, "GD_LDFIL");
}

inline void FillUsrconfNewRes(usrconf_new_res &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.value, "(telephoneNumber=%s)");
}

inline void FillUserKey(user_key &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.server, "alpha1.example.test");
    tela::FieldSet(r.user, "jdoe");
}

inline void FillUserRec(a_user_rec &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.rec.server, "alpha1.example.test");
    tela::FieldSet(r.rec.user, "jdoe");
    tela::FieldSet(r.rec.name, "John Doe");
    tela::FieldSet(r.rec.f7, "4711");
}

inline void FillGroupRec(group_rec &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.group_id, "sales");
    tela::FieldSet(r.name, "Sales department");
}

inline void FillSRecReq(s_rec_req &r)
{
    std::memset(&r, 0, sizeof r);
    r.vers = 1;
    tela::FieldSet(r.s_rec_req_u.v1.user, "alice");
    r.s_rec_req_u.v1.job = 4711;
}

// The fields that the report shows, set in the common part of both versions.
template <class Rec>
inline void FillSRecCommon(Rec &s)
{
    s.job = 4711;
    s.flags = 0x100;
    tela::FieldSet(s.subject, "Quarterly figures");
    s.submit_time = 1700000000;
    s.last_attempt = 1700000300;
    s.state = 2;
    s.retries = 1;
    tela::FieldSet(s.recipient, "bob@example.org");
}

inline void FillSRecResV0(s_rec_res &r)
{
    std::memset(&r, 0, sizeof r);
    r.record.vers = 0;
    FillSRecCommon(r.record.s_rec_new_u.v0);
}

inline void FillSRecResV1(s_rec_res &r)
{
    std::memset(&r, 0, sizeof r);
    r.record.vers = 1;
    s_rec_v1 &s = r.record.s_rec_new_u.v1;
    FillSRecCommon(s);
    tela::FieldSet(s.originator, "Alice Example <alice@example.org>");
    tela::FieldSet(s.status_text, "waiting for the next attempt");
}

// The report's log request: 10 lines from line 0 in english_us.8859.
inline void FillLogReq(log_req &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.user, "alice");
    r.job = 4711;
    r.max_lines = 10;
    tela::FieldSet(r.language, "english_us.8859");
}

// A log answer of `lines` text lines "line 1" ... in the sender's order.
inline bool FillLogRes(log_res &r, int lines)
{
    std::memset(&r, 0, sizeof r);
    r.ok = 1;
    r.next_line = lines;
    text_line **link = &r.lines;
    for (int i = 0; i < lines; ++i) {
        auto *n = static_cast<text_line *>(std::calloc(1, sizeof(text_line)));
        if (n == nullptr)
            return false;
        std::string text = "12:00:0" + std::to_string(i % 10) + " line " + std::to_string(i + 1);
        std::memcpy(n->text, text.data(), text.size());
        *link = n;
        link = &n->next;
    }
    return true;
}
inline void FillLogRes10(log_res &r)
{
    FillLogRes(r, 10);
}

// The greeting check's page request.
inline void FillPagebReq(pageb_req &r)
{
    std::memset(&r, 0, sizeof r);
    tela::FieldSet(r.user, "jdoe");
    r.kind = 2;
    r.job = 100;
    r.page = 1;
    r.variant = 14;
}

// One piece of `bytes` bytes of page data, as the job export reads it (1024 a piece).
inline bool FillPagebRes(pageb_res &r, unsigned bytes)
{
    std::memset(&r, 0, sizeof r);
    r.found = 1;
    r.count = static_cast<int>(bytes);
    if (bytes == 0)
        return true;
    r.data.blob_val = static_cast<char *>(std::malloc(bytes));
    if (r.data.blob_val == nullptr)
        return false;
    r.data.blob_len = bytes;
    for (unsigned i = 0; i < bytes; ++i)
        r.data.blob_val[i] = static_cast<char>(i * 7);
    return true;
}
inline void FillPagebRes1024(pageb_res &r)
{
    FillPagebRes(r, 1024);
}

inline void FillPageList(page_list &r)
{
    std::memset(&r, 0, sizeof r);
    r.count = 2;
    r.variants[0] = 0x4000;
    r.variants[1] = 0x10;
}

}  // namespace xdrsamples
