#include "session.h"

#include "sockettransport.h"
#include "vxi11transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lanvisa {

namespace {

constexpr uint16_t kMaxRenMode = VI_GPIB_REN_ADDRESS_GTL;
constexpr uint16_t kAllFlushBits = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD |
                                   VI_IO_IN_BUF | VI_IO_OUT_BUF | VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
constexpr uint16_t kAllSetBufBits = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
constexpr uint32_t kMaxUint8 = 0xFF;
constexpr size_t kMaxStringAttribute = VI_FIND_BUFLEN; // bytes incl. the NUL
constexpr char kStbQuery[] = "*STB?\n";
constexpr size_t kStbReplyMax = 64;
constexpr int kMaxStatusByte = 255;
constexpr mode_t kNewFileMode = 0666;
constexpr char kInterfaceName[] = "TCPIP";

bool isOn(ViAttrState v) { return v != VI_FALSE; }
bool isBoolean(ViAttrState v) { return v == VI_FALSE || v == VI_TRUE; }

void putBoolean(void *out, bool v)
{
    const ViBoolean b = v ? VI_TRUE : VI_FALSE;
    std::memcpy(out, &b, sizeof b);
}

template <class T> void putValue(void *out, T v) { std::memcpy(out, &v, sizeof v); }

void putString(void *out, const std::string &s)
{
    const size_t n = std::min(s.size(), kMaxStringAttribute - 1);
    std::memcpy(out, s.data(), n);
    static_cast<char *>(out)[n] = '\0';
}

bool isDottedIpv4(const std::string &host)
{
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

ViStatus writeAllToFile(int fd, const uint8_t *data, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return VI_ERROR_FILE_IO;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return VI_SUCCESS;
}

} // namespace

std::unique_ptr<Transport> makeTransport(const ResourceName &name)
{
    switch (name.kind) {
    case ResourceKind::Vxi11:
        return std::make_unique<Vxi11Transport>(name);
    case ResourceKind::Socket:
        return std::make_unique<SocketTransport>(name);
    case ResourceKind::HiSlip:
        break;
    }
    return nullptr;
}

Session::Session(ViSession rm, const ResourceName &name, std::unique_ptr<Transport> transport)
    : m_rm(rm), m_name(name), m_transport(std::move(transport))
{
    if (name.kind == ResourceKind::Socket) {
        // No END on a raw socket: replies end at the LF, and END is not looked
        // for (a pause is no message end). Blocks are still read whole.
        m_attrs.termCharEnabled = true;
        m_attrs.suppressEndEnabled = true;
    }
}

Session::~Session() { close(); }

ViStatus Session::open(uint32_t openTimeoutMs, bool exclusiveLock)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    // 0 would make every open fail at once; treat it as "no particular budget".
    const Deadline deadline = Deadline::afterMs(openTimeoutMs == 0 ? kDefaultTimeoutMs : openTimeoutMs);
    const ViStatus st = m_transport->open(deadline, exclusiveLock);
    if (st == VI_SUCCESS) {
        m_open = true;
        m_exclusiveLock = exclusiveLock && m_name.kind == ResourceKind::Vxi11;
    }
    return st;
}

void Session::close()
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    if (m_open)
        m_transport->close();
    m_open = false;
}

SessionAttributes Session::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_attrMutex);
    return m_attrs;
}

ReadRules Session::readRules(const SessionAttributes &a) const
{
    ReadRules rules;
    rules.termCharEnabled = a.termCharEnabled;
    rules.termChar = a.termChar;
    rules.endOnPause = !m_transport->hasEnd() && !a.suppressEndEnabled;
    return rules;
}

ViStatus Session::readInto(uint8_t *buf, size_t count, const SessionAttributes &a, const Deadline &deadline,
                           size_t &got)
{
    got = 0;
    if (count == 0)
        return VI_SUCCESS_MAX_CNT;
    const ReadRules rules = readRules(a);
    while (true) {
        const ChunkResult r = m_transport->readChunk(buf + got, count - got, rules, deadline);
        got += r.count;
        if (r.status < VI_SUCCESS)
            return r.status;
        // Precedence: END, then the termination character, then the count.
        if (r.end && !a.suppressEndEnabled)
            return VI_SUCCESS;
        if (r.termChar)
            return VI_SUCCESS_TERM_CHAR;
        if (got >= count)
            return VI_SUCCESS_MAX_CNT;
        if (r.count == 0 && deadline.expired())
            return VI_ERROR_TMO; // a server that answers with empty chunks forever
    }
}

