// Checks with nm that no binary of ours defines or references libtirpc's client creators, its
// portmapper query or the C library's getopt by their C names (ours live in namespaces).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::set<std::string> kForbidden = {
    "clnt_create", "clnttcp_create", "clntudp_create", "clntudp_bufcreate",
    "pmap_getport", "clnt_call", "getopt",
};

// The forbidden symbols in nm output, each as "<type> <name>" (the version suffix of a dynamic
// symbol, "@TIRPC_0.3.0", is dropped).
std::vector<std::string> ForbiddenSymbols(const std::string &nmOutput)
{
    std::vector<std::string> hits;
    std::istringstream lines(nmOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        std::string part;
        while (fields >> part)
            parts.push_back(part);
        if (parts.size() < 2)
            continue;
        std::string name = parts.back();
        std::string type = parts[parts.size() - 2];
        if (size_t at = name.find('@'); at != std::string::npos)
            name.resize(at);
        if (type.size() == 1 && kForbidden.count(name) != 0)
            hits.push_back(type + " " + name);
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

std::vector<std::string> CheckedBinaries()
{
    std::vector<std::string> paths;
    const char *listFile = getenv("TELA_SYMBOLS_LIST");
    if (listFile == nullptr)
        return paths;
    std::ifstream in(listFile);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            paths.push_back(line);
    return paths;
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
        std::string symbols = RunCommand("nm " + Quoted(path) + " 2>/dev/null");
        if (!archive)
            symbols += RunCommand("nm -D " + Quoted(path) + " 2>/dev/null");
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

}  // namespace
