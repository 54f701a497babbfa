// portchurn: a stand-in for other programs' servers on a shared machine, to run the test suite
// beside. It holds a few hundred TCP ports of 127.0.0.1 in a range at a time, half of them
// listening (connections complete in the kernel's queue, nothing is ever read) and half only bound
// (they refuse connections, and nobody else can bind them), and draws a new set every interval.
// Optional busy threads load the CPUs. It ends by itself after the given time.
//
//   portchurn [--seconds S] [--ports N] [--interval-ms MS] [--low P] [--high P] [--busy THREADS]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ChurnOptions {
    int seconds = 600;
    int ports = 300;
    int intervalMs = 300;
    int low = 20000;
    int high = 32000;
    int busy = 0;
};

// 0 when every argument was understood, 2 otherwise (with a line on stderr).
int ParseArguments(int argc, char **argv, ChurnOptions *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "portchurn: %s needs a value\n", name.c_str());
            return 2;
        }
        int value = std::atoi(argv[++i]);
        if (name == "--seconds")
            options->seconds = value;
        else if (name == "--ports")
            options->ports = value;
        else if (name == "--interval-ms")
            options->intervalMs = value;
        else if (name == "--low")
            options->low = value;
        else if (name == "--high")
            options->high = value;
        else if (name == "--busy")
            options->busy = value;
        else {
            std::fprintf(stderr, "portchurn: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    if (options->low < 1 || options->high > 65535 || options->low > options->high || options->ports < 0 ||
        options->intervalMs < 1) {
        std::fprintf(stderr, "portchurn: bad range or count\n");
        return 2;
    }
    return 0;
}

// A TCP socket bound to 127.0.0.1:port, listening when `listening`; -1 when the port is taken.
int HoldPort(int port, bool listening)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || (listening && listen(fd, 64) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

void CloseAll(std::vector<int> *fds)
{
    for (int fd : *fds)
        close(fd);
    fds->clear();
}

}  // namespace

int main(int argc, char **argv)
{
    ChurnOptions options;
    if (int rc = ParseArguments(argc, argv, &options); rc != 0)
        return rc;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < options.busy; ++i) {
        busy.emplace_back([&stop] {
            volatile unsigned long spin = 0;
            while (!stop.load(std::memory_order_relaxed))
                spin = spin + 1;
        });
    }
    std::mt19937 rng(static_cast<unsigned>(getpid()));
    std::uniform_int_distribution<int> pick(options.low, options.high);
    std::vector<int> held;
    long rounds = 0, taken = 0;
    while (std::chrono::steady_clock::now() < end) {
        CloseAll(&held);
        for (int i = 0; i < options.ports; ++i) {
            int fd = HoldPort(pick(rng), i % 2 == 0);
            if (fd >= 0)
                held.push_back(fd);
        }
        taken += static_cast<long>(held.size());
        ++rounds;
        std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
    }
    CloseAll(&held);
    stop = true;
    for (auto &t : busy)
        t.join();
    std::printf("portchurn: %ld rounds, %ld ports held on average\n", rounds, rounds ? taken / rounds : 0);
    return 0;
}
