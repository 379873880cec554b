#include "tcpconnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace lanvisa {

namespace {
/// Read-ahead buffer; reads at least this large go straight to the caller.
constexpr size_t kReadAheadSize = 64 * 1024;

bool isConnectionLoss(int err)
{
    return err == ECONNRESET || err == EPIPE || err == ENOTCONN || err == ECONNABORTED || err == ETIMEDOUT
           || err == EHOSTUNREACH || err == ENETUNREACH || err == ENETDOWN;
}
}  // namespace

TcpConnection::TcpConnection() : m_buffer(kReadAheadSize)
{
}

TcpConnection::~TcpConnection()
{
    close();
}

void TcpConnection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_begin = m_end = 0;
}

void TcpConnection::adopt(int fd)
{
    close();
    m_broken = false;
    m_fd = fd;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

ViStatus TcpConnection::failed(ViStatus status)
{
    if (status == VI_ERROR_CONN_LOST)
        m_broken = true;
    return status;
}

ViStatus TcpConnection::connect(const std::vector<in_addr>& addresses, uint16_t port, const Deadline& deadline)
{
    close();
    m_broken = false;
    ViStatus status = VI_ERROR_RSRC_NFOUND;
    for (const in_addr& address : addresses) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr = address;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            status = VI_ERROR_SYSTEM_ERROR;
            continue;
        }
        m_fd = fd;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
            if (errno != EINPROGRESS) {
                close();
                status = VI_ERROR_RSRC_NFOUND;
                continue;
            }
            status = waitFor(POLLOUT, deadline);
            int err = 0;
            socklen_t len = sizeof err;
            if (status == VI_SUCCESS && (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0))
                status = VI_ERROR_RSRC_NFOUND;
            if (status != VI_SUCCESS) {
                close();
                if (status == VI_ERROR_CONN_LOST)
                    status = VI_ERROR_RSRC_NFOUND;
                if (status == VI_ERROR_TMO)
                    return status;
                continue;
            }
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        m_peer = text;
        return VI_SUCCESS;
    }
    return status;
}

ViStatus TcpConnection::setNoDelay(bool on)
{
    const int v = on ? 1 : 0;
    return setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 ? VI_SUCCESS : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TcpConnection::setKeepAlive(bool on)
{
    const int v = on ? 1 : 0;
    return setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v) == 0 ? VI_SUCCESS : VI_ERROR_SYSTEM_ERROR;
}

ViStatus TcpConnection::waitFor(short events, const Deadline& deadline)
{
    while (true) {
        pollfd p{m_fd, events, 0};
        const int n = ::poll(&p, 1, deadline.pollTimeoutMs());
        if (n > 0) {
            if ((p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & events) == 0)
                return VI_ERROR_CONN_LOST;
            return VI_SUCCESS;  // readable, writable or hung up: the next call tells which
        }
        if (n == 0) {
            if (deadline.expired())
                return VI_ERROR_TMO;
            continue;  // rounding: poll woke a little early
        }
        if (errno != EINTR)
            return VI_ERROR_SYSTEM_ERROR;
    }
}

