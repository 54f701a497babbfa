// Reading the fixture file and looking its entries up.
#include "fixture.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace simserver {
namespace {

using nlohmann::json;

struct Latin9Pair {
    uint32_t code;
    unsigned char byte;
};
// The positions where ISO-8859-15 differs from ISO-8859-1.
constexpr Latin9Pair kLatin9[] = {{0x20AC, 0xA4}, {0x0160, 0xA6}, {0x0161, 0xA8}, {0x017D, 0xB4},
                                  {0x017E, 0xB8}, {0x0152, 0xBC}, {0x0153, 0xBD}, {0x0178, 0xBE}};

// Pages above this are not listed by the page count (the answer holds 1000 pages anyway).
constexpr int kMaxPage = 100000;

std::string Text(const json &j, const char *name)
{
    if (!j.contains(name) || j[name].is_null())
        return "";
    return ToLatin9(j[name].get<std::string>());
}

template <typename T>
T Num(const json &j, const char *name, T fallback)
{
    if (!j.contains(name) || j[name].is_null())
        return fallback;
    if (j[name].is_boolean())
        return static_cast<T>(j[name].get<bool>() ? 1 : 0);
    return j[name].get<T>();
}

std::optional<int> OptNum(const json &j, const char *name)
{
    if (!j.contains(name) || j[name].is_null())
        return std::nullopt;
    return j[name].get<int>();
}

Compat ReadCompat(const json &j, Compat fallback)
{
    if (j.is_number_integer()) {
        fallback.level = j.get<int32_t>();
        return fallback;
    }
    fallback.valid = Num<int32_t>(j, "valid", fallback.valid);
    fallback.level = Num<int32_t>(j, "level", fallback.level);
    return fallback;
}

Route ReadRoute(const json &j)
{
    Route r;
    r.lineId = Text(j, "line_id");
    r.routeId = Text(j, "route_id");
    r.routeText = Text(j, "route_text");
    r.routeLineId = j.contains("route_line_id") ? Text(j, "route_line_id") : r.lineId;
    r.auxId = Text(j, "aux_id");
    r.server = Text(j, "server");
    r.user = Text(j, "user");
    r.group = Text(j, "group");
    r.routeExtra = Text(j, "route_extra");
    r.routeExtraValue = Num<int32_t>(j, "route_extra_value", 0);
    r.ec = Num<int>(j, "ec", 0);
    r.fullEc = OptNum(j, "full_ec");
    r.replyVersion = OptNum(j, "reply_version");
    return r;
}

UserRecord ReadUser(const json &j)
{
    UserRecord u;
    u.server = Text(j, "server");
    u.user = Text(j, "user");
    u.name = Text(j, "name");
    u.f4 = Text(j, "f4");
    u.f5 = Text(j, "f5");
    u.f6 = Num<int32_t>(j, "f6", 0);
    u.f7 = Text(j, "f7");
    u.f8 = Num<int>(j, "f8", 0);
    return u;
}

// "properties": {"user": {"KEY": "value" | {"value": "...", "ec": n}}}
void ReadProperties(const json &j, Fixture &f)
{
    for (auto &[user, keys] : j.items()) {
        for (auto &[key, v] : keys.items()) {
            Property p;
            if (v.is_string()) {
                p.value = ToLatin9(v.get<std::string>());
            } else {
                p.value = Text(v, "value");
                p.ec = Num<int>(v, "ec", 0);
            }
            f.properties[{ToLatin9(user), ToLatin9(key)}] = p;
        }
    }
}

Group ReadGroup(const json &j)
{
    Group g;
    g.id = Text(j, "id");
    g.name = Text(j, "name");
    std::string on = j.value("on", "both");
    g.onAlpha = on == "both" || on == "alpha";
    g.onOmega = on == "both" || on == "omega";
    return g;
}

// Page data: "text" (served as its bytes), "hex", or "size" (a counting pattern of that length).
std::string ReadData(const json &j)
{
    if (j.contains("text"))
        return ToLatin9(j["text"].get<std::string>());
    if (j.contains("hex")) {
        std::string hex = j["hex"].get<std::string>(), out;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return out;
    }
    std::string out(j.value("size", 0), '\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(i % 251);
    return out;
}

// "jobs": [{"user", "kind", "job", "pages": [{"page", "variants": {"14": {...data...}}}]}]
void ReadJob(const json &j, Fixture &f)
{
    std::string user = Text(j, "user");
    int kind = Num<int>(j, "kind", 0);
    int32_t job = Num<int32_t>(j, "job", 0);
    if (!j.contains("pages"))
        return;
    for (auto &p : j["pages"]) {
        int page = Num<int>(p, "page", 1);
        if (!p.contains("variants"))
            continue;
        for (auto &[variant, data] : p["variants"].items()) {
            PageVariant v;
            v.user = user;
            v.kind = kind;
            v.job = job;
            v.page = page;
            v.variant = std::stoi(variant);
            v.data = ReadData(data);
            f.pages.push_back(v);
        }
    }
}

SendRecord ReadSendRecord(const json &j)
{
    SendRecord s;
    s.user = Text(j, "user");
    s.job = Num<int32_t>(j, "job", 0);
    s.final = Num<int>(j, "final", 0);
    s.version = Num<int>(j, "version", 1);
    if (j.contains("record"))
        s.fields = j["record"];
    if (!s.fields.contains("job"))
        s.fields["job"] = s.job;
    return s;
}

TxLog ReadLog(const json &j)
{
    TxLog l;
    l.user = Text(j, "user");
    l.kind = Num<int>(j, "kind", 0);
    l.job = Num<int32_t>(j, "job", 0);
    l.ok = Num<int>(j, "ok", 1) != 0;
    if (j.contains("lines"))
        for (auto &line : j["lines"])
            l.lines.push_back(ToLatin9(line.get<std::string>()));
    if (j.contains("count")) {  // generated lines "line N"
        int n = j["count"].get<int>();
        for (int i = 1; i <= n; ++i)
            l.lines.push_back("line " + std::to_string(i));
    }
    l.batch = Num<int>(j, "batch", 0);
    l.cursorStart = Num<int32_t>(j, "cursor_start", 0);
    l.cursorStep = Num<int32_t>(j, "cursor_step", 1);
    if (l.cursorStep == 0)
        l.cursorStep = 1;
    l.endless = Num<int>(j, "endless", 0) != 0;
    return l;
}

Fault ReadFault(const json &j)
{
    Fault f;
    f.prog = j.value("prog", "alpha");
    f.proc = j.at("proc").get<int>();
    if (j.contains("match"))
        f.match = j["match"];
    f.skip = Num<int>(j, "skip", 0);
    f.times = Num<int>(j, "times", -1);
    f.ec = OptNum(j, "ec");
    f.delayMs = Num<int>(j, "delay_ms", 0);
    f.close = Num<int>(j, "close", 0) != 0;
    f.noproc = Num<int>(j, "noproc", 0) != 0;
    f.garbage = Num<int>(j, "garbage", 0) != 0;
    f.unterminated = Num<int>(j, "unterminated", 0) != 0;
    std::string fill = ToLatin9(j.value("fill", "#"));
    if (!fill.empty())
        f.fill = fill[0];
    return f;
}

// A table record: an object whose "id" is a text (empty when missing).
json ReadTableRecord(const json &j)
{
    if (!j.is_object())
        throw std::runtime_error("a table record must be an object");
    json r = j;
    if (!r.contains("id"))
        r["id"] = "";
    if (!r["id"].is_string())
        throw std::runtime_error("a table record's id must be a text");
    return r;
}

template <typename T, typename Fn>
void ReadList(const json &j, const char *name, std::vector<T> &out, Fn read)
{
    if (!j.contains(name))
        return;
    for (auto &e : j[name])
        out.push_back(read(e));
}

}  // namespace

bool ParseFixture(const std::string &text, Fixture &out, std::string &error)
{
    Fixture f;
    try {
        json j = json::parse(text, nullptr, true, true);
        if (!j.is_object()) {
            error = "fixture: the top level must be an object";
            return false;
        }
        if (j.contains("compat"))
            f.alphaCompat = ReadCompat(j["compat"], f.alphaCompat);
        f.omegaCompat = f.alphaCompat;
        if (j.contains("omega_compat"))
            f.omegaCompat = ReadCompat(j["omega_compat"], f.omegaCompat);
        f.unroutedEc = Num<int>(j, "unrouted_ec", 25);
        ReadList(j, "routes", f.routes, ReadRoute);
        ReadList(j, "users", f.users, ReadUser);
        if (j.contains("properties"))
            ReadProperties(j["properties"], f);
        ReadList(j, "groups", f.groups, ReadGroup);
        if (j.contains("jobs"))
            for (auto &job : j["jobs"])
                ReadJob(job, f);
        ReadList(j, "send_records", f.sendRecords, ReadSendRecord);
        ReadList(j, "logs", f.logs, ReadLog);
        if (j.contains("texts"))
            for (auto &[k, v] : j["texts"].items())
                f.texts[ToLatin9(k)] = ToLatin9(v.get<std::string>());
        if (j.contains("config"))
            for (auto &[k, v] : j["config"].items())
                f.config[ToLatin9(k)] = ToLatin9(v.get<std::string>());
        ReadList(j, "faults", f.faults, ReadFault);
        ReadList(j, "tab7", f.tab7, ReadTableRecord);
        ReadList(j, "tab11", f.tab11, ReadTableRecord);
        ReadList(j, "tab102", f.tab102, ReadTableRecord);
    } catch (const std::exception &e) {
        error = std::string("fixture: ") + e.what();
        return false;
    }
    out = std::move(f);
    return true;
}

bool LoadFixture(const std::string &path, Fixture &out, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "fixture: cannot open " + path;
        return false;
    }
    std::stringstream s;
    s << in.rdbuf();
    return ParseFixture(s.str(), out, error);
}

