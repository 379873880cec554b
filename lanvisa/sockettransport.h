// Raw SCPI socket (TCPIP::host::port::SOCKET). There is no END on the wire:
// a read ends at the count, at the termination character (block-aware, see
// TerminatorScanner), on a pause when END is not suppressed, or at the deadline.
//
// Stale replies: a raw stream cannot tell an old reply from a new one, so
// after a read time-out the transport resynchronises as follows. If part of
// the message had been read and a termination character is in use, the rest
// of that message (up to its terminator) is discarded at the next read. If
// nothing of it had arrived, whatever the socket holds is dropped before the
// next write. A reply that arrives only after the next request was sent
// cannot be recognised; VXI-11 (::INSTR) has no such gap.
#pragma once

#include "rsrcname.h"
#include "tcpconnection.h"
#include "terminatorscanner.h"
#include "transport.h"

namespace lanvisa {

class SocketTransport : public Transport
{
public:
    explicit SocketTransport(const ResourceName& name);

    ViStatus open(const Deadline& deadline, bool exclusiveLock) override;
    void close() override;
    ViStatus write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written) override;
    ChunkResult readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline) override;
    ViStatus clear(const Deadline& deadline) override;
    /// Only with VI_PROT_4882_STRS: "*STB?" is sent and its reply parsed.
    ViStatus readStb(const Deadline& deadline, uint16_t ioProtocol, uint8_t& stb) override;
    /// A raw socket has no remote/local state: VI_ERROR_NSUP_OPER.
    ViStatus gpibControlRen(uint16_t mode, const Deadline& deadline) override;
    bool hasEnd() const override { return false; }
    std::string peerAddress() const override { return m_conn.peerAddress(); }
    ViStatus setNoDelay(bool on) override { return m_conn.setNoDelay(on); }
    ViStatus setKeepAlive(bool on) override { return m_conn.setKeepAlive(on); }
    bool acceptsIoProtocol(uint16_t protocol) const override;
    /// No END on a raw socket: replies end at the LF, and END is not looked
    /// for (a pause is no message end). Blocks are still read whole.
    ReadDefaults readDefaults() const override { return ReadDefaults{true, true}; }

private:
    ViStatus skipRestOfMessage(const ReadRules& rules, const Deadline& deadline);
    void noteTimeout(const ReadRules& rules);

    ResourceName m_name;
    TcpConnection m_conn;
    TerminatorScanner m_scanner;
    bool m_midMessage = false;        ///< bytes of an unterminated message were handed out
    bool m_skipRest = false;          ///< drop the rest of a timed-out message at the next read
    bool m_flushBeforeWrite = false;  ///< drop pending input at the next write
};

}  // namespace lanvisa
