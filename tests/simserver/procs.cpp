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

std::string LogText(const char *field, size_t n)
{
    return FromLatin9(GetFixed(field, n));
}
#define LOGFIELD(f) LogText(f, sizeof(f))

// The status to answer: the fault's when it sets one, else `normal`.
int Status(const CallContext &ctx, int normal)
{
    return ctx.fault && ctx.fault->ec ? *ctx.fault->ec : normal;
}

template <typename T>
T *Calloc()
{
    return static_cast<T *>(calloc(1, sizeof(T)));
}

// ---- compatibility level (alpha 75, omega 71)

void AnswerCompat(const Compat &c, CallContext &ctx, compat_rec *r)
{
    r->valid = c.valid;
    r->level = c.level;
    ctx.note["level"] = c.level;
}
void AnswerAlphaCompat(CallContext &ctx, const void *, void *res)
{
    AnswerCompat(ctx.fixture.alphaCompat, ctx, static_cast<compat_rec *>(res));
}
void AnswerOmegaCompat(CallContext &ctx, const void *, void *res)
{
    AnswerCompat(ctx.fixture.omegaCompat, ctx, static_cast<compat_rec *>(res));
}

// ---- route application (alpha 117, omega 94)

void DescribeRouteReq(const void *arg, json &out)
{
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
void AnswerRoute(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const route_req *>(arg);
    auto *r = static_cast<route_res *>(res);
    std::string lineId = q->vers == 0   ? FIELD(q->route_req_u.v0.line_id)
                         : q->vers == 1 ? FIELD(q->route_req_u.v1.line_id)
                                        : FIELD(q->route_req_u.v2.line_id);
    bool full = q->vers == 2 && q->route_req_u.v2.full == 1;
    const Route *route = ctx.fixture.FindRoute(lineId);
    int ec = route ? route->ec : ctx.fixture.unroutedEc;
    if (route && full && route->fullEc)
        ec = *route->fullEc;
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

void DescribeUsrconfNew(const void *arg, json &out)
{
    auto *q = static_cast<const usrconf_new_req *>(arg);
    out["version"] = q->vers;
    out["user"] = LOGFIELD(q->usrconf_new_req_u.v1.user);
    out["key"] = LOGFIELD(q->usrconf_new_req_u.v1.key);
}

void AnswerUsrconfNew(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const usrconf_new_req *>(arg);
    auto *r = static_cast<usrconf_new_res *>(res);
    const Property *p =
        ctx.fixture.FindProperty(FIELD(q->usrconf_new_req_u.v1.user), FIELD(q->usrconf_new_req_u.v1.key));
    int ec = Status(ctx, p ? p->ec : 25);
    r->ec = static_cast<short>(ec);
    if (p && ec == 0)
        PUT(r->value, p->value);
    ctx.note["set"] = p != nullptr;
    ctx.note["ec"] = ec;
}

void DescribeUsrconfKey(const void *arg, json &out)
{
    auto *q = static_cast<const usrconf_key *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["key"] = LOGFIELD(q->key);
}

void AnswerUsrconf(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const usrconf_key *>(arg);
    const Property *p = ctx.fixture.FindProperty(FIELD(q->user), FIELD(q->key));
    if (p && p->ec == 0)
        PutFixed(static_cast<char *>(res), sizeof(str81), p->value, ctx.fault);
    ctx.note["set"] = p != nullptr;
}

void DescribeUsrconfRec(const void *arg, json &out)
{
    auto *q = static_cast<const usrconf_rec *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["key"] = LOGFIELD(q->key);
    out["value"] = LOGFIELD(q->value);
}

// Stores the property (an empty value unsets it) until the fixture is read again, unless the
// fault makes the answer false.
void AnswerPutUsrconf(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const usrconf_rec *>(arg);
    bool ok = Status(ctx, 1) != 0;
    if (ok) {
        std::pair<std::string, std::string> at{FIELD(q->user), FIELD(q->key)};
        std::string value = FIELD(q->value);
        if (value.empty())
            ctx.fixture.properties.erase(at);
        else
            ctx.fixture.properties[at] = Property{value, 0};
        ctx.note["stored"] = true;
    }
    *static_cast<bool_t *>(res) = ok;
}

// ---- user and group records (alpha 35, alpha 150, omega 32)

void DescribeUserKey(const void *arg, json &out)
{
    auto *q = static_cast<const user_key *>(arg);
    out["server"] = LOGFIELD(q->server);
    out["user"] = LOGFIELD(q->user);
}

void AnswerUser(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const user_key *>(arg);
    user_rec &r = static_cast<a_user_rec *>(res)->rec;
    const UserRecord *u = ctx.fixture.FindUser(FIELD(q->server), FIELD(q->user));
    ctx.note["found"] = u != nullptr;
    if (!u)
        return;
    PUT(r.server, u->server.empty() ? FIELD(q->server) : u->server);
    PUT(r.user, u->user);
    PUT(r.name, u->name);
    PUT(r.f4, u->f4);
    PUT(r.f5, u->f5);
    r.f6 = u->f6 != 0;
    PUT(r.f7, u->f7);
    r.f8 = static_cast<short>(u->f8);
}

void DescribeStr11(const void *arg, json &out)
{
    out["id"] = LogText(static_cast<const char *>(arg), sizeof(str11));
}

void AnswerGroup(CallContext &ctx, const void *arg, bool omega, void *res)
{
    auto *r = static_cast<group_rec *>(res);
    const Group *g = ctx.fixture.FindGroup(GetFixed(static_cast<const char *>(arg), sizeof(str11)), omega);
    ctx.note["found"] = g != nullptr;
    if (!g)
        return;
    PUT(r->group_id, g->id);
    PUT(r->name, g->name);
}
void AnswerAlphaGroup(CallContext &ctx, const void *arg, void *res)
{
    AnswerGroup(ctx, arg, false, res);
}
void AnswerOmegaGroup(CallContext &ctx, const void *arg, void *res)
{
    AnswerGroup(ctx, arg, true, res);
}

// ---- pages (alpha 20, 59, 60)

void DescribeJobKey(const void *arg, json &out)
{
    auto *q = static_cast<const job_key *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
}

void AnswerPages(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const job_key *>(arg);
    auto *r = static_cast<page_list *>(res);
    std::vector<uint32_t> flags = ctx.fixture.PageFlags(FIELD(q->user), q->kind, q->job);
    size_t n = std::min<size_t>(flags.size(), 1000);
    r->count = static_cast<int>(n);
    for (size_t i = 0; i < n; ++i)
        r->variants[i] = static_cast<int>(flags[i]);
    ctx.note["count"] = n;
}

void DescribePagebReq(const void *arg, json &out)
{
    auto *q = static_cast<const pageb_req *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["page"] = q->page;
    out["variant"] = q->variant;
    out["offset"] = q->offset;
    out["max_bytes"] = q->max_bytes;
}

void AnswerPageb(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const pageb_req *>(arg);
    auto *r = static_cast<pageb_res *>(res);
    const PageVariant *p = ctx.fixture.FindPage(FIELD(q->user), q->kind, q->job, q->page, q->variant);
    ctx.note["found"] = p != nullptr;
    if (!p)
        return;
    r->found = TRUE;
    size_t size = p->data.size();
    size_t offset = q->offset < 0 ? size : static_cast<size_t>(q->offset);
    size_t count =
        offset >= size || q->max_bytes <= 0 ? 0 : std::min(size - offset, static_cast<size_t>(q->max_bytes));
    r->count = static_cast<int>(count);
    if (count) {
        r->data.blob_val = static_cast<char *>(malloc(count));
        memcpy(r->data.blob_val, p->data.data() + offset, count);
        r->data.blob_len = static_cast<u_int>(count);
    }
    ctx.note["count"] = count;
}

void DescribePagebRec(const void *arg, json &out)
{
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
void AnswerTrue(CallContext &ctx, const void *, void *res)
{
    *static_cast<bool_t *>(res) = Status(ctx, 1) != 0;
}

void DescribeCreateJob(const void *arg, json &out)
{
    out["user"] = LogText(static_cast<const char *>(arg), sizeof(str11));
}
void AnswerCreateJob(CallContext &ctx, const void *, void *res)
{
    *static_cast<int *>(res) = Status(ctx, 9001);
}

// ---- transmission log (alpha 22, 72)

void DescribeLogReq(const void *arg, json &out)
{
    auto *q = static_cast<const log_req *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["first_line"] = q->first_line;
    out["max_lines"] = q->max_lines;
    out["language"] = LOGFIELD(q->language);
}

// Lines from the index that `first_line` names; `next_line` names the index after them.
void AnswerLog(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const log_req *>(arg);
    auto *r = static_cast<log_res *>(res);
    const TxLog *l = ctx.fixture.FindLog(FIELD(q->user), q->kind, q->job);
    ctx.note["found"] = l != nullptr;
    if (!l || !l->ok)
        return;  // ok 0
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

void DescribeLogLine(const void *arg, json &out)
{
    auto *q = static_cast<const log_line_rec *>(arg);
    out["user"] = LOGFIELD(q->user);
    out["kind"] = q->kind;
    out["job"] = q->job;
    out["line_len"] = q->line.blob_len;
    out["line"] = FromLatin9(GetFixed(q->line.blob_val ? q->line.blob_val : "", q->line.blob_len));
}

// ---- texts (alpha 73)

void DescribeTextReq(const void *arg, json &out)
{
    auto *q = static_cast<const text_req *>(arg);
    out["language"] = LOGFIELD(q->language);
    out["key_len"] = q->key.blob_len;
    out["key"] = FromLatin9(GetFixed(q->key.blob_val ? q->key.blob_val : "", q->key.blob_len));
}

void AnswerText(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const text_req *>(arg);
    auto *r = static_cast<blob *>(res);
    std::string key = GetFixed(q->key.blob_val ? q->key.blob_val : "", q->key.blob_len);
    auto it = ctx.fixture.texts.find(key);
    ctx.note["found"] = it != ctx.fixture.texts.end();
    if (it == ctx.fixture.texts.end())
        return;
    r->blob_len = static_cast<u_int>(it->second.size() + 1);  // the text with its terminator
    r->blob_val = static_cast<char *>(calloc(1, r->blob_len));
    memcpy(r->blob_val, it->second.data(), it->second.size());
}

// ---- omega configuration entries (omega 49)

void AnswerConfig(CallContext &ctx, const void *arg, void *res)
{
    auto it = ctx.fixture.config.find(GetFixed(static_cast<const char *>(arg), sizeof(str11)));
    ctx.note["found"] = it != ctx.fixture.config.end();
    if (it != ctx.fixture.config.end())
        PutFixed(static_cast<char *>(res), sizeof(str81), it->second, ctx.fault);
}

// ---- send records (alpha 137)

void DescribeSRecReq(const void *arg, json &out)
{
    auto *q = static_cast<const s_rec_req *>(arg);
    out["version"] = q->vers;
    out["user"] = LOGFIELD(q->s_rec_req_u.v1.user);
    out["job"] = q->s_rec_req_u.v1.job;
}

template <typename T>
void SetNum(T &field, const json &j, const char *name)
{
    if (j.contains(name) && j[name].is_number())
        field = static_cast<T>(j[name].get<long long>());
    if (j.contains(name) && j[name].is_boolean())
        field = static_cast<T>(j[name].get<bool>());
}

void SetText(char *field, size_t n, const json &j, const char *name, const Fault *fault)
{
    std::string text = j.contains(name) && j[name].is_string() ? ToLatin9(j[name].get<std::string>()) : "";
    PutFixed(field, n, text, fault);
}

#define NUM(f) SetNum(r.f, j, #f)
#define TXT(f) SetText(r.f, sizeof(r.f), j, #f, fault)

// The 20 fields that both versions of the send record share.
template <typename R>
void FillSRecCommon(R &r, const json &j, const Fault *fault)
{
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

void FillSRecV1(s_rec_v1 &r, const json &j, const Fault *fault)
{
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

void AnswerSRec(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const s_rec_req *>(arg);
    auto *r = static_cast<s_rec_res *>(res);
    const SendRecord *s = ctx.fixture.FindSendRecord(FIELD(q->s_rec_req_u.v1.user), q->s_rec_req_u.v1.job);
    ctx.note["found"] = s != nullptr;
    r->record.vers = s ? s->version : 1;
    if (!s)
        return;
    r->final = static_cast<short>(s->final);
    if (s->version == 0)
        FillSRecCommon(r->record.s_rec_new_u.v0, s->fields, ctx.fault);
    else
        FillSRecV1(r->record.s_rec_new_u.v1, s->fields, ctx.fault);
    ctx.note["version"] = s->version;
}

// ---- omega configuration entries (omega 48, 50)

void DescribeConfigRec(const void *arg, json &out)
{
    auto *q = static_cast<const config_rec *>(arg);
    out["key"] = LOGFIELD(q->key);
    out["value"] = LOGFIELD(q->value);
    out["f3"] = q->f3 != 0;
}

// Stores the entry unless the fault makes the answer false.
void AnswerPutConfig(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const config_rec *>(arg);
    bool ok = Status(ctx, 1) != 0;
    if (ok)
        ctx.fixture.config[FIELD(q->key)] = FIELD(q->value);
    *static_cast<bool_t *>(res) = ok;
    ctx.note["stored"] = ok;
}

// True when the entry was there (and is removed), false otherwise.
void AnswerDelConfig(CallContext &ctx, const void *arg, void *res)
{
    auto it = ctx.fixture.config.find(GetFixed(static_cast<const char *>(arg), sizeof(str11)));
    bool found = it != ctx.fixture.config.end();
    bool ok = Status(ctx, found ? 1 : 0) != 0;
    if (ok && found)
        ctx.fixture.config.erase(it);
    *static_cast<bool_t *>(res) = ok;
    ctx.note["found"] = found;
}

// ---- omega tables 7, 11 and 102 (omega 7-14, 102-105, 110)

// The fields of the table records in wire order: T for a text, N for a number.
// clang-format off
#define TAB7_FIELDS(T, N) T(id) T(f2) N(f3) N(f4) N(f5) N(f6)
#define TAB11_FIELDS(T, N)                                                                          \
    T(id) T(f2) T(f3) T(f4) N(f5) T(f6) T(f7) N(f8) T(f9) N(f10) N(f11) T(f12) T(f13) T(f14) N(f15) \
    T(f16) N(f17) T(f18)
#define TAB102_FIELDS(T, N)                                                                         \
    T(id) T(f2) T(f3) T(f4) N(f5) T(f6) T(f7) N(f8) T(f9) T(f10) N(f11) T(f12) T(f13) T(f14) N(f15) \
    N(f16) N(f17) N(f18) T(f19) N(f20) T(f21) T(f22) T(f23) T(f24) N(f25) N(f26) N(f27) T(f28)      \
    T(f29) T(f30) T(f31) N(f32) N(f33)
// clang-format on

#define D_T(f) out[#f] = LOGFIELD(r.f);
#define D_N(f) out[#f] = r.f;
#define F_T(f) SetText(r.f, sizeof(r.f), j, #f, fault);
#define F_N(f) SetNum(r.f, j, #f);

void DescribeTab7(const o_tab7_rec &r, json &out)
{
    TAB7_FIELDS(D_T, D_N)
}
void FillTab7(o_tab7_rec &r, const json &j, const Fault *fault)
{
    TAB7_FIELDS(F_T, F_N)
}
void DescribeTab11(const o_tab11_rec &r, json &out)
{
    TAB11_FIELDS(D_T, D_N)
}
void FillTab11(o_tab11_rec &r, const json &j, const Fault *fault)
{
    TAB11_FIELDS(F_T, F_N)
}

void DescribeTab102(const o_tab102_rec &rec, json &out)
{
    out["version"] = rec.vers;
    if (rec.vers == 0) {
        const o_tab102_v0 &r = rec.o_tab102_rec_u.v0;
        TAB102_FIELDS(D_T, D_N)
    } else {
        const o_tab102_v1 &r = rec.o_tab102_rec_u.v1;
        TAB102_FIELDS(D_T, D_N)
        D_T(f34)
    }
}

void FillTab102(o_tab102_rec &rec, const json &j, const Fault *fault)
{
    rec.vers = j.value("version", 0) == 0 ? 0 : 1;  // only the two arms can go out
    if (rec.vers == 0) {
        o_tab102_v0 &r = rec.o_tab102_rec_u.v0;
        TAB102_FIELDS(F_T, F_N)
    } else {
        o_tab102_v1 &r = rec.o_tab102_rec_u.v1;
        TAB102_FIELDS(F_T, F_N)
        F_T(f34)
    }
}

#undef D_T
#undef D_N
#undef F_T
#undef F_N

void DescribeTab7Rec(const void *arg, json &out)
{
    DescribeTab7(*static_cast<const o_tab7_rec *>(arg), out);
}
void DescribeTab11Rec(const void *arg, json &out)
{
    DescribeTab11(*static_cast<const o_tab11_rec *>(arg), out);
}
void DescribeTab102Rec(const void *arg, json &out)
{
    DescribeTab102(*static_cast<const o_tab102_rec *>(arg), out);
}

std::vector<json> &Table(Fixture &f, int table)
{
    return table == 7 ? f.tab7 : table == 11 ? f.tab11 : f.tab102;
}

// The row of a table with this id (as the log shows it), or end().
std::vector<json>::iterator FindRow(std::vector<json> &t, const std::string &id)
{
    return std::find_if(t.begin(), t.end(), [&](const json &r) { return r.value("id", "") == id; });
}

// Replaces the row with the same id, or appends the record.
void StoreRow(std::vector<json> &t, const json &record)
{
    auto it = FindRow(t, record.value("id", ""));
    if (it != t.end())
        *it = record;
    else
        t.push_back(record);
}

// A put of tables 7 and 11: true and stored, unless the fault makes the answer false.
template <int TableNo, typename Rec, void (*Describe)(const Rec &, json &)>
void AnswerPutBool(CallContext &ctx, const void *arg, void *res)
{
    bool ok = Status(ctx, 1) != 0;
    if (ok) {
        json record;
        Describe(*static_cast<const Rec *>(arg), record);
        StoreRow(Table(ctx.fixture, TableNo), record);
    }
    *static_cast<bool_t *>(res) = ok;
    ctx.note["stored"] = ok;
}

// A delete of tables 7 and 11: true when the row was there (and is removed).
template <int TableNo>
void AnswerDelBool(CallContext &ctx, const void *arg, void *res)
{
    auto &t = Table(ctx.fixture, TableNo);
    auto it = FindRow(t, LogText(static_cast<const char *>(arg), sizeof(str11)));
    bool found = it != t.end();
    bool ok = Status(ctx, found ? 1 : 0) != 0;
    if (ok && found)
        t.erase(it);
    *static_cast<bool_t *>(res) = ok;
    ctx.note["found"] = found;
}

// A get of tables 7 and 11: the record, or an empty one (empty id) when there is none.
template <int TableNo, typename Rec, void (*Fill)(Rec &, const json &, const Fault *)>
void AnswerGetRec(CallContext &ctx, const void *arg, void *res)
{
    auto &t = Table(ctx.fixture, TableNo);
    auto it = FindRow(t, LogText(static_cast<const char *>(arg), sizeof(str11)));
    ctx.note["found"] = it != t.end();
    if (it != t.end())
        Fill(*static_cast<Rec *>(res), *it, ctx.fault);
}

// The rows of a table as a list of nodes in table order; sets `count` to their number.
template <typename Node, typename Fill>
Node *MakeNodes(const std::vector<json> &t, int &count, Fill fill)
{
    Node *first = nullptr;
    Node **tail = &first;
    for (auto &row : t) {
        Node *node = Calloc<Node>();
        fill(node->entry, row);
        *tail = node;
        tail = &node->next;
    }
    count = static_cast<int>(t.size());
    return first;
}

void AnswerListTab7(CallContext &ctx, const void *, void *res)
{
    auto *r = static_cast<o_tab7_list *>(res);
    r->first = MakeNodes<o_tab7_node>(ctx.fixture.tab7, r->count,
                                      [&](o_tab7_rec &e, const json &row) { FillTab7(e, row, ctx.fault); });
    ctx.note["count"] = r->count;
}

void DescribeSelector(const void *arg, json &out)
{
    out["selector"] = *static_cast<const int *>(arg);
}

// The selector is logged only; the whole table is listed.
void AnswerListTab11(CallContext &ctx, const void *, void *res)
{
    auto *r = static_cast<o_tab11_list *>(res);
    r->first = MakeNodes<o_tab11_node>(
        ctx.fixture.tab11, r->count, [&](o_tab11_rec &e, const json &row) { FillTab11(e, row, ctx.fault); });
    ctx.note["count"] = r->count;
}

// Table 102 stores with a short status: 0, or the fault's status (nothing stored).
void AnswerPutTab102(CallContext &ctx, const void *arg, void *res)
{
    int ec = Status(ctx, 0);
    if (ec == 0) {
        json record;
        DescribeTab102(*static_cast<const o_tab102_rec *>(arg), record);
        StoreRow(ctx.fixture.tab102, record);
    }
    *static_cast<short *>(res) = static_cast<short>(ec);
    ctx.note["ec"] = ec;
}

void DescribeTab102Key(const void *arg, json &out)
{
    auto *q = static_cast<const o_tab102_key *>(arg);
    out["version"] = q->vers;
    out["id"] = q->vers == 0 ? LOGFIELD(q->o_tab102_key_u.v0.id) : LOGFIELD(q->o_tab102_key_u.v1.id);
    if (q->vers == 1)
        out["f2"] = q->o_tab102_key_u.v1.f2;
}

// The record in its stored version with ec 0; ec 25 and a zeroed version-0 record when unknown.
void AnswerGetTab102(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const o_tab102_key *>(arg);
    auto *r = static_cast<o_tab102_res *>(res);
    std::string id = q->vers == 0 ? LOGFIELD(q->o_tab102_key_u.v0.id) : LOGFIELD(q->o_tab102_key_u.v1.id);
    auto it = FindRow(ctx.fixture.tab102, id);
    bool found = it != ctx.fixture.tab102.end();
    int ec = Status(ctx, found ? 0 : 25);
    if (found && ec == 0)
        FillTab102(r->entry, *it, ctx.fault);
    r->ec = static_cast<short>(ec);
    ctx.note["found"] = found;
    ctx.note["ec"] = ec;
}

void DescribeTab102Sel(const void *arg, json &out)
{
    auto *q = static_cast<const o_tab102_sel *>(arg);
    out["version"] = q->vers;
    out["selector"] = q->vers == 0 ? q->o_tab102_sel_u.v0.f1 : q->o_tab102_sel_u.v1.f1;
}

// Every record with ec 0 (an empty table: count 0 and no node); a fault's status: no records.
void AnswerListTab102(CallContext &ctx, const void *, void *res)
{
    auto *r = static_cast<o_tab102_list *>(res);
    int ec = Status(ctx, 0);
    if (ec == 0)
        r->first = MakeNodes<o_tab102_node>(
            ctx.fixture.tab102, r->count,
            [&](o_tab102_rec &e, const json &row) { FillTab102(e, row, ctx.fault); });
    r->ec = static_cast<short>(ec);
    ctx.note["count"] = r->count;
    ctx.note["ec"] = ec;
}

void DescribeTab102Del(const void *arg, json &out)
{
    auto *q = static_cast<const o_tab102_del *>(arg);
    out["version"] = q->vers;
    out["id"] = LOGFIELD(q->o_tab102_del_u.v0.id);
}

// 0 when the record was there (and is removed), else 25; a fault's status removes nothing.
void AnswerDelTab102(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const o_tab102_del *>(arg);
    auto it = FindRow(ctx.fixture.tab102, LOGFIELD(q->o_tab102_del_u.v0.id));
    bool found = it != ctx.fixture.tab102.end();
    int ec = Status(ctx, found ? 0 : 25);
    if (ec == 0 && found)
        ctx.fixture.tab102.erase(it);
    *static_cast<short *>(res) = static_cast<short>(ec);
    ctx.note["found"] = found;
    ctx.note["ec"] = ec;
}

void DescribeKey110(const void *arg, json &out)
{
    auto *q = static_cast<const o_key110 *>(arg);
    out["version"] = q->vers;
    out["id"] = LOGFIELD(q->o_key110_u.v0.f1);
}

// A plain short answer: 0 unless the fault names the status.
void AnswerShortZero(CallContext &ctx, const void *, void *res)
{
    int ec = Status(ctx, 0);
    *static_cast<short *>(res) = static_cast<short>(ec);
    ctx.note["ec"] = ec;
}

// ---- stored routes (omega 91, 92): the `routes` of the fixture by route id

void DescribeRouteRec(const void *arg, json &out)
{
    auto *q = static_cast<const route_rec *>(arg);
    out["version"] = q->vers;
    auto fields = [&](const auto &r) {
        out["route_id"] = LOGFIELD(r.route_id);
        out["route_text"] = LOGFIELD(r.route_text);
        out["line_id"] = LOGFIELD(r.line_id);
        out["aux_id"] = LOGFIELD(r.aux_id);
        out["server"] = LOGFIELD(r.server);
        out["user"] = LOGFIELD(r.user);
        out["group"] = LOGFIELD(r.group);
        out["route_extra"] = LOGFIELD(r.route_extra);
        out["route_extra_value"] = r.route_extra_value;
    };
    if (q->vers == 0)
        fields(q->route_rec_u.v0);
    else
        fields(q->route_rec_u.v1);
}

// Stores the route (applied from then on to its line id) with status 0, unless the fault names
// another status.
void AnswerPutRoute(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const route_rec *>(arg);
    int ec = Status(ctx, 0);
    if (ec == 0) {
        Route route;
        auto fields = [&](const auto &r) {
            route.routeId = FIELD(r.route_id);
            route.routeText = FIELD(r.route_text);
            route.lineId = route.routeLineId = FIELD(r.line_id);
            route.auxId = FIELD(r.aux_id);
            route.server = FIELD(r.server);
            route.user = FIELD(r.user);
            route.group = FIELD(r.group);
            route.routeExtra = FIELD(r.route_extra);
            route.routeExtraValue = r.route_extra_value;
        };
        if (q->vers == 0)
            fields(q->route_rec_u.v0);
        else
            fields(q->route_rec_u.v1);
        auto &routes = ctx.fixture.routes;
        auto it = std::find_if(routes.begin(), routes.end(),
                               [&](const Route &r) { return r.routeId == route.routeId; });
        if (it != routes.end())
            *it = route;
        else
            routes.push_back(route);
    }
    *static_cast<short *>(res) = static_cast<short>(ec);
    ctx.note["ec"] = ec;
}

void DescribeRouteKey(const void *arg, json &out)
{
    auto *q = static_cast<const route_key *>(arg);
    out["version"] = q->vers;
    out["route_id"] =
        q->vers == 0 ? LOGFIELD(q->route_key_u.v0.route_id) : LOGFIELD(q->route_key_u.v1.route_id);
}

// The route with that route id in version 0 (or the route's reply_version), ec 0; ec 25 and a
// zeroed version-0 route when there is none.
void AnswerGetRoute(CallContext &ctx, const void *arg, void *res)
{
    auto *q = static_cast<const route_key *>(arg);
    auto *r = static_cast<route_rec_res *>(res);
    std::string id = q->vers == 0 ? FIELD(q->route_key_u.v0.route_id) : FIELD(q->route_key_u.v1.route_id);
    auto &routes = ctx.fixture.routes;
    auto it = std::find_if(routes.begin(), routes.end(), [&](const Route &x) { return x.routeId == id; });
    bool found = it != routes.end();
    int ec = Status(ctx, found ? 0 : 25);
    r->ec = static_cast<short>(ec);
    ctx.note["found"] = found;
    ctx.note["ec"] = ec;
    if (!found || ec != 0)
        return;
    r->route.vers = it->replyVersion ? *it->replyVersion : 0;
    auto fill = [&](auto &v) {
        PUT(v.route_id, it->routeId);
        PUT(v.route_text, it->routeText);
        PUT(v.line_id, it->routeLineId);
        PUT(v.aux_id, it->auxId);
        PUT(v.server, it->server);
        PUT(v.user, it->user);
        PUT(v.group, it->group);
        PUT(v.route_extra, it->routeExtra);
        v.route_extra_value = it->routeExtraValue;
    };
    if (r->route.vers == 0)
        fill(r->route.route_rec_u.v0);
    else
        fill(r->route.route_rec_u.v1);
    ctx.note["version"] = r->route.vers;
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
    {106, "a_put_usrconf",     XP(xdr_usrconf_rec),     sizeof(usrconf_rec),     XP(xdr_bool),            sizeof(bool_t),          DescribeUsrconfRec, AnswerPutUsrconf},
    {117, "a_apply_route_new", XP(xdr_route_req),       sizeof(route_req),       XP(xdr_route_res),       sizeof(route_res),       DescribeRouteReq,   AnswerRoute},
    {137, "a_get_s_rec_new",   XP(xdr_s_rec_req),       sizeof(s_rec_req),       XP(xdr_s_rec_res),       sizeof(s_rec_res),       DescribeSRecReq,    AnswerSRec},
    {144, "a_get_usrconf_new", XP(xdr_usrconf_new_req), sizeof(usrconf_new_req), XP(xdr_usrconf_new_res), sizeof(usrconf_new_res), DescribeUsrconfNew, AnswerUsrconfNew},
    {150, "a_get_o_group",     XP(xdr_str11),           sizeof(str11),           XP(xdr_group_rec),       sizeof(group_rec),       DescribeStr11,      AnswerAlphaGroup},
};

const ProcEntry kOmega[] = {
    {7,   "o_put_tab7",        XP(xdr_o_tab7_rec),      sizeof(o_tab7_rec),      XP(xdr_bool),            sizeof(bool_t),          DescribeTab7Rec,    AnswerPutBool<7, o_tab7_rec, DescribeTab7>},
    {8,   "o_get_tab7",        XP(xdr_str11),           sizeof(str11),           XP(xdr_o_tab7_rec),      sizeof(o_tab7_rec),      DescribeStr11,      AnswerGetRec<7, o_tab7_rec, FillTab7>},
    {9,   "o_list_tab7",       XP(XdrVoid),            0,                       XP(xdr_o_tab7_list),     sizeof(o_tab7_list),     nullptr,            AnswerListTab7},
    {10,  "o_del_tab7",        XP(xdr_str11),           sizeof(str11),           XP(xdr_bool),            sizeof(bool_t),          DescribeStr11,      AnswerDelBool<7>},
    {11,  "o_put_tab11",       XP(xdr_o_tab11_rec),     sizeof(o_tab11_rec),     XP(xdr_bool),            sizeof(bool_t),          DescribeTab11Rec,   AnswerPutBool<11, o_tab11_rec, DescribeTab11>},
    {12,  "o_get_tab11",       XP(xdr_str11),           sizeof(str11),           XP(xdr_o_tab11_rec),     sizeof(o_tab11_rec),     DescribeStr11,      AnswerGetRec<11, o_tab11_rec, FillTab11>},
    {13,  "o_list_tab11",      XP(xdr_int),             sizeof(int),             XP(xdr_o_tab11_list),    sizeof(o_tab11_list),    DescribeSelector,   AnswerListTab11},
    {14,  "o_del_tab11",       XP(xdr_str11),           sizeof(str11),           XP(xdr_bool),            sizeof(bool_t),          DescribeStr11,      AnswerDelBool<11>},
    {32,  "o_get_group",       XP(xdr_str11),           sizeof(str11),           XP(xdr_group_rec),       sizeof(group_rec),       DescribeStr11,      AnswerOmegaGroup},
    {48,  "o_put_config",      XP(xdr_config_rec),      sizeof(config_rec),      XP(xdr_bool),            sizeof(bool_t),          DescribeConfigRec,  AnswerPutConfig},
    {49,  "o_get_config",      XP(xdr_str11),           sizeof(str11),           XP(xdr_str81),           sizeof(str81),           DescribeStr11,      AnswerConfig},
    {50,  "o_del_config",      XP(xdr_str11),           sizeof(str11),           XP(xdr_bool),            sizeof(bool_t),          DescribeStr11,      AnswerDelConfig},
    {71,  "o_get_compat",      XP(XdrVoid),            0,                       XP(xdr_compat_rec),      sizeof(compat_rec),      nullptr,            AnswerOmegaCompat},
    {91,  "o_put_route",       XP(xdr_route_rec),       sizeof(route_rec),       XP(xdr_short),           sizeof(short),           DescribeRouteRec,   AnswerPutRoute},
    {92,  "o_get_route",       XP(xdr_route_key),       sizeof(route_key),       XP(xdr_route_rec_res),   sizeof(route_rec_res),   DescribeRouteKey,   AnswerGetRoute},
    {94,  "o_apply_route_new", XP(xdr_route_req),       sizeof(route_req),       XP(xdr_route_res),       sizeof(route_res),       DescribeRouteReq,   AnswerRoute},
    {102, "o_put_tab102",      XP(xdr_o_tab102_rec),    sizeof(o_tab102_rec),    XP(xdr_short),           sizeof(short),           DescribeTab102Rec,  AnswerPutTab102},
    {103, "o_get_tab102",      XP(xdr_o_tab102_key),    sizeof(o_tab102_key),    XP(xdr_o_tab102_res),    sizeof(o_tab102_res),    DescribeTab102Key,  AnswerGetTab102},
    {104, "o_list_tab102",     XP(xdr_o_tab102_sel),    sizeof(o_tab102_sel),    XP(xdr_o_tab102_list),   sizeof(o_tab102_list),   DescribeTab102Sel,  AnswerListTab102},
    {105, "o_del_tab102",      XP(xdr_o_tab102_del),    sizeof(o_tab102_del),    XP(xdr_short),           sizeof(short),           DescribeTab102Del,  AnswerDelTab102},
    {110, "o_proc110",         XP(xdr_o_key110),        sizeof(o_key110),        XP(xdr_short),           sizeof(short),           DescribeKey110,     AnswerShortZero},
};
// clang-format on

}  // namespace

const ProcEntry *FindProc(bool omega, int proc)
{
    const ProcEntry *begin = omega ? kOmega : kAlpha;
    size_t n = omega ? std::size(kOmega) : std::size(kAlpha);
    for (size_t i = 0; i < n; ++i)
        if (begin[i].proc == proc)
            return &begin[i];
    return nullptr;
}

void PutFixed(char *field, size_t n, const std::string &text, const Fault *fault)
{
    size_t len = std::min(text.size(), n);
    memcpy(field, text.data(), len);
    memset(field + len, fault && fault->unterminated ? fault->fill : 0, n - len);
}

std::string GetFixed(const char *field, size_t n)
{
    return std::string(field, strnlen(field, n));
}

}  // namespace simserver
