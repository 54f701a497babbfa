// An IMAP server on 127.0.0.1 (a port the system picked) whose greeting line never ends: it
// accepts each connection in turn and sends "* OK " and then letters without a line end, either
// as fast as the client takes them or one letter every pause.
#pragma once

#include <atomic>
#include <thread>

namespace testsupport {

class EndlessImapGreeting {
public:
    // pauseMs 0: as fast as the client reads; else one letter, then a pause of pauseMs.
    explicit EndlessImapGreeting(int pauseMs = 0);
    ~EndlessImapGreeting();
    EndlessImapGreeting(const EndlessImapGreeting &) = delete;
    EndlessImapGreeting &operator=(const EndlessImapGreeting &) = delete;
    // False when the listener could not be made.
    bool ok() const { return fd_ >= 0; }
    int port() const { return port_; }
    // Bytes sent so far over all connections.
    long long sent() const { return sent_; }

private:
    void Serve();
    // Sends to `conn` until the client goes or the server stops.
    void Feed(int conn);
    int pauseMs_;
    int fd_ = -1;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::atomic<long long> sent_{0};
    std::thread thread_;
};

}  // namespace testsupport
