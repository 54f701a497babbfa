#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "os/unixcompat.h"
#include "testsupport.h"

namespace {

// Runs the parser over argv until it ends, collecting the results and what went to fd 2.
struct Parse {
    std::vector<int> results;  // the final -1 included
    int optind = 0;
    std::vector<std::string> args;  // OptArg after each result ("" for none)
    std::string err;
};

Parse RunParser(std::vector<std::string> words, const char *opts, int opterr = 1)
{
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    tela::GetOptReset();
    tela::OptErr = opterr;

    testsupport::CaptureFd err(2);
    Parse p;
    for (int guard = 0; guard < 20; ++guard) {
        int c = tela::GetOpt(static_cast<int>(words.size()), argv.data(), opts);
        p.results.push_back(c);
        p.args.push_back(tela::OptArg ? tela::OptArg : "");
        if (c == -1)
            break;
    }
    p.err = err.Text();
    p.optind = tela::OptInd;
    tela::GetOptReset();
    return p;
}

TEST(GetOpt, Table)
{
    struct Case {
        std::vector<std::string> argv;
        const char *opts;
        int opterr;
        std::vector<int> results;
        int optind;
        std::string err;
    } cases[] = {
        {{"prog", "-c", "-v", "123"}, "?cdv", 1, {'c', 'v', -1}, 3, ""},
        {{"prog", "-cv"}, "?cdv", 1, {'c', 'v', -1}, 2, ""},
        {{"prog", "-x"}, "?cdv", 1, {'?', -1}, 2, "prog: unknown option, -x\n"},
        {{"prog", "-x"}, "?cdv", 0, {'?', -1}, 2, ""},
        {{"prog", "-cxd"}, "?cdv", 1, {'c', '?', 'd', -1}, 2, "prog: unknown option, -x\n"},
        {{"prog", "-?"}, "?cdv", 1, {'?', -1}, 2, ""},
        {{"prog", "--", "-c"}, "?cdv", 1, {-1}, 2, ""},
        {{"prog", "-", "-c"}, "?cdv", 1, {-1}, 1, ""},
        // No reordering: the first non-option ends the parsing.
        {{"prog", "123", "-c"}, "?cdv", 1, {-1}, 1, ""},
        {{"prog", "-c", "x", "-v"}, "?cdv", 1, {'c', -1}, 2, ""},
        {{"prog"}, "?cdv", 1, {-1}, 1, ""},
        {{"prog", "-f"}, "f:", 1, {'?', -1}, 2, "prog: argument missing for -f\n"},
        {{"prog", "-f"}, "f:", 0, {'?', -1}, 2, ""},
        {{"prog", "-:"}, "f:", 1, {'?', -1}, 2, "prog: unknown option, -:\n"},
        {{"prog", "-fvalue", "rest"}, "f:", 1, {'f', -1}, 2, ""},
        {{"prog", "-f", "value", "rest"}, "f:", 1, {'f', -1}, 3, ""},
        {{"prog", "-cfv", "-c"}, "cf:", 1, {'c', 'f', 'c', -1}, 3, ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case &c = cases[i];
        Parse p = RunParser(c.argv, c.opts, c.opterr);
        EXPECT_EQ(p.results, c.results) << "case " << i;
        EXPECT_EQ(p.optind, c.optind) << "case " << i;
        EXPECT_EQ(p.err, c.err) << "case " << i;
    }
}

TEST(GetOpt, OptionArguments)
{
    Parse p = RunParser({"prog", "-fvalue", "-f", "next", "-c"}, "cf:");
    ASSERT_EQ(p.results, (std::vector<int>{'f', 'f', 'c', -1}));
    EXPECT_EQ(p.args[0], "value");
    EXPECT_EQ(p.args[1], "next");
    EXPECT_EQ(p.args[2], "");  // an option without argument clears it
}

TEST(GetOpt, OptOptHoldsTheLastCharacter)
{
    std::string a0 = "prog", a1 = "-z";
    char *argv[] = {a0.data(), a1.data(), nullptr};
    tela::GetOptReset();
    tela::OptErr = 0;
    EXPECT_EQ(tela::GetOpt(2, argv, "c"), '?');
    EXPECT_EQ(tela::OptOpt, 'z');
    tela::GetOptReset();
}

}  // namespace
