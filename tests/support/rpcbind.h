// The system's rpcbind (portmapper) for a test. rpcbind always serves port 111 and keeps its
// lock file and socket in /run, so start it only inside a private network and mount namespace
// with its own /run (tests/rpcrt/private_netns.sh makes one): the machine's own portmapper,
// port 111 and /run stay untouched.
#pragma once

#include "testsupport.h"

#include <string>

namespace testsupport {

// True inside the private namespace made by tests/rpcrt/private_netns.sh (it sets
// TELA_PRIVATE_NETNS=1). Tests that bind port 111 skip themselves otherwise.
bool InPrivateNetworkNamespace();

class Rpcbind {
public:
    Rpcbind();
    ~Rpcbind();
    Rpcbind(const Rpcbind &) = delete;
    Rpcbind &operator=(const Rpcbind &) = delete;

    // Starts "rpcbind -f" and waits until it accepts TCP connections on 127.0.0.1:111. False
    // when it cannot be started, ends early, or does not answer in time (see Log()).
    bool Start(int timeoutMs = 10000);
    // Stops it (SIGTERM, then SIGKILL); also done by the destructor.
    void Stop();
    bool Running();
    std::string Log() const;

private:
    ServerProcess process_;
};

}  // namespace testsupport
