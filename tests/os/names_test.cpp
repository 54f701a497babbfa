// The OS layer's functions never take a name of the C library: the libraries we link call the
// C library's functions by name and must not reach ours.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "testsupport.h"

namespace {

std::set<std::string> LibcNames()
{
    // The path of the C library that this process runs with (its functions may be wrapped
    // by a sanitizer, so ask the loader, not a function's address).
    void *handle = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr);
    struct link_map *map = nullptr;
    EXPECT_EQ(dlinfo(handle, RTLD_DI_LINKMAP, &map), 0);
    std::string path = map ? map->l_name : "";
    dlclose(handle);
    auto run = testsupport::RunProgram({"nm", "-D", "--defined-only", path});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::set<std::string> names;
    std::istringstream in(run.out);
    std::string addr, type, name;
    while (in >> addr >> type >> name)
        names.insert(name.substr(0, name.find('@')));
    return names;
}

// Defined global symbols of the OS layer's objects in the platform library: raw and demangled.
struct Symbol {
    std::string raw, demangled;
};

std::vector<Symbol> OsSymbols()
{
    // The library sits at <build>/platform, the test at <build>/tests/os.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string build = std::filesystem::path(self).parent_path().parent_path().parent_path();
    std::string lib = build + "/platform/libplatform.a";
    std::vector<Symbol> out;
    for (bool demangle : {false, true}) {
        std::vector<std::string> argv = {"nm", "-A", "--defined-only", "--extern-only"};
        if (demangle)
            argv.push_back("-C");
        argv.push_back(lib);
        auto run = testsupport::RunProgram(argv);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::istringstream in(run.out);
        std::string line;
        size_t i = 0;
        while (std::getline(in, line)) {
            // "<lib>:<member>.o:<addr> <type> <name>"
            size_t colon = line.find(".o:");
            if (colon == std::string::npos)
                continue;
            std::string member = line.substr(0, colon);
            member = member.substr(member.rfind(':') + 1);
            if (member != "sysutil.cpp" && member != "hostvars.cpp" && member != "cfenv.cpp" &&
                member != "unixcompat.cpp")
                continue;
            std::string rest = line.substr(colon + 3);
            std::string name = rest.substr(rest.find(' ', rest.find(' ') + 1) + 1);
            // Symbols the compiler or a sanitizer adds (personality reference, ODR markers).
            if (name.rfind("DW.ref.", 0) == 0 || name.rfind("__", 0) == 0)
                continue;
            if (!demangle)
                out.push_back({name, ""});
            else if (i < out.size())
                out[i++].demangled = name;
        }
    }
    return out;
}

// "ns::Name(args)" -> "Name"
std::string BaseName(const std::string &demangled)
{
    std::string s = demangled.substr(0, demangled.find('('));
    size_t colons = s.rfind("::");
    return colons == std::string::npos ? s : s.substr(colons + 2);
}

TEST(OsNames, NoCLinkageAndNoCLibraryNames)
{
    std::set<std::string> libc = LibcNames();
    ASSERT_GT(libc.count("getopt"), 0u);
    std::vector<Symbol> symbols = OsSymbols();
    ASSERT_FALSE(symbols.empty());
    bool sawGetOpt = false;
    for (const Symbol &s : symbols) {
        // Everything of ours has C++ linkage, so it cannot stand in for a C function.
        EXPECT_EQ(s.raw.compare(0, 2, "_Z"), 0) << s.raw;
        std::string base = BaseName(s.demangled);
        if (s.raw.find("typeinfo") != std::string::npos)
            continue;
        EXPECT_EQ(libc.count(base), 0u) << s.demangled << " takes a C library name";
        if (s.demangled.rfind("tela::GetOpt(", 0) == 0)
            sawGetOpt = true;
    }
    EXPECT_TRUE(sawGetOpt);
}

}  // namespace
