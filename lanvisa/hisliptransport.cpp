#include "hisliptransport.h"

#include "resolver.h"

#include <algorithm>

namespace lanvisa {

namespace hs = quarnel::protocol::hislip;

namespace {
constexpr char kVendorId[2] = {'Q', 'L'};
/// VISA version form of a HiSLIP version: major in bits 20.., minor in bits 8..
constexpr int kVisaMajorShift = 20;
constexpr int kVisaMinorShift = 8;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint64_t kBytesPerKb = 1024;

/// Open failures: anything but a time-out or a busy server means "no HiSLIP service here".
ViStatus openStatus(ViStatus st)
{
    return (st == VI_ERROR_TMO || st == VI_ERROR_RSRC_BUSY || st == VI_ERROR_RSRC_LOCKED || st == VI_ERROR_SYSTEM_ERROR)
               ? st
               : VI_ERROR_RSRC_NFOUND;
}
}  // namespace

ViStatus statusFromHislipError(uint8_t code)
{
    switch (code) {
    case hs::kErrorUnrecognizedType:
    case hs::kErrorUnrecognizedControl:
    case hs::kErrorUnrecognizedVendorType:
        return VI_ERROR_NSUP_OPER;
    default:
        return VI_ERROR_IO;
    }
}

HislipTransport::HislipTransport(const ResourceName& name) : m_name(name)
{
}

HislipTransport::~HislipTransport()
{
    close();
}

void HislipTransport::fail()
{
    m_sync.close();
    m_async.close();
    m_open = false;
    m_locked = false;
    m_inData = false;
}

uint8_t HislipTransport::takeRmtDelivered()
{
    const uint8_t bit = m_rmtDelivered ? hs::kRmtDelivered : 0;
    m_rmtDelivered = false;
    return bit;
}

ViStatus HislipTransport::open(const Deadline& deadline, bool exclusiveLock)
{
    std::vector<in_addr> addresses;
    ViStatus st = resolveIpv4(m_name.host, deadline, addresses);
    if (st == VI_SUCCESS)
        st = m_sync.connection().connect(addresses, m_name.port, deadline);
    if (st == VI_SUCCESS)
        st = initialize(deadline);
    if (st == VI_SUCCESS)
        st = m_async.connection().connect(addresses, m_name.port, deadline);
    if (st == VI_SUCCESS)
        st = setUpAsync(deadline, exclusiveLock);
    if (st != VI_SUCCESS) {
        fail();
        return openStatus(st);
    }
    return VI_SUCCESS;
}

ViStatus HislipTransport::openOver(int syncFd, int asyncFd, const Deadline& deadline)
{
    m_sync.connection().adopt(syncFd);
    m_async.connection().adopt(asyncFd);
    ViStatus st = initialize(deadline);
    if (st == VI_SUCCESS)
        st = setUpAsync(deadline, false);
    if (st != VI_SUCCESS)
        fail();
    return st;
}

ViStatus HislipTransport::setUpAsync(const Deadline& deadline, bool exclusiveLock)
{
    m_sync.connection().setNoDelay(true);
    m_async.connection().setNoDelay(true);
    m_open = true;
    hs::Header h;
    ViStatus st =
        asyncExchange(hs::Type::AsyncInitialize, 0, m_sessionId, {}, hs::Type::AsyncInitializeResponse, deadline, h);
    std::string size;
    if (st == VI_SUCCESS)
        st = asyncExchange(hs::Type::AsyncMaximumMessageSize, 0, 0, hs::encodeMaximumSize(kClientMaxMessageSize),
                           hs::Type::AsyncMaximumMessageSizeResponse, deadline, h, &size);
    uint64_t serverMax = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(size.data());
    // The maximum counts the header; a server too small for any payload is no server.
    if (st == VI_SUCCESS
        && (!hs::decodeMaximumSize(quarnel::protocol::ByteView(bytes, size.size()), serverMax)
            || serverMax <= hs::kHeaderSize))
        st = VI_ERROR_IO;
    if (st == VI_SUCCESS)
        m_maxPayload = serverMax - hs::kHeaderSize;
    if (st == VI_SUCCESS && exclusiveLock) {
        // The server's lock wait runs out first; its answer gets a grace period.
        st = asyncExchange(hs::Type::AsyncLock, hs::kLockRequest, deadline.remainingMs(), {},
                           hs::Type::AsyncLockResponse, deadline.extendedBy(kReplyGraceMs), h);
        if (st == VI_SUCCESS && h.control != hs::kLockSuccess)
            st = h.control == hs::kLockFailure ? VI_ERROR_RSRC_LOCKED : VI_ERROR_IO;
        m_locked = st == VI_SUCCESS;
    }
    return st;
}

ViStatus HislipTransport::initialize(const Deadline& deadline)
{
    const std::string& sub = m_name.deviceName;
    ViStatus st = m_sync.send(hs::Type::Initialize, 0, hs::initializeParameter(kClientVersion, kVendorId),
                              reinterpret_cast<const uint8_t*>(sub.data()), sub.size(), deadline);
    hs::Header h;
    if (st == VI_SUCCESS)
        st = m_sync.readHeader(h, deadline);
    if (st != VI_SUCCESS)
        return st;
    std::string text;
    st = m_sync.readPayload(h.length, HislipChannel::kMaxTextPayload, text, deadline);
    if (st != VI_SUCCESS)
        return st;
    switch (static_cast<hs::Type>(h.type)) {
    case hs::Type::InitializeResponse:
        m_version = hs::negotiatedVersion(kClientVersion, hs::versionOf(h.parameter));
        m_sessionId = hs::sessionIdOf(h.parameter);
        return VI_SUCCESS;
    case hs::Type::FatalError:
        return h.control == hs::kFatalTooManyClients ? VI_ERROR_RSRC_BUSY : VI_ERROR_RSRC_NFOUND;
    default:
        return VI_ERROR_RSRC_NFOUND;
    }
}

void HislipTransport::close()
{
    if (m_locked && m_async.usable()) {
        hs::Header h;
        asyncExchange(hs::Type::AsyncLock, hs::kLockRelease, m_lastMessageId, {}, hs::Type::AsyncLockResponse,
                      Deadline::afterMs(kCloseTimeoutMs), h);
    }
    fail();
}

LinkInfo HislipTransport::info() const
{
    LinkInfo i;
    i.exclusiveLock = m_locked;
    i.hislipVersion =
        (ViVersion(m_version >> 8) << kVisaMajorShift) | (ViVersion(m_version & kByteMask) << kVisaMinorShift);
    i.maxMessageKb = static_cast<uint32_t>(kClientMaxMessageSize / kBytesPerKb);
    return i;
}

ViStatus HislipTransport::unexpected(HislipChannel& channel, const hs::Header& h, const Deadline& deadline)
{
    std::string text;
    const ViStatus st = channel.readPayload(h.length, HislipChannel::kMaxTextPayload, text, deadline);
    if (h.type == static_cast<uint8_t>(hs::Type::FatalError)) {
        fail();  // the server closes the connection after it
        return VI_ERROR_IO;
    }
    if (st != VI_SUCCESS)
        return st;
    if (h.type == static_cast<uint8_t>(hs::Type::Error))
        return statusFromHislipError(h.control);
    if (h.type > hs::kLastBaseType) {
        // What a strict peer does with a type it does not know; the link goes on.
        const uint8_t code =
            h.type >= hs::kFirstVendorType ? hs::kErrorUnrecognizedVendorType : hs::kErrorUnrecognizedType;
        return channel.send(hs::Type::Error, code, 0, deadline);
    }
    return VI_SUCCESS;  // Interrupted, a service request, a reply given up on
}

ViStatus HislipTransport::asyncExchange(hs::Type request, uint8_t control, uint32_t parameter,
                                        const std::vector<uint8_t>& payload, hs::Type expected,
                                        const Deadline& deadline, hs::Header& response, std::string* responsePayload)
{
    if (!m_open)
        return VI_ERROR_CONN_LOST;
    ViStatus st = m_async.send(request, control, parameter, payload.data(), payload.size(), deadline);
    if (st != VI_SUCCESS)
        return st;
    const uint8_t want = static_cast<uint8_t>(expected);
    while (true) {
        st = deadline.expired() ? VI_ERROR_TMO : m_async.readHeader(response, deadline);
        if (st == VI_ERROR_TMO && m_lateAsync[want] < UINT8_MAX)
            ++m_lateAsync[want];
        if (st != VI_SUCCESS)
            return checked(m_async, st);
        if (response.type == want && m_lateAsync[want] > 0) {
            --m_lateAsync[want];  // the answer to a request given up on
            st = m_async.skipPayload(response.length, deadline);
        } else if (response.type == want) {
            std::string ignored;
            return m_async.readPayload(response.length, HislipChannel::kMaxTextPayload,
                                       responsePayload ? *responsePayload : ignored, deadline);
        } else {
            st = unexpected(m_async, response, deadline);
        }
        if (st != VI_SUCCESS)
            return checked(m_async, st);
    }
}

ViStatus HislipTransport::checked(HislipChannel& channel, ViStatus st)
{
    if (channel.usable() || !m_open)
        return st;
    // A malformed header or a lost connection: tell the server where it can
    // still hear it, and end the link.
    if (channel.connection().isOpen() && !channel.connection().broken()) {
        const std::vector<uint8_t> fatal = hs::encodeMessage(hs::Type::FatalError, hs::kFatalBadHeader, 0);
        channel.connection().sendAll(fatal.data(), fatal.size(), Deadline::afterMs(kCloseTimeoutMs));
    }
    fail();
    return st;
}

ChunkResult HislipTransport::checked(HislipChannel& channel, ChunkResult result)
{
    result.status = checked(channel, result.status);
    return result;
}

ViStatus HislipTransport::write(const uint8_t* data, size_t size, bool end, const Deadline& deadline, size_t& written)
{
    written = 0;
    if (!m_open)
        return VI_ERROR_CONN_LOST;
    do {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size - written, m_maxPayload));
        const bool last = written + chunk == size;
        const hs::Type type = last && end ? hs::Type::DataEnd : hs::Type::Data;
        const uint8_t control = takeRmtDelivered();
        const ViStatus st = m_sync.send(type, control, m_nextMessageId, data + written, chunk, deadline);
        if (st != VI_SUCCESS) {
            m_rmtDelivered = m_rmtDelivered || control != 0;
            return st;
        }
        m_lastMessageId = m_nextMessageId;
        m_nextMessageId = hs::nextMessageId(m_nextMessageId);
        written += chunk;
    } while (written < size);
    return VI_SUCCESS;
}

