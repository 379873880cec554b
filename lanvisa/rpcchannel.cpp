#include "rpcchannel.h"

#include "protocol/recordmark.h"
#include "protocol/rpc.h"

#include <algorithm>
#include <random>

namespace lanvisa {

namespace p = quarnel::protocol;

RpcChannel::RpcChannel(TcpConnection& connection) : m_connection(connection)
{
    // A random start keeps xids of a new connection apart from an old one's.
    std::random_device rd;
    m_nextXid = rd();
}

ViStatus RpcChannel::sendCall(const std::vector<uint8_t>& record, const Deadline& deadline)
{
    if (!usable())
        return VI_ERROR_CONN_LOST;
    iovec piece{const_cast<uint8_t*>(record.data()), record.size()};
    size_t sent = 0;
    const ViStatus st = m_connection.sendAll(&piece, 1, deadline, sent);
    if (st != VI_SUCCESS && sent > 0 && sent < record.size()) {
        // The server holds half a record: nothing we send later can be framed.
        m_desynchronised = true;
        return VI_ERROR_CONN_LOST;
    }
    return st;
}

ViStatus RpcChannel::nextFragment(const Deadline& deadline)
{
    uint8_t mark[p::kRecordMarkSize];
    size_t have = 0;
    while (have < sizeof mark) {
        size_t k = 0;
        const ViStatus st = m_connection.readSome(mark + have, sizeof mark - have, deadline, k);
        have += k;
        if (st != VI_SUCCESS) {
            // Keep a half-read header for the next attempt so framing survives a time-out.
            m_connection.unread(mark, have);
            return st;
        }
    }
    const p::FragmentHeader h = p::decodeFragmentHeader(p::loadBigEndian32(mark));
    m_fragmentLeft = h.length;
    m_lastFragment = h.last;
    m_inRecord = true;
    return VI_SUCCESS;
}

ViStatus RpcChannel::readRecord(uint8_t* dst, size_t n, const Deadline& deadline, size_t& got)
{
    got = 0;
    while (got < n) {
        if (m_fragmentLeft == 0) {
            if (m_lastFragment) {
                m_inRecord = false;
                return VI_SUCCESS;
            }
            const ViStatus st = nextFragment(deadline);
            if (st != VI_SUCCESS)
                return st;
            continue;
        }
        size_t k = 0;
        const ViStatus st = m_connection.readSome(dst + got, std::min<size_t>(n - got, m_fragmentLeft), deadline, k);
        got += k;
        m_fragmentLeft -= static_cast<uint32_t>(k);
        if (st != VI_SUCCESS)
            return st;
    }
    if (m_fragmentLeft == 0 && m_lastFragment)
        m_inRecord = false;
    return VI_SUCCESS;
}

ViStatus RpcChannel::skipRecord(const Deadline& deadline)
{
    while (m_inRecord) {
        if (m_fragmentLeft == 0) {
            if (m_lastFragment) {
                m_inRecord = false;
                break;
            }
            const ViStatus st = nextFragment(deadline);
            if (st != VI_SUCCESS)
                return st;
            continue;
        }
        if (m_connection.buffered() == 0) {
            const ViStatus st = m_connection.fill(deadline);
            if (st != VI_SUCCESS)
                return st;
        }
        const size_t k = std::min<size_t>(m_fragmentLeft, m_connection.buffered());
        m_connection.consume(k);
        m_fragmentLeft -= static_cast<uint32_t>(k);
    }
    return VI_SUCCESS;
}

ViStatus RpcChannel::beginReply(uint32_t xid, const Deadline& deadline, std::vector<uint8_t>& head)
{
    if (!usable())
        return VI_ERROR_CONN_LOST;
    while (true) {
        ViStatus st = skipRecord(deadline);  // rest of a reply cut off earlier
        if (st != VI_SUCCESS)
            return st;
        st = nextFragment(deadline);
        if (st != VI_SUCCESS)
            return st;
        head.resize(kReplyHeadSize);
        size_t got = 0;
        st = readRecord(head.data(), head.size(), deadline, got);
        head.resize(got);
        if (st != VI_SUCCESS)
            return st;
        uint32_t replyXid = 0;
        p::MsgType type = p::MsgType::Call;
        if (p::peekMessage(p::ByteView(head.data(), head.size()), replyXid, type) && replyXid == xid
            && type == p::MsgType::Reply)
            return VI_SUCCESS;
        // A reply to an earlier call that timed out (or junk): drop it whole.
    }
}

ViStatus RpcChannel::readBody(uint8_t* dst, size_t n, const Deadline& deadline)
{
    size_t got = 0;
    const ViStatus st = readRecord(dst, n, deadline, got);
    if (st != VI_SUCCESS)
        return st;
    return got == n ? VI_SUCCESS : VI_ERROR_IO;
}

ViStatus RpcChannel::endReply(const Deadline& deadline)
{
    return skipRecord(deadline);
}

ViStatus RpcChannel::call(const std::vector<uint8_t>& record, uint32_t xid, const Deadline& deadline,
                          std::vector<uint8_t>& head, size_t& resultOffset)
{
    ViStatus st = sendCall(record, deadline);
    if (st != VI_SUCCESS)
        return st;
    st = beginReply(xid, deadline, head);
    if (st != VI_SUCCESS)
        return st;
    st = endReply(deadline);
    if (st != VI_SUCCESS)
        return st;
    p::XdrReader r(head.data(), head.size());
    p::ReplyHeader h;
    if (!p::decodeReplyHeader(r, h) || !h.succeeded())
        return VI_ERROR_IO;
    resultOffset = r.offset();
    return VI_SUCCESS;
}

}  // namespace lanvisa
