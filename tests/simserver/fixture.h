// The data that the simulated alpha/omega server answers from, read from a JSON file.
// Texts in the file are UTF-8; they are served as ISO-8859-15 bytes (see ToLatin9).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace simserver {

struct Compat {
    int32_t valid = 1;
    int32_t level = 16;
};

// One routed line. Fields as in the route answer; `fullEc` is the status answered to a request
// that asks for the full form (for example 23), `replyVersion` forces the answer's arm.
struct Route {
    std::string lineId;  // the key: the line id as the request carries it
    std::string routeId, routeText, routeLineId, auxId;
    std::string server, user, group, routeExtra;
    int32_t routeExtraValue = 0;
    int ec = 0;
    std::optional<int> fullEc;
    std::optional<int> replyVersion;
};

struct UserRecord {
    std::string server, user, name, f4, f5, f7;
    int32_t f6 = 0;
    int f8 = 0;
};

// A user property; `ec` other than 0 is answered as the status with an empty value.
struct Property {
    std::string value;
    int ec = 0;
};

struct Group {
    std::string id, name;
    bool onAlpha = true, onOmega = true;
};

// One stored variant of one page of one job.
struct PageVariant {
    std::string user;
    int kind = 0;
    int32_t job = 0;
    int page = 1;
    int variant = 0;
    std::string data;
};

// A send record as answered by alpha 137; `fields` holds the record's fields by name.
struct SendRecord {
    std::string user;
    int32_t job = 0;  // the key of the request
    int final = 0;
    int version = 1;
    nlohmann::json fields = nlohmann::json::object();
};

// The transmission log of one job. The cursor handed out as `next_line` is
// cursorStart + index * cursorStep (index 0 is always asked as 0).
struct TxLog {
    std::string user;
    int kind = 0;
    int32_t job = 0;
    bool ok = true;
    std::vector<std::string> lines;
    int batch = 0;  // lines per answer whatever the request asks; 0: what it asks
    int32_t cursorStart = 0;
    int32_t cursorStep = 1;
    bool endless = false;  // wrap around: never an answer without lines
};

// A fault knob for one procedure. It applies to the calls of that procedure whose logged
// arguments hold every member of `match`, after `skip` such calls, `times` times (-1: always).
struct Fault {
    std::string prog;  // "alpha" or "omega"
    int proc = 0;
    nlohmann::json match = nlohmann::json::object();
    int skip = 0;
    int times = -1;
    std::optional<int> ec;      // status to answer in the result's status field
    int delayMs = 0;            // wait before answering
    bool close = false;         // close the connection without answering
    bool noproc = false;        // answer "procedure unavailable"
    bool garbage = false;       // answer one unit that does not decode as the result
    bool unterminated = false;  // fill every fixed text of the answer to its full width
    char fill = '#';
    // run-time counters
    int seen = 0;
    int applied = 0;
};

struct Fixture {
    Compat alphaCompat;
    Compat omegaCompat;
    int unroutedEc = 25;
    std::vector<Route> routes;
    std::vector<UserRecord> users;
    std::map<std::pair<std::string, std::string>, Property> properties;  // (user, key)
    std::vector<Group> groups;
    std::vector<PageVariant> pages;
    std::vector<SendRecord> sendRecords;
    std::vector<TxLog> logs;
    std::map<std::string, std::string> texts;   // alpha 73: key -> text
    std::map<std::string, std::string> config;  // omega 48-50: key -> value
    // Omega tables 7, 11 and 102: one object per record, its fields by name (texts in UTF-8);
    // "id" is the key, a table-102 record also has its "version" (0 by default). The put and
    // delete procedures change these lists (and `config`, `routes`) until the next reload.
    std::vector<nlohmann::json> tab7, tab11, tab102;
    std::vector<Fault> faults;

    const Route *FindRoute(const std::string &lineId) const;
    const UserRecord *FindUser(const std::string &server, const std::string &user) const;
    const Property *FindProperty(const std::string &user, const std::string &key) const;
    const Group *FindGroup(const std::string &id, bool omega) const;
    const PageVariant *FindPage(const std::string &user, int kind, int32_t job, int page, int variant) const;
    const SendRecord *FindSendRecord(const std::string &user, int32_t job) const;
    const TxLog *FindLog(const std::string &user, int kind, int32_t job) const;
    // The variant bits of pages 1..n of a job; n is the highest page stored.
    std::vector<uint32_t> PageFlags(const std::string &user, int kind, int32_t job) const;
};

// Fills `out` from JSON text. On failure returns false with a message in `error`.
[[nodiscard]] bool ParseFixture(const std::string &text, Fixture &out, std::string &error);
[[nodiscard]] bool LoadFixture(const std::string &path, Fixture &out, std::string &error);

// UTF-8 to ISO-8859-15 bytes: code points up to 0xFF keep their value, the eight Latin-9
// letters and the euro sign take their positions, anything else becomes '?'. Invalid bytes are
// kept as they are, so a fixture can also carry raw bytes.
std::string ToLatin9(const std::string &utf8);
// The reverse, for the request log: every byte above 0x7F as its code point (0xA4 as U+20AC...).
std::string FromLatin9(const std::string &bytes);

}  // namespace simserver