ViStatus TcpConnection::sendAll(const struct iovec* pieces, int count, const Deadline& deadline, size_t& sent)
{
    sent = 0;
    if (m_fd < 0 || m_broken)
        return VI_ERROR_CONN_LOST;
    std::vector<iovec> iov(pieces, pieces + count);
    size_t first = 0;
    while (first < iov.size()) {
        if (iov[first].iov_len == 0) {
            ++first;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = iov.data() + first;
        msg.msg_iovlen = std::min<size_t>(iov.size() - first, IOV_MAX);
        const ssize_t n = ::sendmsg(m_fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                const ViStatus st = waitFor(POLLOUT, deadline);
                if (st != VI_SUCCESS)
                    return failed(st);
                continue;
            }
            return failed(isConnectionLoss(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO);
        }
        sent += static_cast<size_t>(n);
        size_t left = static_cast<size_t>(n);
        while (left > 0 && first < iov.size()) {
            const size_t take = std::min(left, iov[first].iov_len);
            iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + take;
            iov[first].iov_len -= take;
            left -= take;
            if (iov[first].iov_len == 0)
                ++first;
        }
    }
    return VI_SUCCESS;
}

ViStatus TcpConnection::sendAll(const uint8_t* data, size_t size, const Deadline& deadline)
{
    iovec v{const_cast<uint8_t*>(data), size};
    size_t sent = 0;
    return sendAll(&v, 1, deadline, sent);
}

ViStatus TcpConnection::recvInto(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got)
{
    got = 0;
    if (m_fd < 0 || m_broken)
        return VI_ERROR_CONN_LOST;
    while (true) {
        const ssize_t r = ::recv(m_fd, dst, n, MSG_DONTWAIT);
        if (r > 0) {
            got = static_cast<size_t>(r);
            return VI_SUCCESS;
        }
        if (r == 0)
            return failed(VI_ERROR_CONN_LOST);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return failed(isConnectionLoss(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO);
        const ViStatus st = waitFor(POLLIN, deadline);
        if (st != VI_SUCCESS)
            return failed(st);
    }
}

ViStatus TcpConnection::fill(const Deadline& deadline)
{
    if (m_begin == m_end)
        m_begin = m_end = 0;
    else if (m_end == m_buffer.size()) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size())
        m_buffer.resize(m_buffer.size() * 2);  // only after unread() grew the contents
    size_t got = 0;
    const ViStatus st = recvInto(m_buffer.data() + m_end, m_buffer.size() - m_end, deadline, got);
    m_end += got;
    return st;
}

ViStatus TcpConnection::readSome(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got)
{
    got = 0;
    if (n == 0)
        return VI_SUCCESS;
    if (buffered() == 0 && n >= kReadAheadSize)
        return recvInto(dst, n, deadline, got);
    if (buffered() == 0) {
        const ViStatus st = fill(deadline);
        if (st != VI_SUCCESS)
            return st;
    }
    got = std::min(n, buffered());
    std::memcpy(dst, bufferedData(), got);
    consume(got);
    return VI_SUCCESS;
}

ViStatus TcpConnection::readExact(uint8_t* dst, size_t n, const Deadline& deadline)
{
    size_t done = 0;
    while (done < n) {
        size_t got = 0;
        const ViStatus st = readSome(dst + done, n - done, deadline, got);
        done += got;
        if (st != VI_SUCCESS)
            return st;
    }
    return VI_SUCCESS;
}

ViStatus TcpConnection::skip(size_t n, const Deadline& deadline)
{
    while (n > 0) {
        if (buffered() == 0) {
            const ViStatus st = fill(deadline);
            if (st != VI_SUCCESS)
                return st;
        }
        const size_t k = std::min(n, buffered());
        consume(k);
        n -= k;
    }
    return VI_SUCCESS;
}

void TcpConnection::unread(const uint8_t* data, size_t n)
{
    if (n == 0)
        return;
    if (buffered() == 0 && n <= m_buffer.size()) {
        std::memmove(m_buffer.data(), data, n);
        m_begin = 0;
        m_end = n;
        return;
    }
    std::vector<uint8_t> merged(std::max(kReadAheadSize, n + buffered()));
    std::memcpy(merged.data(), data, n);
    std::memcpy(merged.data() + n, bufferedData(), buffered());
    const size_t total = n + buffered();
    m_buffer.swap(merged);
    m_begin = 0;
    m_end = total;
}

bool TcpConnection::readableNow() const
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

ViStatus TcpConnection::discardPending()
{
    m_begin = m_end = 0;
    if (m_fd < 0 || m_broken)
        return VI_ERROR_CONN_LOST;
    while (true) {
        const ssize_t r = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (r > 0)
            continue;
        if (r == 0)
            return failed(VI_ERROR_CONN_LOST);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return VI_SUCCESS;
        return failed(isConnectionLoss(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO);
    }
}

}  // namespace lanvisa