ViStatus Session::write(const uint8_t *buf, size_t count, size_t &written)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return m_transport->write(buf, count, a.sendEndEnabled, Deadline::afterMs(a.timeoutMs), written);
}

ViStatus Session::read(uint8_t *buf, size_t count, size_t &got)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return readInto(buf, count, a, Deadline::afterMs(a.timeoutMs), got);
}

ViStatus Session::readToFile(const char *fileName, size_t count, size_t &got)
{
    got = 0;
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (a.fileAppendEnabled ? O_APPEND : O_TRUNC);
    const int fd = ::open(fileName, flags, kNewFileMode);
    if (fd < 0)
        return VI_ERROR_FILE_ACCESS;

    // Streams through one bounded chunk: the count may be far larger than the reply.
    std::vector<uint8_t> chunk(std::max<size_t>(1, std::min(count, kFileChunkSize)));
    const Deadline deadline = Deadline::afterMs(a.timeoutMs);
    ViStatus st = VI_SUCCESS_MAX_CNT;
    while (got < count) {
        size_t n = 0;
        st = readInto(chunk.data(), std::min(chunk.size(), count - got), a, deadline, n);
        const ViStatus fileStatus = writeAllToFile(fd, chunk.data(), n);
        got += n;
        if (fileStatus != VI_SUCCESS) {
            st = fileStatus;
            break;
        }
        if (st != VI_SUCCESS_MAX_CNT)
            break;
    }
    if (::close(fd) != 0 && st >= VI_SUCCESS)
        st = VI_ERROR_FILE_IO;
    return st;
}

ViStatus Session::flushWriteBuffer(size_t bytes, bool end, const Deadline &deadline)
{
    bytes = std::min(bytes, m_writeBuffer.size());
    size_t written = 0;
    const ViStatus st = m_transport->write(reinterpret_cast<const uint8_t *>(m_writeBuffer.data()), bytes, end,
                                           deadline, written);
    if (st != VI_SUCCESS) {
        m_writeBuffer.clear(); // a half-sent message must not be completed later
        return st;
    }
    m_writeBuffer.erase(0, bytes);
    return VI_SUCCESS;
}

ViStatus Session::bufferFormatted(const char *format, VaArgs &args, const SessionAttributes &a,
                                  const Deadline &deadline)
{
    // A full buffer goes out without END; its last byte stays so END can still
    // go with the true last byte of the message. Flushing as the text grows
    // keeps memory bounded, and the deadline holds however long the format is.
    bool sentSome = false;
    const auto sendSurplus = [&](std::string &) -> ViStatus {
        if (deadline.expired())
            return VI_ERROR_TMO;
        if (m_writeBuffer.size() <= a.writeBufferSize)
            return VI_SUCCESS;
        sentSome = true;
        return flushWriteBuffer(m_writeBuffer.size() - 1, false, deadline);
    };
    const size_t before = m_writeBuffer.size();
    ViStatus st = formatPrint(format, args, m_writeBuffer, sendSurplus);
    if (st != VI_SUCCESS) {
        // Nothing of a failed format is sent later.
        if (sentSome)
            m_writeBuffer.clear();
        else
            m_writeBuffer.resize(before);
        return st;
    }
    // An LF sends the buffer up to it with END, as VISA does for formatted writes.
    const size_t lastLf = m_writeBuffer.rfind('\n');
    if (lastLf != std::string::npos) {
        st = flushWriteBuffer(lastLf + 1, a.sendEndEnabled, deadline);
        if (st != VI_SUCCESS)
            return st;
    }
    if (m_writeBuffer.size() > a.writeBufferSize)
        return flushWriteBuffer(m_writeBuffer.size() - 1, false, deadline);
    return VI_SUCCESS;
}

ViStatus Session::printf(const char *format, VaArgs &args)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    const Deadline deadline = Deadline::afterMs(a.timeoutMs);
    ViStatus st = bufferFormatted(format, args, a, deadline);
    if (st == VI_SUCCESS && a.writeBufferMode == VI_FLUSH_ON_ACCESS && !m_writeBuffer.empty())
        st = flushWriteBuffer(m_writeBuffer.size(), a.sendEndEnabled, deadline);
    return st;
}