const Route *Fixture::FindRoute(const std::string &lineId) const
{
    for (auto &r : routes)
        if (r.lineId == lineId)
            return &r;
    return nullptr;
}

const UserRecord *Fixture::FindUser(const std::string &server, const std::string &user) const
{
    for (auto &u : users)
        if (u.user == user && (u.server.empty() || u.server == server))
            return &u;
    return nullptr;
}

const Property *Fixture::FindProperty(const std::string &user, const std::string &key) const
{
    auto it = properties.find({user, key});
    return it == properties.end() ? nullptr : &it->second;
}

const Group *Fixture::FindGroup(const std::string &id, bool omega) const
{
    for (auto &g : groups)
        if (g.id == id && (omega ? g.onOmega : g.onAlpha))
            return &g;
    return nullptr;
}

const PageVariant *Fixture::FindPage(const std::string &user, int kind, int32_t job, int page,
                                     int variant) const
{
    for (auto &p : pages)
        if (p.user == user && p.kind == kind && p.job == job && p.page == page && p.variant == variant)
            return &p;
    return nullptr;
}

const SendRecord *Fixture::FindSendRecord(const std::string &user, int32_t job) const
{
    for (auto &s : sendRecords)
        if (s.user == user && s.job == job)
            return &s;
    return nullptr;
}

