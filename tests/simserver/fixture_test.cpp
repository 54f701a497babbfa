// The fixture reader and the fault knob choice of the simulated server.
#include <gtest/gtest.h>

#include <cstdlib>

#include "faults.h"
#include "fixture.h"

namespace simserver {
namespace {

TEST(SimFixture, ReadsEveryKindOfEntry)
{
    const char *text = R"({
      // comments are allowed
      "compat": {"level": 15},
      "routes": [{"line_id": "4711", "route_id": "R1", "server": "127.0.0.1", "user": "jdoe",
                  "full_ec": 23}],
      "properties": {"jdoe": {"GREETING": "100", "BAD": {"ec": 7}}},
      "groups": [{"id": "g1", "name": "Sales", "on": "omega"}],
      "jobs": [{"user": "jdoe", "kind": 2, "job": 100,
                "pages": [{"page": 1, "variants": {"14": {"text": "hi"}}},
                          {"page": 3, "variants": {"4": {"size": 5}, "0": {"hex": "00ff"}}}]}],
      "send_records": [{"user": "alice", "job": 9, "final": 1, "record": {"subject": "S"}}],
      "logs": [{"user": "alice", "job": 9, "count": 3, "cursor_step": 0}],
      "faults": [{"proc": 117, "close": true, "times": 1}]
    })";
    Fixture f;
    std::string error;
    ASSERT_TRUE(ParseFixture(text, f, error)) << error;
    EXPECT_EQ(f.alphaCompat.level, 15);
    EXPECT_EQ(f.omegaCompat.level, 15);  // omega follows alpha unless given
    ASSERT_NE(f.FindRoute("4711"), nullptr);
    EXPECT_EQ(f.FindRoute("4711")->routeLineId, "4711");
    EXPECT_EQ(f.FindRoute("4711")->fullEc.value_or(-1), 23);
    EXPECT_EQ(f.FindRoute("4712"), nullptr);
    EXPECT_EQ(f.FindProperty("jdoe", "GREETING")->value, "100");
    EXPECT_EQ(f.FindProperty("jdoe", "BAD")->ec, 7);
    EXPECT_EQ(f.FindGroup("g1", false), nullptr);
    EXPECT_NE(f.FindGroup("g1", true), nullptr);
    EXPECT_EQ(f.FindPage("jdoe", 2, 100, 1, 14)->data, "hi");
    EXPECT_EQ(f.FindPage("jdoe", 2, 100, 3, 0)->data, std::string("\x00\xff", 2));
    EXPECT_EQ(f.FindPage("jdoe", 2, 100, 3, 4)->data.size(), 5u);
    EXPECT_EQ(f.PageFlags("jdoe", 2, 100), (std::vector<uint32_t>{0x4000, 0, 0x11}));
    ASSERT_NE(f.FindSendRecord("alice", 9), nullptr);
    EXPECT_EQ(f.FindSendRecord("alice", 9)->fields["job"], 9);  // the record's job defaults to the key
    ASSERT_NE(f.FindLog("alice", 0, 9), nullptr);
    EXPECT_EQ(f.FindLog("alice", 0, 9)->lines, (std::vector<std::string>{"line 1", "line 2", "line 3"}));
    EXPECT_EQ(f.FindLog("alice", 0, 9)->cursorStep, 1);  // a step of 0 would never advance
    ASSERT_EQ(f.faults.size(), 1u);
    EXPECT_EQ(f.faults[0].prog, "alpha");
}

TEST(SimFixture, RefusesBadFiles)
{
    const char *cases[] = {
        "",
        "[1, 2]",
        "{\"routes\": [{\"line_id\": 5}]}",
        "{\"faults\": [{\"close\": true}]}",  // a fault names its procedure
        "{\"compat\": ",
        R"({"jobs": [{"user": "u", "pages": [{"variants": {"1": {"hex": "zz"}}}]}]})",
        R"({"jobs": [{"user": "u", "pages": [{"variants": {"x": {"size": 1}}}]}]})",
        R"({"tab7": [1]})",            // a table record is an object
        R"({"tab102": [{"id": 5}]})",  // whose id is a text
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Fixture f;
        std::string error;
        EXPECT_FALSE(ParseFixture(cases[i], f, error)) << "case " << i;
        EXPECT_EQ(error.rfind("fixture: ", 0), 0u) << "case " << i << ": " << error;
    }
}

TEST(SimFixture, SampleFixturesParse)
{
    const char *src = std::getenv("TELA_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    for (const char *name : {"demo.json"}) {
        Fixture f;
        std::string error;
        EXPECT_TRUE(LoadFixture(std::string(src) + "/tests/simserver/fixtures/" + name, f, error)) << error;
        EXPECT_FALSE(f.routes.empty()) << name;
    }
}

TEST(SimFixture, TextsBecomeLatin9Bytes)
{
    struct Case {
        const char *utf8;
        const char *latin9;
    } cases[] = {
        {"abc", "abc"},
        {"\xc3\xa4", "\xe4"},      // a umlaut
        {"\xe2\x82\xac", "\xa4"},  // euro sign
        {"\xc5\xa0\xc5\x93", "\xa6\xbd"},
        {"\xe4\xb8\xad", "?"},  // no position in ISO-8859-15
        {"\xf0\x9f\x98\x80x", "?x"},
    };
    for (auto &c : cases)
        EXPECT_EQ(ToLatin9(c.utf8), c.latin9) << c.utf8;
    for (int b = 1; b < 256; ++b) {
        std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(ToLatin9(FromLatin9(byte)), byte) << b;
    }
}

TEST(SimFaults, SkipTimesAndMatch)
{
    Fixture f;
    std::string error;
    ASSERT_TRUE(ParseFixture(R"({"faults": [
        {"proc": 144, "match": {"key": "GD_IMU"}, "skip": 1, "times": 1, "ec": 7},
        {"proc": 144, "close": true, "times": 2},
        {"prog": "omega", "proc": 32, "noproc": true}
    ]})",
                             f, error))
        << error;
    nlohmann::json imu = {{"user", "u"}, {"key", "GD_IMU"}};
    nlohmann::json other = {{"user", "u"}, {"key", "SG_LDE"}};
    struct Step {
        const char *prog;
        int proc;
        nlohmann::json args;
        int expect;  // index of the fault, -1 none
    } steps[] = {
        {"alpha", 144, imu, 1},    // first GD_IMU call is skipped by fault 0; fault 1 takes it
        {"alpha", 144, imu, 0},    // second GD_IMU call: fault 0
        {"alpha", 144, other, 1},  // fault 1's second and last time
        {"alpha", 144, imu, -1},   // both used up
        {"alpha", 32, {}, -1},     // another program
        {"omega", 32, {}, 2},     {"omega", 32, {}, 2},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        Fault *got = PickFault(f, steps[i].prog, steps[i].proc, steps[i].args);
        Fault *want = steps[i].expect < 0 ? nullptr : &f.faults[steps[i].expect];
        EXPECT_EQ(got, want) << "step " << i;
    }
}

}  // namespace
}  // namespace simserver
