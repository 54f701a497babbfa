// A test suite's simulated server (tests/simserver) and the RPC runtime that reaches it: the
// server starts before the suite's first test, with its program numbers moved by the test
// program's TELAMORPCOFFSET, which the client creators under test apply as well; it stops
// after the suite's last test. For test programs that link the platform library.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "rpcrt/rpcrt.h"
#include "simserver.h"

namespace testsupport {

// The test program's TELAMORPCOFFSET (set by its CMakeLists.txt), 0 without it.
inline int ProgramOffset()
{
    const char *offset = getenv("TELAMORPCOFFSET");
    return offset != nullptr ? atoi(offset) : 0;
}

class SimServerSuite : public ::testing::Test {
protected:
    // Starts the suite's server with a fixture (JSON text); on failure its messages are in
    // server_->Log().
    static bool StartServer(const std::string &fixtureJson)
    {
        server_ = new SimServer;
        SimServerOptions options;
        options.offset = ProgramOffset();
        return server_->Start(fixtureJson, options);
    }
    // Points TELAMORPCMAP at the server, followed by further "host:port" entries if given, and
    // sets up the RPC runtime.
    static void InitRuntime(const std::string &moreMap = "")
    {
        std::string map = server_->RpcMap();
        if (!moreMap.empty())
            map += ";" + moreMap;
        setenv("TELAMORPCMAP", map.c_str(), 1);
        rpc_runtime_init();
    }
    static void TearDownTestSuite()
    {
        rpc_runtime_cleanup();
        delete server_;
        server_ = nullptr;
    }

    static inline SimServer *server_ = nullptr;
};

}  // namespace testsupport