const TxLog *Fixture::FindLog(const std::string &user, int kind, int32_t job) const
{
    for (auto &l : logs)
        if (l.user == user && l.kind == kind && l.job == job)
            return &l;
    return nullptr;
}

std::vector<uint32_t> Fixture::PageFlags(const std::string &user, int kind, int32_t job) const
{
    std::vector<uint32_t> flags;
    for (auto &p : pages) {
        if (p.user != user || p.kind != kind || p.job != job || p.page < 1 || p.page > kMaxPage ||
            p.variant < 0 || p.variant > 31)
            continue;
        if (flags.size() < static_cast<size_t>(p.page))
            flags.resize(p.page, 0);
        flags[p.page - 1] |= 1u << p.variant;
    }
    return flags;
}

std::string ToLatin9(const std::string &utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = len > 0 && i + len <= utf8.size();
        uint32_t code = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (int k = 1; valid && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80)
                valid = false;
            code = (code << 6) | (cc & 0x3F);
        }
        if (!valid) {  // not UTF-8: keep the byte
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        i += len;
        char byte = '?';
        if (code <= 0xFF) {
            byte = static_cast<char>(code);
        } else {
            for (auto &p : kLatin9)
                if (p.code == code)
                    byte = static_cast<char>(p.byte);
        }
        out.push_back(byte);
    }
    return out;
}

std::string FromLatin9(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        uint32_t code = c;
        for (auto &p : kLatin9)
            if (p.byte == c)
                code = p.code;
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace simserver
