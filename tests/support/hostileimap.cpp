#include "hostileimap.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "testsupport.h"

namespace testsupport {

EndlessImapGreeting::EndlessImapGreeting(int pauseMs) : pauseMs_(pauseMs)
{
    if (pipe(stop_) != 0)
        return;
    fd_ = LoopbackSocket(SOCK_STREAM);
    if (fd_ < 0)
        return;
    port_ = LocalPort(fd_);
    thread_ = StartedThread([this] { Serve(); });
}

EndlessImapGreeting::~EndlessImapGreeting()
{
    if (stop_[1] >= 0) {
        ssize_t w = write(stop_[1], "x", 1);
        (void)w;
    }
    if (thread_.joinable())
        thread_.join();
    for (int fd : {fd_, stop_[0], stop_[1]})
        if (fd >= 0)
            close(fd);
}

void EndlessImapGreeting::Serve()
{
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        int conn = accept(fd_, nullptr, nullptr);
        if (conn < 0)
            continue;
        Feed(conn);
        close(conn);
    }
}

void EndlessImapGreeting::Feed(int conn)
{
    std::string chunk = "* OK ";
    if (pauseMs_ == 0)
        chunk.append(65536, 'a');
    size_t at = 0;
    for (;;) {
        pollfd fds[2] = {{conn, POLLOUT, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        size_t len = pauseMs_ == 0 ? chunk.size() - at : 1;
        ssize_t n = send(conn, chunk.data() + at, len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0 || (fds[0].revents & (POLLERR | POLLHUP)))
            return;
        sent_ += n;
        at += static_cast<size_t>(n);
        if (at >= chunk.size()) {
            chunk.assign(pauseMs_ == 0 ? 65536 : 1, 'a');
            at = 0;
        }
        if (pauseMs_ > 0) {
            // The pause ends early when the server stops.
            pollfd s = {stop_[0], POLLIN, 0};
            if (poll(&s, 1, pauseMs_) > 0)
                return;
        }
    }
}

}  // namespace testsupport
