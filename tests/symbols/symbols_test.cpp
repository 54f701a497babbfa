// Checks with nm that no binary of ours defines or references libtirpc's client creators, its
// portmapper query or the C library's getopt by their C names (ours live in namespaces); and
// that no binary links both libraries of same-named client functions (dirprobe's console set and
// the report program's gateway set).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::set<std::string> kForbidden = {
    "clnt_create",  "clnttcp_create", "clntudp_create", "clntudp_bufcreate",
    "pmap_getport", "clnt_call",      "getopt",
};

// The forbidden symbols in nm output, each as "<type> <name>" (the version suffix of a dynamic
// symbol, "@TIRPC_0.3.0", is dropped).
std::vector<std::string> ForbiddenSymbols(const std::string &nmOutput)
{
    // Split by hand: nm lists tens of thousands of symbols a binary, and a stream a line made
    // this check take most of a minute.
    std::vector<std::string> hits;
    std::string_view rest(nmOutput);
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // The last two fields: the type and the name.
        std::string_view fields[2];
        size_t count = 0;
        while (count < 2) {
            size_t last = line.find_last_not_of(" \t");
            if (last == std::string_view::npos)
                break;
            line = line.substr(0, last + 1);
            size_t start = line.find_last_of(" \t");
            start = start == std::string_view::npos ? 0 : start + 1;
            fields[count++] = line.substr(start);
            line = line.substr(0, start);
        }
        if (count < 2)
            continue;
        std::string_view name = fields[0], type = fields[1];
        if (size_t at = name.find('@'); at != std::string_view::npos)
            name = name.substr(0, at);
        if (type.size() == 1 && kForbidden.count(std::string(name)) != 0)
            hits.push_back(std::string(type).append(" ").append(name));
    }
    return hits;
}

std::string RunCommand(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string Quoted(const std::string &path)
{
    std::string q = "'";
    for (char c : path)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The non-empty lines of the file that an environment variable names.
std::vector<std::string> ListLines(const char *variable)
{
    std::vector<std::string> lines;
    const char *listFile = getenv(variable);
    if (listFile == nullptr)
        return lines;
    std::ifstream in(listFile);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> CheckedBinaries()
{
    return ListLines("TELA_SYMBOLS_LIST");
}

// Names of the functions that nm output shows defined (type T).
std::set<std::string> DefinedFunctions(const std::string &nmOutput)
{
    std::set<std::string> names;
    std::istringstream lines(nmOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && type == "T")
            names.insert(name);
    }
    return names;
}

std::string PathEnding(const std::vector<std::string> &paths, const std::string &ending)
{
    for (const std::string &path : paths)
        if (path.size() >= ending.size() &&
            path.compare(path.size() - ending.size(), ending.size(), ending) == 0)
            return path;
    return "";
}

TEST(SymbolGuard, ScannerFindsReferencesAndDefinitions)
{
    const std::string sample =
        "                 U clnt_create@TIRPC_0.3.0\n"
        "                 U clnt_vc_create@TIRPC_0.3.0\n"
        "0000000000001234 T pmap_getport\n"
        "0000000000000ab0 T _ZN4tela11clnt_createEPKcjjS1_\n"
        "                 U getopt@GLIBC_2.2.5\n"
        "                 U getopt_long\n"
        "member.o:\n";
    std::vector<std::string> expected = {"U clnt_create", "T pmap_getport", "U getopt"};
    EXPECT_EQ(ForbiddenSymbols(sample), expected);
}

TEST(SymbolGuard, NoBinaryReachesTheLibraryNames)
{
    std::vector<std::string> binaries = CheckedBinaries();
    ASSERT_FALSE(binaries.empty()) << "no list of binaries (TELA_SYMBOLS_LIST)";
    bool sawPlatform = false;
    for (const std::string &path : binaries) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            ADD_FAILURE() << path << ": not built";
            continue;
        }
        bool archive = path.size() > 2 && path.compare(path.size() - 2, 2, ".a") == 0;
        // Only the lines that can name a forbidden symbol (or our own creator) are read: grep
        // passes them on, the binaries' tens of thousands of others never reach the test.
        const std::string filter = " 2>/dev/null | grep -E 'clnt|pmap_getport|getopt'";
        std::string symbols = RunCommand("nm " + Quoted(path) + filter);
        if (!archive)
            symbols += RunCommand("nm -D " + Quoted(path) + filter);
        if (path.find("libplatform.a") != std::string::npos) {
            sawPlatform = true;
            // Our own versions are there, under their namespace.
            EXPECT_NE(symbols.find("_ZN4tela11clnt_create"), std::string::npos) << path;
        }
        for (const std::string &hit : ForbiddenSymbols(symbols))
            ADD_FAILURE() << path << ": " << hit;
    }
    EXPECT_TRUE(sawPlatform) << "the platform library was not checked";
}

TEST(SymbolGuard, NoBinaryLinksBothClientSets)
{
    // The two libraries do define functions of the same names: the check below guards a real
    // clash.
    std::vector<std::string> binaries = CheckedBinaries();
    std::string console = PathEnding(binaries, "/libplatform_console.a");
    std::string gateway = PathEnding(binaries, "/libgateway.a");
    ASSERT_FALSE(console.empty() || gateway.empty()) << "the client-function libraries were not checked";
    std::set<std::string> consoleNames =
        DefinedFunctions(RunCommand("nm " + Quoted(console) + " 2>/dev/null"));
    std::set<std::string> gatewayNames =
        DefinedFunctions(RunCommand("nm " + Quoted(gateway) + " 2>/dev/null"));
    EXPECT_EQ(consoleNames.count("_Z17CreateAlphaClientPKc"), 1u) << console;
    EXPECT_EQ(gatewayNames.count("_Z17CreateAlphaClientPKc"), 1u) << gateway;

    // Each line: a binary and the client-function libraries that it links.
    std::vector<std::string> lines = ListLines("TELA_SYMBOLS_CLIENT_SETS");
    ASSERT_FALSE(lines.empty()) << "no list of linked client sets (TELA_SYMBOLS_CLIENT_SETS)";
    std::set<std::string> seen;
    for (const std::string &line : lines) {
        std::istringstream fields(line);
        std::string path, set;
        fields >> path;
        std::vector<std::string> sets;
        while (fields >> set) {
            sets.push_back(set);
            seen.insert(set);
        }
        if (sets.size() > 1)
            ADD_FAILURE() << path << ": links both client sets (" << sets[0] << ", " << sets[1] << ")";
    }
    EXPECT_EQ(seen.size(), 2u) << "the programs link their client sets";
}

}  // namespace
