// The answers of the simulated alpha and omega procedures, made from the fixture.
#include "procs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "xdr/records.h"

namespace simserver {
namespace {

using nlohmann::json;

#define XP(routine) reinterpret_cast<xdrproc_t>(routine)
#define FIELD(f) GetFixed(f, sizeof(f))
#define PUT(f, text) PutFixed(f, sizeof(f), text, ctx.fault)

std::string LogText(const char *field, size_t n) { return FromLatin9(GetFixed(field, n)); }
#define LOGFIELD(f) LogText(f, sizeof(f))

// The status to answer: the fault's when it sets one, else `normal`.
int Status(const CallContext &ctx, int normal) { return ctx.fault && ctx.fault->ec ? *ctx.fault->ec : normal; }

template <typename T>
T *Calloc() {
    return static_cast<T *>(calloc(1, sizeof(T)));
}

// ---- compatibility level (alpha 75, omega 71)

void AnswerCompat(const Compat &c, CallContext &ctx, compat_rec *r) {
    r->valid = c.valid;
    r->level = c.level;
    ctx.note["level"] = c.level;
}
void AnswerAlphaCompat(CallContext &ctx, const void *, void *res) {
    AnswerCompat(ctx.fixture.alphaCompat, ctx, static_cast<compat_rec *>(res));
}
void AnswerOmegaCompat(CallContext &ctx, const void *, void *res) {
    AnswerCompat(ctx.fixture.omegaCompat, ctx, static_cast<compat_rec *>(res));
}

// ---- route application (alpha 117, omega 94)

void DescribeRouteReq(const void *arg, json &out) {
    auto *r = static_cast<const route_req *>(arg);
    out["version"] = r->vers;
    if (r->vers == 0) {
        out["line_id"] = LOGFIELD(r->route_req_u.v0.line_id);
        out["aux_id"] = LOGFIELD(r->route_req_u.v0.aux_id);
    } else if (r->vers == 1) {
        out["line_id"] = LOGFIELD(r->route_req_u.v1.line_id);
        out["aux_id"] = LOGFIELD(r->route_req_u.v1.aux_id);
    } else {
        out["line_id"] = LOGFIELD(r->route_req_u.v2.line_id);
        out["aux_id"] = LOGFIELD(r->route_req_u.v2.aux_id);
        out["full"] = r->route_req_u.v2.full;
    }
}

// The full form (arm 1) answers a version-2 request with `full` 1, the short form every other;
// a route's reply_version overrides that.
void AnswerRoute(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const route_req *>(arg);
    auto *r = static_cast<route_res *>(res);
    std::string lineId = q->vers == 0 ? FIELD(q->route_req_u.v0.line_id)
                         : q->vers == 1 ? FIELD(q->route_req_u.v1.line_id)
                                        : FIELD(q->route_req_u.v2.line_id);
    bool full = q->vers == 2 && q->route_req_u.v2.full == 1;
    const Route *route = ctx.fixture.FindRoute(lineId);
    int ec = route ? route->ec : ctx.fixture.unroutedEc;
    if (route && full && route->fullEc) ec = *route->fullEc;
    ec = Status(ctx, ec);
    r->vers = route && route->replyVersion ? *route->replyVersion : (full ? 1 : 0);
    ctx.note["routed"] = route != nullptr;
    ctx.note["version"] = r->vers;
    ctx.note["ec"] = ec;
    Route empty;
    const Route &src = route && ec == 0 ? *route : empty;
    if (r->vers == 1) {
        route_res_v1 &v = r->route_res_u.v1;
        PUT(v.route_id, src.routeId);
        PUT(v.route_text, src.routeText);
        PUT(v.line_id, src.routeLineId);
        PUT(v.aux_id, src.auxId);
        PUT(v.server, src.server);
        PUT(v.user, src.user);
        PUT(v.group, src.group);
        PUT(v.route_extra, src.routeExtra);
        v.route_extra_value = src.routeExtraValue;
        v.ec = static_cast<short>(ec);
    } else {
        route_res_v0 &v = r->route_res_u.v0;
        PUT(v.server, src.server);
        PUT(v.user, src.user);
        PUT(v.group, src.group);
        PUT(v.route_extra, src.routeExtra);
        v.route_extra_value = src.routeExtraValue;
        v.ec = static_cast<short>(ec);
    }
}

// ---- user properties (alpha 144, older form 105)

void DescribeUsrconfNew(const void *arg, json &out) {
    auto *q = static_cast<const usrconf_new_req *>(arg);
    out["version"] = q->vers;
    out["user"] = LOGFIELD(q->usrconf_new_req_u.v1.user);
    out["key"] = LOGFIELD(q->usrconf_new_req_u.v1.key);
}

void AnswerUsrconfNew(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const usrconf_new_req *>(arg);
    auto *r = static_cast<usrconf_new_res *>(res);
    const Property *p =
        ctx.fixture.FindProperty(FIELD(q->usrconf_new_req_u.v1.user), FIELD(q->usrconf_new_req_u.v1.key));
    int ec = Status(ctx, p ? p->ec : 25);
    r->ec = static_cast<short>(ec);
    if (p && ec == 0) PUT(r->value, p->value);
    ctx.note["set"] = p != nullptr;
    ctx.note["ec"] = ec;
}

void DescribeUsrconfKey(const void *arg, json &out) {
    auto *q = static_cast<const usrconf_key *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["key"] = LOGFIELD(q->key);
}

void AnswerUsrconf(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const usrconf_key *>(arg);
    const Property *p = ctx.fixture.FindProperty(FIELD(q->user), FIELD(q->key));
    if (p && p->ec == 0) PutFixed(static_cast<char *>(res), sizeof(str81), p->value, ctx.fault);
    ctx.note["set"] = p != nullptr;
}

void DescribeUsrconfRec(const void *arg, json &out) {
    auto *q = static_cast<const usrconf_rec *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["key"] = LOGFIELD(q->key);
    out["value"] = LOGFIELD(q->value);
}

// ---- user and group records (alpha 35, alpha 150, omega 32)

void DescribeUserKey(const void *arg, json &out) {
    auto *q = static_cast<const user_key *>(arg);
    out["server"] = LOGFIELD(q->server);
    out["user"] = LOGFIELD(q->user);
}

void AnswerUser(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const user_key *>(arg);
    user_rec &r = static_cast<a_user_rec *>(res)->rec;
    const UserRecord *u = ctx.fixture.FindUser(FIELD(q->server), FIELD(q->user));
    ctx.note["found"] = u != nullptr;
    if (!u) return;
    PUT(r.server, u->server.empty() ? FIELD(q->server) : u->server);
    PUT(r.user, u->user);
    PUT(r.name, u->name);
    PUT(r.f4, u->f4);
    PUT(r.f5, u->f5);
    r.f6 = u->f6 != 0;
    PUT(r.f7, u->f7);
    r.f8 = static_cast<short>(u->f8);
}

void DescribeStr11(const void *arg, json &out) { out["id"] = LogText(static_cast<const char *>(arg), sizeof(str11)); }

void AnswerGroup(CallContext &ctx, const void *arg, bool omega, void *res) {
    auto *r = static_cast<group_rec *>(res);
    const Group *g = ctx.fixture.FindGroup(GetFixed(static_cast<const char *>(arg), sizeof(str11)), omega);
    ctx.note["found"] = g != nullptr;
    if (!g) return;
    PUT(r->group_id, g->id);
    PUT(r->name, g->name);
}
void AnswerAlphaGroup(CallContext &ctx, const void *arg, void *res) { AnswerGroup(ctx, arg, false, res); }
void AnswerOmegaGroup(CallContext &ctx, const void *arg, void *res) { AnswerGroup(ctx, arg, true, res); }

// ---- pages (alpha 20, 59, 60)

void DescribeJobKey(const void *arg, json &out) {
    auto *q = static_cast<const job_key *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
}

void AnswerPages(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const job_key *>(arg);
    auto *r = static_cast<page_list *>(res);
    std::vector<uint32_t> flags = ctx.fixture.PageFlags(FIELD(q->user), q->kind, q->job);
    size_t n = std::min<size_t>(flags.size(), 1000);
    r->count = static_cast<int>(n);
    for (size_t i = 0; i < n; ++i) r->variants[i] = static_cast<int>(flags[i]);
    ctx.note["count"] = n;
}

void DescribePagebReq(const void *arg, json &out) {
    auto *q = static_cast<const pageb_req *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["page"] = q->page;
    out["variant"] = q->variant;
    out["offset"] = q->offset;
    out["max_bytes"] = q->max_bytes;
}

void AnswerPageb(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const pageb_req *>(arg);
    auto *r = static_cast<pageb_res *>(res);
    const PageVariant *p = ctx.fixture.FindPage(FIELD(q->user), q->kind, q->job, q->page, q->variant);
    ctx.note["found"] = p != nullptr;
    if (!p) return;
    r->found = TRUE;
    size_t size = p->data.size();
    size_t offset = q->offset < 0 ? size : static_cast<size_t>(q->offset);
    size_t count = offset >= size || q->max_bytes <= 0 ? 0 : std::min(size - offset, static_cast<size_t>(q->max_bytes));
    r->count = static_cast<int>(count);
    if (count) {
        r->data.blob_val = static_cast<char *>(malloc(count));
        memcpy(r->data.blob_val, p->data.data() + offset, count);
        r->data.blob_len = static_cast<u_int>(count);
    }
    ctx.note["count"] = count;
}

void DescribePagebRec(const void *arg, json &out) {
    auto *q = static_cast<const pageb_rec *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["job"] = q->job;
    out["page"] = q->page;
    out["variant"] = q->variant;
    out["offset"] = q->offset;
    out["count"] = q->count;
    out["data_len"] = q->data.blob_len;
}

// A plain bool, short or long answer: true / 0 unless the fault names the value.
void AnswerTrue(CallContext &ctx, const void *, void *res) { *static_cast<bool_t *>(res) = Status(ctx, 1) != 0; }

void DescribeCreateJob(const void *arg, json &out) { out["user"] = LogText(static_cast<const char *>(arg), sizeof(str11)); }
void AnswerCreateJob(CallContext &ctx, const void *, void *res) { *static_cast<int *>(res) = Status(ctx, 9001); }

// ---- transmission log (alpha 22, 72)

void DescribeLogReq(const void *arg, json &out) {
    auto *q = static_cast<const log_req *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["first_line"] = q->first_line;
    out["max_lines"] = q->max_lines;
    out["language"] = LOGFIELD(q->language);
}

// Lines from the index that `first_line` names; `next_line` names the index after them.
void AnswerLog(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const log_req *>(arg);
    auto *r = static_cast<log_res *>(res);
    const TxLog *l = ctx.fixture.FindLog(FIELD(q->user), q->kind, q->job);
    ctx.note["found"] = l != nullptr;
    if (!l || !l->ok) return;  // ok 0
    r->ok = TRUE;
    long total = static_cast<long>(l->lines.size());
    long index = q->first_line == 0 ? 0 : (static_cast<long>(q->first_line) - l->cursorStart) / l->cursorStep;
    long want = l->batch > 0 ? l->batch : q->max_lines;
    long n = 0;
    if (l->endless && total > 0) {
        n = std::max<long>(want, 1);
    } else if (index >= 0 && index < total && want > 0) {
        n = std::min(want, total - index);
    }
    text_line **tail = &r->lines;
    for (long i = 0; i < n; ++i) {
        text_line *node = Calloc<text_line>();
        const std::string &text = l->lines[static_cast<size_t>(((index + i) % total + total) % total)];
        PutFixed(node->text, sizeof(node->text), text, ctx.fault);
        *tail = node;
        tail = &node->next;
    }
    r->next_line = static_cast<int>(l->cursorStart + (std::max<long>(index, 0) + n) * l->cursorStep);
    ctx.note["lines"] = n;
    ctx.note["next_line"] = r->next_line;
}

void DescribeLogLine(const void *arg, json &out) {
    auto *q = static_cast<const log_line_rec *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["line_len"] = q->line.blob_len;
    out["line"] = FromLatin9(GetFixed(q->line.blob_val ? q->line.blob_val : "", q->line.blob_len));
}

// ---- texts (alpha 73)

void DescribeTextReq(const void *arg, json &out) {
    auto *q = static_cast<const text_req *>(arg);
    out["language"] = LOGFIELD(q->language);
    out["key_len"] = q->key.blob_len;
    out["key"] = FromLatin9(GetFixed(q->key.blob_val ? q->key.blob_val : "", q->key.blob_len));
}

void AnswerText(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const text_req *>(arg);
    auto *r = static_cast<blob *>(res);
    std::string key = GetFixed(q->key.blob_val ? q->key.blob_val : "", q->key.blob_len);
    auto it = ctx.fixture.texts.find(key);
    ctx.note["found"] = it != ctx.fixture.texts.end();
    if (it == ctx.fixture.texts.end()) return;
    r->blob_len = static_cast<u_int>(it->second.size() + 1);  // the text with its terminator
    r->blob_val = static_cast<char *>(calloc(1, r->blob_len));
    memcpy(r->blob_val, it->second.data(), it->second.size());
}

// ---- omega configuration entries (omega 49)

void AnswerConfig(CallContext &ctx, const void *arg, void *res) {
    auto it = ctx.fixture.config.find(GetFixed(static_cast<const char *>(arg), sizeof(str11)));
    ctx.note["found"] = it != ctx.fixture.config.end();
    if (it != ctx.fixture.config.end()) PutFixed(static_cast<char *>(res), sizeof(str81), it->second, ctx.fault);
}

// ---- send records (alpha 137)

void DescribeSRecReq(const void *arg, json &out) {
    auto *q = static_cast<const s_rec_req *>(arg);
    out["version"] = q->vers;
    out["user"] = LOGFIELD(q->s_rec_req_u.v1.user);
    out["job"] = q->s_rec_req_u.v1.job;
}

template <typename T>
void SetNum(T &field, const json &j, const char *name) {
    if (j.contains(name) && j[name].is_number()) field = static_cast<T>(j[name].get<long long>());
    if (j.contains(name) && j[name].is_boolean()) field = static_cast<T>(j[name].get<bool>());
}

void SetText(char *field, size_t n, const json &j, const char *name, const Fault *fault) {
    std::string text = j.contains(name) && j[name].is_string() ? ToLatin9(j[name].get<std::string>()) : "";
    PutFixed(field, n, text, fault);
}

#define NUM(f) SetNum(r.f, j, #f)
#define TXT(f) SetText(r.f, sizeof(r.f), j, #f, fault)

// The 20 fields that both versions of the send record share.
template <typename R>
void FillSRecCommon(R &r, const json &j, const Fault *fault) {
    NUM(job);
    TXT(f2);
    NUM(f3);
    NUM(flags);
    NUM(f5);
    TXT(subject);
    NUM(submit_time);
    NUM(f8);
    NUM(f9);
    NUM(last_attempt);
    NUM(f11);
    NUM(f12);
    NUM(f13);
    NUM(state);
    NUM(f15);
    NUM(retries);
    TXT(f17);
    TXT(recipient);
    NUM(f19);
    NUM(f20);
}

void FillSRecV1(s_rec_v1 &r, const json &j, const Fault *fault) {
    FillSRecCommon(r, j, fault);
    NUM(f21);
    NUM(f22);
    TXT(f23);
    NUM(f24);
    TXT(f25);
    TXT(originator);
    TXT(f27);
    TXT(status_text);
    TXT(f29);
    TXT(f30);
    TXT(f31);
    TXT(f32);
    TXT(f33);
}

#undef NUM
#undef TXT

void AnswerSRec(CallContext &ctx, const void *arg, void *res) {
    auto *q = static_cast<const s_rec_req *>(arg);
    auto *r = static_cast<s_rec_res *>(res);
    const SendRecord *s = ctx.fixture.FindSendRecord(FIELD(q->s_rec_req_u.v1.user), q->s_rec_req_u.v1.job);
    ctx.note["found"] = s != nullptr;
    r->record.vers = s ? s->version : 1;
    if (!s) return;
    r->final = static_cast<short>(s->final);
    if (s->version == 0)
        FillSRecCommon(r->record.s_rec_new_u.v0, s->fields, ctx.fault);
    else
        FillSRecV1(r->record.s_rec_new_u.v1, s->fields, ctx.fault);
    ctx.note["version"] = s->version;
}

// clang-format off
const ProcEntry kAlpha[] = {
    {3,   "a_create_job",      XP(xdr_str11),           sizeof(str11),           XP(xdr_int),             sizeof(int),             DescribeCreateJob,  AnswerCreateJob},
    {20,  "a_get_pages",       XP(xdr_job_key),         sizeof(job_key),         XP(xdr_page_list),       sizeof(page_list),       DescribeJobKey,     AnswerPages},
    {22,  "a_put_log",         XP(xdr_log_line_rec),    sizeof(log_line_rec),    XP(xdr_bool),            sizeof(bool_t),          DescribeLogLine,    AnswerTrue},
    {35,  "a_get_o_user",      XP(xdr_user_key),        sizeof(user_key),        XP(xdr_a_user_rec),      sizeof(a_user_rec),      DescribeUserKey,    AnswerUser},
    {59,  "a_get_pageb",       XP(xdr_pageb_req),       sizeof(pageb_req),       XP(xdr_pageb_res),       sizeof(pageb_res),       DescribePagebReq,   AnswerPageb},
    {60,  "a_put_pageb",       XP(xdr_pageb_rec),       sizeof(pageb_rec),       XP(xdr_bool),            sizeof(bool_t),          DescribePagebRec,   AnswerTrue},
    {72,  "a_get_log",         XP(xdr_log_req),         sizeof(log_req),         XP(xdr_log_res),         sizeof(log_res),         DescribeLogReq,     AnswerLog},
    {73,  "a_get_text",        XP(xdr_text_req),        sizeof(text_req),        XP(xdr_blob),            sizeof(blob),            DescribeTextReq,    AnswerText},
    {75,  "a_get_compat",      XP(XdrVoid),            0,                       XP(xdr_compat_rec),      sizeof(compat_rec),      nullptr,            AnswerAlphaCompat},
    {105, "a_get_usrconf",     XP(xdr_usrconf_key),     sizeof(usrconf_key),     XP(xdr_str81),           sizeof(str81),           DescribeUsrconfKey, AnswerUsrconf},
    {106, "a_put_usrconf",     XP(xdr_usrconf_rec),     sizeof(usrconf_rec),     XP(xdr_bool),            sizeof(bool_t),          DescribeUsrconfRec, AnswerTrue},
    {117, "a_apply_route_new", XP(xdr_route_req),       sizeof(route_req),       XP(xdr_route_res),       sizeof(route_res),       DescribeRouteReq,   AnswerRoute},
    {137, "a_get_s_rec_new",   XP(xdr_s_rec_req),       sizeof(s_rec_req),       XP(xdr_s_rec_res),       sizeof(s_rec_res),       DescribeSRecReq,    AnswerSRec},
    {144, "a_get_usrconf_new", XP(xdr_usrconf_new_req), sizeof(usrconf_new_req), XP(xdr_usrconf_new_res), sizeof(usrconf_new_res), DescribeUsrconfNew, AnswerUsrconfNew},
    {150, "a_get_o_group",     XP(xdr_str11),           sizeof(str11),           XP(xdr_group_rec),       sizeof(group_rec),       DescribeStr11,      AnswerAlphaGroup},
};

const ProcEntry kOmega[] = {
    {32,  "o_get_group",       XP(xdr_str11),           sizeof(str11),           XP(xdr_group_rec),       sizeof(group_rec),       DescribeStr11,      AnswerOmegaGroup},
    {49,  "o_get_config",      XP(xdr_str11),           sizeof(str11),           XP(xdr_str81),           sizeof(str81),           DescribeStr11,      AnswerConfig},
    {71,  "o_get_compat",      XP(XdrVoid),            0,                       XP(xdr_compat_rec),      sizeof(compat_rec),      nullptr,            AnswerOmegaCompat},
    {94,  "o_apply_route_new", XP(xdr_route_req),       sizeof(route_req),       XP(xdr_route_res),       sizeof(route_res),       DescribeRouteReq,   AnswerRoute},
};
// clang-format on

}  // namespace

const ProcEntry *FindProc(bool omega, int proc) {
    const ProcEntry *begin = omega ? kOmega : kAlpha;
    size_t n = omega ? std::size(kOmega) : std::size(kAlpha);
    for (size_t i = 0; i < n; ++i)
        if (begin[i].proc == proc) return &begin[i];
    return nullptr;
}

void PutFixed(char *field, size_t n, const std::string &text, const Fault *fault) {
    size_t len = std::min(text.size(), n);
    memcpy(field, text.data(), len);
    memset(field + len, fault && fault->unterminated ? fault->fill : 0, n - len);
}

std::string GetFixed(const char *field, size_t n) { return std::string(field, strnlen(field, n)); }

}  // namespace simserver
