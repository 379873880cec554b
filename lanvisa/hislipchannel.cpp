#include "hislipchannel.h"

#include <algorithm>

namespace lanvisa {

namespace hs = quarnel::protocol::hislip;

void HislipChannel::close()
{
    m_conn.close();
    m_skipLeft = 0;
    m_desynchronised = false;
}

ViStatus HislipChannel::send(hs::Type type, uint8_t control, uint32_t parameter, const uint8_t* payload, size_t size,
                             const Deadline& deadline)
{
    if (!usable())
        return VI_ERROR_CONN_LOST;
    uint8_t header[hs::kHeaderSize];
    hs::encodeHeader(header, hs::Header{static_cast<uint8_t>(type), control, parameter, size});
    iovec pieces[2] = {{header, sizeof header}, {const_cast<uint8_t*>(payload), size}};
    size_t sent = 0;
    const ViStatus st = m_conn.sendAll(pieces, 2, deadline, sent);
    if (st != VI_SUCCESS && sent > 0) {
        // The peer holds part of a message: nothing sent later could be framed.
        m_desynchronised = true;
        return VI_ERROR_CONN_LOST;
    }
    return st;
}

ViStatus HislipChannel::skipPending(const Deadline& deadline)
{
    while (m_skipLeft > 0) {
        if (m_conn.buffered() == 0) {
            const ViStatus st = m_conn.fill(deadline);
            if (st != VI_SUCCESS)
                return st;
        }
        const size_t k = static_cast<size_t>(std::min<uint64_t>(m_skipLeft, m_conn.buffered()));
        m_conn.consume(k);
        m_skipLeft -= k;
    }
    return VI_SUCCESS;
}

ViStatus HislipChannel::readHeader(hs::Header& header, const Deadline& deadline)
{
    if (!usable())
        return VI_ERROR_CONN_LOST;
    ViStatus st = skipPending(deadline);
    if (st != VI_SUCCESS)
        return st;
    uint8_t bytes[hs::kHeaderSize];
    size_t have = 0;
    while (have < sizeof bytes) {
        size_t k = 0;
        st = m_conn.readSome(bytes + have, sizeof bytes - have, deadline, k);
        have += k;
        if (st != VI_SUCCESS) {
            m_conn.unread(bytes, have);  // a later read starts at the same header
            return st;
        }
    }
    if (!hs::decodeHeader(bytes, header)) {
        m_desynchronised = true;
        return VI_ERROR_IO;
    }
    return VI_SUCCESS;
}

ViStatus HislipChannel::readPayload(uint64_t length, size_t keep, std::string& out, const Deadline& deadline)
{
    out.clear();
    const size_t kept = static_cast<size_t>(std::min<uint64_t>(length, keep));
    out.resize(kept);
    size_t have = 0;
    while (have < kept) {
        size_t k = 0;
        const ViStatus st = m_conn.readSome(reinterpret_cast<uint8_t*>(&out[have]), kept - have, deadline, k);
        have += k;
        if (st != VI_SUCCESS) {
            m_skipLeft += length - have;
            return st;
        }
    }
    return skipPayload(length - kept, deadline);
}

ViStatus HislipChannel::skipPayload(uint64_t length, const Deadline& deadline)
{
    m_skipLeft += length;
    return skipPending(deadline);
}

}  // namespace lanvisa
