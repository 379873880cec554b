// A TCP client connection with deadline-bounded I/O and a small read-ahead
// buffer. Large reads bypass the buffer and land directly in the caller's memory.
#pragma once

#include "deadline.h"
#include "visa.h"

#include <netinet/in.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lanvisa {

class TcpConnection
{
public:
    TcpConnection();
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    /// Connects to the first of the addresses that accepts. Refused
    /// everywhere: VI_ERROR_RSRC_NFOUND; nothing within the deadline: VI_ERROR_TMO.
    ViStatus connect(const std::vector<in_addr>& addresses, uint16_t port, const Deadline& deadline);
    /// Takes over an already connected socket (made non-blocking here).
    void adopt(int fd);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    /// Dotted address of the peer ("" when not connected).
    const std::string& peerAddress() const { return m_peer; }

    ViStatus setNoDelay(bool on);
    ViStatus setKeepAlive(bool on);

    /// Sends all bytes of all pieces. Time-out: VI_ERROR_TMO; peer gone: VI_ERROR_CONN_LOST.
    /// `sent` reports the bytes that went out.
    ViStatus sendAll(const struct iovec* pieces, int count, const Deadline& deadline, size_t& sent);
    ViStatus sendAll(const uint8_t* data, size_t size, const Deadline& deadline);

    /// Reads exactly n bytes (through the read-ahead buffer).
    ViStatus readExact(uint8_t* dst, size_t n, const Deadline& deadline);
    /// Reads at least 1 and at most n bytes; `got` reports how many.
    ViStatus readSome(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got);
    /// Discards exactly n bytes with bounded memory.
    ViStatus skip(size_t n, const Deadline& deadline);

    /// Bytes already read ahead; view them without consuming.
    size_t buffered() const { return m_end - m_begin; }
    const uint8_t* bufferedData() const { return m_buffer.data() + m_begin; }
    void consume(size_t n) { m_begin += n; }
    /// Waits until at least one more byte is buffered.
    ViStatus fill(const Deadline& deadline);
    /// Puts bytes back in front of the read-ahead buffer (they were read past a stop point).
    void unread(const uint8_t* data, size_t n);
    /// Drops buffered bytes and whatever the socket holds right now, without waiting.
    ViStatus discardPending();
    /// True if bytes (or a hang-up) are waiting in the socket right now.
    bool readableNow() const;
    /// True if the peer closed or a fatal error was seen; every later call fails.
    bool broken() const { return m_broken; }

private:
    ViStatus waitFor(short events, const Deadline& deadline);
    ViStatus recvInto(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got);
    ViStatus failed(ViStatus status);

    int m_fd = -1;
    bool m_broken = false;
    std::string m_peer;
    std::vector<uint8_t> m_buffer;
    size_t m_begin = 0;
    size_t m_end = 0;
};

}  // namespace lanvisa
