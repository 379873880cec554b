#include "sockettransport.h"

#include "resolver.h"

#include <algorithm>
#include <cstdlib>

namespace lanvisa {

namespace {
/// Reads at least this large go straight from the socket to the caller.
constexpr size_t kDirectReadThreshold = 64 * 1024;
constexpr char kStbQuery[] = "*STB?\n";
constexpr size_t kStbReplyMax = 64;
constexpr long kMaxStatusByte = 255;
}  // namespace

SocketTransport::SocketTransport(const ResourceName& name) : m_name(name)
{
}

ViStatus SocketTransport::open(const Deadline& deadline, bool)
{
    std::vector<in_addr> addresses;
    ViStatus st = resolveIpv4(m_name.host, deadline, addresses);
    if (st == VI_SUCCESS)
        st = m_conn.connect(addresses, m_name.port, deadline);
    if (st != VI_SUCCESS)
        return st;
    m_conn.setNoDelay(true);
    return VI_SUCCESS;
}

void SocketTransport::close()
{
    m_conn.close();
}

ViStatus SocketTransport::write(const uint8_t* data, size_t size, bool, const Deadline& deadline, size_t& written)
{
    written = 0;
    if (m_flushBeforeWrite) {
        const ViStatus st = m_conn.discardPending();
        if (st != VI_SUCCESS)
            return st;
        m_flushBeforeWrite = false;
        m_scanner.reset();
        m_midMessage = false;
    }
    iovec piece{const_cast<uint8_t*>(data), size};
    return m_conn.sendAll(&piece, 1, deadline, written);
}

void SocketTransport::noteTimeout(const ReadRules& rules)
{
    // Inside block data the terminator cannot be found again with certainty
    // (the declared length may be false); anywhere else the rest of the
    // message ends at its terminator. The scanner starts afresh either way,
    // so a bogus block never swallows later replies.
    if (m_midMessage && rules.termCharEnabled && !m_scanner.inBlock())
        m_skipRest = true;
    else
        m_flushBeforeWrite = true;
    m_scanner.reset();
}

ViStatus SocketTransport::skipRestOfMessage(const ReadRules& rules, const Deadline& deadline)
{
    while (m_skipRest) {
        if (m_conn.buffered() == 0) {
            const ViStatus st = m_conn.fill(deadline);
            if (st != VI_SUCCESS)
                return st;
        }
        const TerminatorScanner::Result r = m_scanner.scan(m_conn.bufferedData(), m_conn.buffered(), rules.termChar);
        m_conn.consume(r.consumed);
        if (r.terminated) {
            m_skipRest = false;
            m_midMessage = false;
        }
    }
    return VI_SUCCESS;
}

ChunkResult SocketTransport::readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline)
{
    ChunkResult result;
    if (m_skipRest) {
        result.status = skipRestOfMessage(rules, deadline);
        if (result.status != VI_SUCCESS)
            return result;
    }
    if (max == 0)
        return result;

    size_t got = 0;
    bool terminated = false;
    if (m_conn.buffered() == 0 && max >= kDirectReadThreshold) {
        // Large read: straight into the caller's memory, then give back what
        // follows a terminator.
        result.status = m_conn.readSome(buf, max, deadline, got);
        if (result.status == VI_SUCCESS && rules.termCharEnabled) {
            const TerminatorScanner::Result r = m_scanner.scan(buf, got, rules.termChar);
            m_conn.unread(buf + r.consumed, got - r.consumed);
            got = r.consumed;
            terminated = r.terminated;
        }
    } else {
        if (m_conn.buffered() == 0)
            result.status = m_conn.fill(deadline);
        if (result.status == VI_SUCCESS) {
            got = std::min(max, m_conn.buffered());
            if (rules.termCharEnabled) {
                const TerminatorScanner::Result r = m_scanner.scan(m_conn.bufferedData(), got, rules.termChar);
                got = r.consumed;
                terminated = r.terminated;
            }
            std::copy(m_conn.bufferedData(), m_conn.bufferedData() + got, buf);
            m_conn.consume(got);
        }
    }
    if (result.status != VI_SUCCESS) {
        if (result.status == VI_ERROR_TMO)
            noteTimeout(rules);
        return result;
    }
    result.count = got;
    result.termChar = terminated;
    m_midMessage = !terminated;
    // No END on a raw socket; with END not suppressed a pause stands in for it.
    if (!terminated && rules.endOnPause && m_conn.buffered() == 0 && !m_conn.readableNow())
        result.end = true;
    return result;
}

ViStatus SocketTransport::clear(const Deadline&)
{
    m_skipRest = false;
    m_flushBeforeWrite = false;
    m_midMessage = false;
    m_scanner.reset();
    return m_conn.discardPending();
}

bool SocketTransport::acceptsIoProtocol(uint16_t protocol) const
{
    return protocol == VI_PROT_NORMAL || protocol == VI_PROT_4882_STRS;
}

ViStatus SocketTransport::readStb(const Deadline& deadline, uint16_t ioProtocol, uint8_t& stb)
{
    if (ioProtocol != VI_PROT_4882_STRS)
        return VI_ERROR_INV_SETUP;
    size_t written = 0;
    ViStatus st = write(reinterpret_cast<const uint8_t*>(kStbQuery), sizeof kStbQuery - 1, true, deadline, written);
    if (st != VI_SUCCESS)
        return st;
    const ReadRules line{true, '\n', false};
    char reply[kStbReplyMax + 1] = {};
    size_t got = 0;
    while (got < kStbReplyMax) {
        const ChunkResult r = readChunk(reinterpret_cast<uint8_t*>(reply) + got, kStbReplyMax - got, line, deadline);
        got += r.count;
        if (r.status != VI_SUCCESS)
            return r.status;
        if (r.termChar)
            break;
    }
    char* end = nullptr;
    const long value = std::strtol(reply, &end, 10);
    if (end == reply || value < 0 || value > kMaxStatusByte)
        return VI_ERROR_IO;
    stb = static_cast<uint8_t>(value);
    return VI_SUCCESS;
}

ViStatus SocketTransport::gpibControlRen(uint16_t, const Deadline&)
{
    return VI_ERROR_NSUP_OPER;
}

}  // namespace lanvisa
