// The hostile alpha server of tests/support/hostile_alpha.py, started on a free loopback port.
#pragma once

#include <string>
#include <vector>

#include "testsupport.h"

namespace testsupport {

class HostileAlpha {
public:
    // mode: "trickle", "foreign", "endless", "silent", "slow" or "split"; delay: seconds
    // between trickled pieces (of `chunk` bytes), before each slow answer or before the rest of
    // a split answer (cut after `chunk` bytes); the server ends by itself after lifetime seconds.
    bool Start(const std::string &mode, double delay = 1.0, int lifetime = 120, int chunk = 1,
               const std::string &recipient = "bob@example.com");
    // A go-between for the alpha server on 127.0.0.1:upstream: the first answer to procedure
    // splitProc comes in two fragments, its first `cut` bytes at once and the rest after delay
    // seconds; everything else passes as it is.
    bool StartProxy(int upstream, int splitProc, int cut, double delay, int lifetime = 120);
    int port() const { return port_; }
    // TELAMORPCMAP=127.0.0.1:<port>: the port map entry that sends alpha calls here.
    std::string RpcMapEnv() const;
    std::string Log() const { return process_.Log(); }
    // The calls the server has read so far (its "call" lines).
    int Calls() const;

private:
    // Runs the server with these arguments and a free port.
    bool Launch(const std::vector<std::string> &args);

    ServerProcess process_{"hostile_alpha"};
    int port_ = 0;
};

}  // namespace testsupport