ChunkResult HislipTransport::readChunk(uint8_t* buf, size_t max, const ReadRules& rules, const Deadline& deadline)
{
    if (!m_open)
        return ChunkResult::failed(VI_ERROR_CONN_LOST);
    ChunkResult result;
    if (m_inData && m_dataMessageId != m_lastMessageId && m_dataMessageId != hs::kUnknownMessageId) {
        m_sync.addSkip(m_dataLeft);  // a reply to a request sent before the last one
        m_inData = false;
    }
    while (!m_inData || m_dataLeft == 0) {
        if (m_inData && m_dataEnd) {
            // An empty DataEND: END without data.
            m_inData = false;
            m_rmtDelivered = true;
            result.end = true;
            return result;
        }
        m_inData = false;
        hs::Header h;
        result.status = deadline.expired() ? VI_ERROR_TMO : m_sync.readHeader(h, deadline);
        if (result.status != VI_SUCCESS)
            return checked(m_sync, result);
        const bool data =
            h.type == static_cast<uint8_t>(hs::Type::Data) || h.type == static_cast<uint8_t>(hs::Type::DataEnd);
        if (data && (h.parameter == m_lastMessageId || h.parameter == hs::kUnknownMessageId)) {
            m_inData = true;
            m_dataEnd = h.type == static_cast<uint8_t>(hs::Type::DataEnd);
            m_dataMessageId = h.parameter;
            m_dataLeft = h.length;
            continue;
        }
        // A reply to a request given up on, or a message that is no data.
        result.status = data ? m_sync.skipPayload(h.length, deadline) : unexpected(m_sync, h, deadline);
        if (result.status != VI_SUCCESS)
            return checked(m_sync, result);
    }
    if (max == 0)
        return result;
    size_t got = 0;
    result.status =
        m_sync.connection().readSome(buf, static_cast<size_t>(std::min<uint64_t>(max, m_dataLeft)), deadline, got);
    if (result.status != VI_SUCCESS)
        return checked(m_sync, result);
    if (rules.termCharEnabled) {
        const uint8_t* hit = std::find(buf, buf + got, rules.termChar);
        if (hit != buf + got) {
            const size_t keep = static_cast<size_t>(hit - buf) + 1;
            m_sync.connection().unread(buf + keep, got - keep);
            got = keep;
            result.termChar = true;
        }
    }
    m_dataLeft -= got;
    result.count = got;
    if (m_dataLeft == 0 && m_dataEnd) {
        m_inData = false;
        m_rmtDelivered = true;
        result.end = true;
    }
    return result;
}