ViStatus Session::scanMessage(const char *format, VaArgs &args, const SessionAttributes &a,
                              const Deadline &deadline)
{
    const size_t chunk = std::max<uint32_t>(1, a.readBufferSize);
    ScanInput in([&](std::vector<uint8_t> &out, bool &ended) {
        out.resize(chunk);
        size_t n = 0;
        const ViStatus st = readInto(out.data(), chunk, a, deadline, n);
        out.resize(n);
        ended = st == VI_SUCCESS || st == VI_SUCCESS_TERM_CHAR;
        return st < VI_SUCCESS ? st : VI_SUCCESS;
    });
    ViStatus st = formatScan(format, args, in);
    // A formatted read takes the whole reply message, so the next query never
    // starts with the tail of this one.
    const ViStatus drained = in.drain();
    if (st == VI_SUCCESS)
        st = drained;
    return st;
}

ViStatus Session::scanf(const char *format, VaArgs &args)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return scanMessage(format, args, a, Deadline::afterMs(a.timeoutMs));
}

ViStatus Session::queryf(const char *writeFormat, const char *readFormat, VaArgs &args)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    const Deadline deadline = Deadline::afterMs(a.timeoutMs);
    ViStatus st = bufferFormatted(writeFormat, args, a, deadline);
    if (st == VI_SUCCESS && !m_writeBuffer.empty())
        st = flushWriteBuffer(m_writeBuffer.size(), a.sendEndEnabled, deadline);
    if (st != VI_SUCCESS)
        return st;
    return scanMessage(readFormat, args, a, deadline);
}

ViStatus Session::flush(uint16_t mask)
{
    if (mask == 0 || (mask & ~kAllFlushBits) != 0)
        return VI_ERROR_INV_MASK;
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    if (mask & VI_WRITE_BUF_DISCARD)
        m_writeBuffer.clear();
    if ((mask & VI_WRITE_BUF) && !m_writeBuffer.empty())
        return flushWriteBuffer(m_writeBuffer.size(), a.sendEndEnabled, Deadline::afterMs(a.timeoutMs));
    // Formatted reads consume whole messages, so no read data is ever held
    // back; the low-level buffers have nothing to flush either.
    return VI_SUCCESS;
}

ViStatus Session::setBuf(uint16_t mask, uint32_t size)
{
    if (mask == 0 || (mask & ~kAllSetBufBits) != 0)
        return VI_ERROR_INV_MASK;
    if (size > kMaxFormatBufferSize)
        return VI_ERROR_ALLOC;
    if (size == 0)
        return VI_ERROR_INV_SIZE;
    std::lock_guard<std::mutex> io(m_ioMutex);
    std::lock_guard<std::mutex> lock(m_attrMutex);
    if (mask & VI_READ_BUF)
        m_attrs.readBufferSize = size;
    if (mask & VI_WRITE_BUF) {
        m_attrs.writeBufferSize = size;
        // Shrinking below the pending data sends the surplus without END.
        if (m_writeBuffer.size() > size) {
            const ViStatus st =
                flushWriteBuffer(m_writeBuffer.size() - 1, false, Deadline::afterMs(m_attrs.timeoutMs));
            if (st != VI_SUCCESS)
                return st;
        }
    }
    return (mask & (VI_IO_IN_BUF | VI_IO_OUT_BUF)) ? VI_WARN_NSUP_BUF : VI_SUCCESS;
}

ViStatus Session::clear()
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    m_writeBuffer.clear();
    return m_transport->clear(Deadline::afterMs(a.timeoutMs));
}

ViStatus Session::readStbBy4882Strings(const SessionAttributes &a, uint16_t &status)
{
    const Deadline deadline = Deadline::afterMs(a.timeoutMs);
    size_t written = 0;
    ViStatus st = m_transport->write(reinterpret_cast<const uint8_t *>(kStbQuery), sizeof kStbQuery - 1, true,
                                     deadline, written);
    if (st != VI_SUCCESS)
        return st;
    SessionAttributes lineMode = a;
    lineMode.termCharEnabled = true;
    lineMode.termChar = '\n';
    uint8_t reply[kStbReplyMax + 1] = {};
    size_t got = 0;
    st = readInto(reply, kStbReplyMax, lineMode, deadline, got);
    if (st < VI_SUCCESS)
        return st;
    char *end = nullptr;
    const long value = std::strtol(reinterpret_cast<const char *>(reply), &end, 10);
    if (end == reinterpret_cast<const char *>(reply) || value < 0 || value > kMaxStatusByte)
        return VI_ERROR_IO;
    status = static_cast<uint16_t>(value);
    return VI_SUCCESS;
}

