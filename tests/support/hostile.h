// The hostile alpha server of tests/support/hostile_alpha.py, started on a free loopback port.
#pragma once

#include <string>

#include "testsupport.h"

namespace testsupport {

class HostileAlpha {
public:
    // mode: "trickle", "foreign", "endless", "silent" or "slow"; delay: seconds between trickled
    // pieces (of `chunk` bytes) or before each slow answer; the server ends by itself after
    // lifetime seconds.
    bool Start(const std::string &mode, double delay = 1.0, int lifetime = 120, int chunk = 1,
               const std::string &recipient = "bob@example.com");
    int port() const { return port_; }
    // TELAMORPCMAP=127.0.0.1:<port>: the port map entry that sends alpha calls here.
    std::string RpcMapEnv() const;
    std::string Log() const { return process_.Log(); }
    // The calls the server has read so far (its "call" lines).
    int Calls() const;

private:
    ServerProcess process_{"hostile_alpha"};
    int port_ = 0;
};

}  // namespace testsupport