ViStatus HislipTransport::clear(const Deadline& deadline)
{
    if (!m_open)
        return VI_ERROR_CONN_LOST;
    if (m_inData)
        m_sync.addSkip(m_dataLeft);  // the rest of a reply nobody will read
    m_inData = false;
    hs::Header h;
    ViStatus st =
        asyncExchange(hs::Type::AsyncDeviceClear, 0, 0, {}, hs::Type::AsyncDeviceClearAcknowledge, deadline, h);
    if (st == VI_SUCCESS)
        st = m_sync.send(hs::Type::DeviceClearComplete, 0, 0, deadline);  // synchronized mode wanted
    // Everything on the synchronous channel up to the acknowledgement belongs to before the clear.
    while (st == VI_SUCCESS) {
        st = deadline.expired() ? VI_ERROR_TMO : m_sync.readHeader(h, deadline);
        if (st != VI_SUCCESS)
            break;
        const hs::Type type = static_cast<hs::Type>(h.type);
        if (type == hs::Type::DeviceClearAcknowledge || type == hs::Type::Data || type == hs::Type::DataEnd
            || type == hs::Type::Interrupted)
            st = m_sync.skipPayload(h.length, deadline);
        else
            st = unexpected(m_sync, h, deadline);
        if (type == hs::Type::DeviceClearAcknowledge && st == VI_SUCCESS)
            break;
    }
    if (st != VI_SUCCESS)
        return st;
    m_nextMessageId = hs::kFirstMessageId;
    m_lastMessageId = hs::kFirstMessageId - hs::kMessageIdStep;
    m_rmtDelivered = false;
    return VI_SUCCESS;
}

ViStatus HislipTransport::readStb(const Deadline& deadline, uint16_t, uint8_t& stb)
{
    hs::Header h;
    const uint8_t rmt = takeRmtDelivered();
    const ViStatus st =
        asyncExchange(hs::Type::AsyncStatusQuery, rmt, m_lastMessageId, {}, hs::Type::AsyncStatusResponse, deadline, h);
    if (st != VI_SUCCESS) {
        m_rmtDelivered = m_rmtDelivered || rmt != 0;
        return st;
    }
    stb = h.control;
    return VI_SUCCESS;
}

ViStatus HislipTransport::gpibControlRen(uint16_t mode, const Deadline& deadline)
{
    if (mode > hs::kMaxRemoteLocalCode)
        return VI_ERROR_INV_MODE;
    hs::Header h;
    return asyncExchange(hs::Type::AsyncRemoteLocalControl, static_cast<uint8_t>(mode), m_lastMessageId, {},
                         hs::Type::AsyncRemoteLocalResponse, deadline, h);
}

}  // namespace lanvisa
