#include "network.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quarnel {
namespace bench {

bool sendAllv(int fd, iovec* pieces, size_t count)
{
    while (count > 0) {
        if (pieces->iov_len == 0) {
            ++pieces;
            --count;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = pieces;
        msg.msg_iovlen = count;
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (left > 0 && count > 0) {
            size_t take = std::min(left, pieces->iov_len);
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + take;
            pieces->iov_len -= take;
            left -= take;
            if (pieces->iov_len == 0) {
                ++pieces;
                --count;
            }
        }
    }
    return true;
}

bool sendAll(int fd, const void* data, size_t size)
{
    iovec piece{const_cast<void*>(data), size};
    return sendAllv(fd, &piece, 1);
}

std::string peerName(const sockaddr_in& a)
{
    char buf[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

int waitReadable(int fd, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        int r = ::poll(fds, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (fds[1].revents)
            return -1;
        if (r == 0)
            return 0;
        return 1;
    }
}

int msUntil(Clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms + 1);
}

bool interruptibleSleep(const ServerContext& ctx, int ms)
{
    pollfd pfd{ctx.wakeFd, POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return !ctx.stopping;
        const int r = ::poll(&pfd, 1, static_cast<int>(left));
        if (r > 0 || ctx.stopping)
            return false;
    }
}

std::string bindListener(const std::string& address, uint16_t port, bool udp, int& fd, uint16_t& bound)
{
    fd = -1;
    const char* what = udp ? "UDP" : "TCP";
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
        return "\"" + address + "\" is not an IPv4 address";
    int s = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (s < 0)
        return std::string("cannot create a socket: ") + std::strerror(errno);
    if (!udp) {
        int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        int e = errno;
        ::close(s);
        std::string where = address + ":" + std::to_string(port) + " (" + what + ")";
        if (e == EACCES || e == EPERM)
            return "cannot bind " + where
                   + ": ports below 1024 need privilege. Run as root, or grant the "
                     "program the capability once, e.g. `sudo setcap cap_net_bind_service=+ep "
                     "$(command -v quarnel-bench)`; or choose another portmapper port (--pmap-port) "
                     "with a client that accepts host,port";
        if (e == EADDRINUSE)
            return "cannot bind " + where
                   + ": the port is in use (another bench on this address, or a "
                     "system rpcbind listening on all addresses: stop it or use other addresses)";
        if (e == EADDRNOTAVAIL)
            return "cannot bind " + where + ": not an address of this machine (use 127.x.y.z)";
        return "cannot bind " + where + ": " + std::strerror(e);
    }
    if (!udp && ::listen(s, 16) < 0) {
        int e = errno;
        ::close(s);
        return "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(e);
    }
    sockaddr_in got;
    socklen_t len = sizeof got;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&got), &len);
    bound = ntohs(got.sin_port);
    fd = s;
    return std::string();
}

}  // namespace bench
}  // namespace quarnel