ViStatus Session::readStb(uint16_t &status)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    if (m_name.kind == ResourceKind::Socket)
        return a.ioProtocol == VI_PROT_4882_STRS ? readStbBy4882Strings(a, status) : VI_ERROR_INV_SETUP;
    uint8_t stb = 0;
    const ViStatus st = m_transport->readStb(Deadline::afterMs(a.timeoutMs), stb);
    if (st == VI_SUCCESS)
        status = stb;
    return st;
}

ViStatus Session::gpibControlRen(uint16_t mode)
{
    if (mode > kMaxRenMode)
        return VI_ERROR_INV_MODE;
    std::lock_guard<std::mutex> io(m_ioMutex);
    const Deadline deadline = Deadline::afterMs(snapshot().timeoutMs);
    switch (mode) {
    case VI_GPIB_REN_DEASSERT:
    case VI_GPIB_REN_DEASSERT_GTL:
    case VI_GPIB_REN_ADDRESS_GTL:
        return m_transport->goToLocal(deadline);
    case VI_GPIB_REN_ASSERT_ADDRESS:
    case VI_GPIB_REN_ASSERT_ADDRESS_LLO:
        return m_transport->goToRemote(deadline);
    default:
        // Asserting REN alone or local lockout has no core-channel call.
        return VI_ERROR_NSUP_OPER;
    }
}

