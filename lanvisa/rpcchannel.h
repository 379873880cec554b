// ONC RPC client over one TCP connection: sends record-marked calls and reads
// the matching reply as a stream, so large results (device_read data) go
// straight into the caller's buffer. Replies with another xid are leftovers of
// calls that timed out and are skipped; a record cut off by a time-out is
// skipped to its end before the next reply is looked for.
#pragma once

#include "deadline.h"
#include "tcpconnection.h"

#include "protocol/xdr.h"

#include <cstdint>
#include <vector>

namespace lanvisa {

class RpcChannel
{
public:
    /// Bytes read at the start of a reply: enough for any reply header
    /// (verifier body up to 400 bytes) plus a small result.
    static constexpr size_t kReplyHeadSize = 512;

    explicit RpcChannel(TcpConnection& connection);

    uint32_t newXid() { return m_nextXid++; }

    /// Sends one call given as a record-marked message (XdrWriter::forRecord()
    /// + finishRecord()). A partial send leaves the stream unusable: the channel
    /// then reports VI_ERROR_CONN_LOST for good.
    ViStatus sendCall(const std::vector<uint8_t>& record, const Deadline& deadline);

    /// Waits for the reply with this xid and reads up to kReplyHeadSize bytes
    /// of it into head (fewer only when the record is shorter).
    ViStatus beginReply(uint32_t xid, const Deadline& deadline, std::vector<uint8_t>& head);
    /// Reads exactly n further bytes of the current reply. A reply that ends
    /// early is a protocol violation (VI_ERROR_IO).
    ViStatus readBody(uint8_t* dst, size_t n, const Deadline& deadline);
    /// Skips whatever is left of the current reply.
    ViStatus endReply(const Deadline& deadline);

    /// Convenience: send a call and read a reply whose result fits in the head.
    /// On success the reader in `head` is positioned at the results.
    ViStatus call(const std::vector<uint8_t>& record, uint32_t xid, const Deadline& deadline,
                  std::vector<uint8_t>& head, size_t& resultOffset);

    bool usable() const { return !m_desynchronised && !m_connection.broken(); }

private:
    /// Reads up to n bytes of the current record; got < n only at its end.
    ViStatus readRecord(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got);
    ViStatus nextFragment(const Deadline& deadline);
    ViStatus skipRecord(const Deadline& deadline);

    TcpConnection& m_connection;
    uint32_t m_nextXid;
    bool m_inRecord = false;
    bool m_lastFragment = false;
    uint32_t m_fragmentLeft = 0;
    bool m_desynchronised = false;
};

}  // namespace lanvisa