ViStatus Session::setAttribute(ViAttr attribute, ViAttrState value)
{
    const bool socket = m_name.kind == ResourceKind::Socket;
    std::lock_guard<std::mutex> lock(m_attrMutex);
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        if (value > VI_TMO_INFINITE)
            return VI_ERROR_NSUP_ATTR_STATE;
        m_attrs.timeoutMs = static_cast<uint32_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        if (value > kMaxUint8)
            return VI_ERROR_NSUP_ATTR_STATE;
        m_attrs.termChar = static_cast<uint8_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
    case VI_ATTR_SEND_END_EN:
    case VI_ATTR_SUPPRESS_END_EN:
    case VI_ATTR_FILE_APPEND_EN: {
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        bool &field = attribute == VI_ATTR_TERMCHAR_EN     ? m_attrs.termCharEnabled
                      : attribute == VI_ATTR_SEND_END_EN   ? m_attrs.sendEndEnabled
                      : attribute == VI_ATTR_SUPPRESS_END_EN ? m_attrs.suppressEndEnabled
                                                             : m_attrs.fileAppendEnabled;
        field = isOn(value);
        return VI_SUCCESS;
    }
    case VI_ATTR_IO_PROT:
        if (value != VI_PROT_NORMAL && !(socket && value == VI_PROT_4882_STRS))
            return VI_ERROR_NSUP_ATTR_STATE;
        m_attrs.ioProtocol = static_cast<uint16_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_RD_BUF_OPER_MODE:
        if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_DISABLE)
            return VI_ERROR_NSUP_ATTR_STATE;
        m_attrs.readBufferMode = static_cast<uint16_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_WR_BUF_OPER_MODE:
        if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_WHEN_FULL)
            return VI_ERROR_NSUP_ATTR_STATE;
        m_attrs.writeBufferMode = static_cast<uint16_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_NODELAY:
    case VI_ATTR_TCPIP_KEEPALIVE: {
        if (!socket)
            return VI_ERROR_NSUP_ATTR;
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        const bool nodelay = attribute == VI_ATTR_TCPIP_NODELAY;
        const ViStatus st = nodelay ? m_transport->setNoDelay(isOn(value)) : m_transport->setKeepAlive(isOn(value));
        if (st == VI_SUCCESS)
            (nodelay ? m_attrs.tcpNoDelay : m_attrs.tcpKeepAlive) = isOn(value);
        return st;
    }
    case VI_ATTR_USER_DATA:
        m_attrs.userData = value;
        return VI_SUCCESS;
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_MANF_ID:
    case VI_ATTR_RD_BUF_SIZE:
    case VI_ATTR_WR_BUF_SIZE:
    case VI_ATTR_RM_SESSION:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_INTF_INST_NAME:
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME:
        return VI_ERROR_ATTR_READONLY;
    case VI_ATTR_TCPIP_PORT:
        return socket ? VI_ERROR_ATTR_READONLY : VI_ERROR_NSUP_ATTR;
    case VI_ATTR_TCPIP_DEVICE_NAME:
    case VI_ATTR_4882_COMPLIANT:
    case VI_ATTR_TCPIP_IS_HISLIP:
        return socket ? VI_ERROR_NSUP_ATTR : VI_ERROR_ATTR_READONLY;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus Session::getAttribute(ViAttr attribute, void *value)
{
    const bool socket = m_name.kind == ResourceKind::Socket;
    const SessionAttributes a = snapshot();
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        putValue<ViUInt32>(value, a.timeoutMs);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        putValue<ViUInt8>(value, a.termChar);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        putBoolean(value, a.termCharEnabled);
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN:
        putBoolean(value, a.sendEndEnabled);
        return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
        putBoolean(value, a.suppressEndEnabled);
        return VI_SUCCESS;
    case VI_ATTR_FILE_APPEND_EN:
        putBoolean(value, a.fileAppendEnabled);
        return VI_SUCCESS;
    case VI_ATTR_IO_PROT:
        putValue<ViUInt16>(value, a.ioProtocol);
        return VI_SUCCESS;
    case VI_ATTR_RD_BUF_OPER_MODE:
        putValue<ViUInt16>(value, a.readBufferMode);
        return VI_SUCCESS;
    case VI_ATTR_WR_BUF_OPER_MODE:
        putValue<ViUInt16>(value, a.writeBufferMode);
        return VI_SUCCESS;
    case VI_ATTR_RD_BUF_SIZE:
        putValue<ViUInt32>(value, a.readBufferSize);
        return VI_SUCCESS;
    case VI_ATTR_WR_BUF_SIZE:
        putValue<ViUInt32>(value, a.writeBufferSize);
        return VI_SUCCESS;
    case VI_ATTR_USER_DATA:
        putValue<ViUInt64>(value, a.userData);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_CLASS:
        putString(value, m_name.resourceClass());
        return VI_SUCCESS;
    case VI_ATTR_RSRC_NAME:
        putString(value, m_name.canonical());
        return VI_SUCCESS;
    case VI_ATTR_RSRC_IMPL_VERSION:
        putValue<ViVersion>(value, kImplementationVersion);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_SPEC_VERSION:
        putValue<ViVersion>(value, static_cast<ViVersion>(VI_SPEC_VERSION));
        return VI_SUCCESS;
    case VI_ATTR_RSRC_LOCK_STATE:
        putValue<ViAccessMode>(value, m_exclusiveLock ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_NAME:
        putString(value, kManufacturerName);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_ID:
        putValue<ViUInt16>(value, 0);
        return VI_SUCCESS;
    case VI_ATTR_RM_SESSION:
        putValue<ViSession>(value, m_rm);
        return VI_SUCCESS;
    case VI_ATTR_INTF_TYPE:
        putValue<ViUInt16>(value, VI_INTF_TCPIP);
        return VI_SUCCESS;
    case VI_ATTR_INTF_NUM:
        putValue<ViUInt16>(value, m_name.board);
        return VI_SUCCESS;
    case VI_ATTR_INTF_INST_NAME:
        putString(value, kInterfaceName + std::to_string(m_name.board));
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_ADDR:
        putString(value, m_transport->peerAddress());
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_HOSTNAME:
        putString(value, isDottedIpv4(m_name.host) ? std::string() : m_name.host);
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_PORT:
        if (!socket)
            return VI_ERROR_NSUP_ATTR;
        putValue<ViUInt16>(value, m_name.port);
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_NODELAY:
    case VI_ATTR_TCPIP_KEEPALIVE:
        if (!socket)
            return VI_ERROR_NSUP_ATTR;
        putBoolean(value, attribute == VI_ATTR_TCPIP_NODELAY ? a.tcpNoDelay : a.tcpKeepAlive);
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_DEVICE_NAME:
        if (socket)
            return VI_ERROR_NSUP_ATTR;
        putString(value, m_name.deviceName);
        return VI_SUCCESS;
    case VI_ATTR_4882_COMPLIANT:
        if (socket)
            return VI_ERROR_NSUP_ATTR;
        putBoolean(value, true);
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_IS_HISLIP:
        if (socket)
            return VI_ERROR_NSUP_ATTR;
        putBoolean(value, false);
        return VI_SUCCESS;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

} // namespace lanvisa
