#include "session.h"

#include "hisliptransport.h"
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
constexpr uint16_t kAllFlushBits = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD | VI_WRITE_BUF_DISCARD
                                   | VI_IO_IN_BUF | VI_IO_OUT_BUF | VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
constexpr uint16_t kAllSetBufBits = VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF;
constexpr mode_t kNewFileMode = 0666;

ViStatus writeAllToFile(int fd, const uint8_t* data, size_t n)
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

}  // namespace

std::unique_ptr<Transport> makeTransport(const ResourceName& name)
{
    switch (name.kind) {
    case ResourceKind::Vxi11:
        return std::make_unique<Vxi11Transport>(name);
    case ResourceKind::Socket:
        return std::make_unique<SocketTransport>(name);
    case ResourceKind::HiSlip:
        break;
    }
    return std::make_unique<HislipTransport>(name);
}

Session::Session(ViSession rm, const ResourceName& name, std::unique_ptr<Transport> transport)
    : m_rm(rm), m_name(name), m_transport(std::move(transport))
{
    const ReadDefaults defaults = m_transport->readDefaults();
    m_attrs.termCharEnabled = defaults.termCharEnabled;
    m_attrs.suppressEndEnabled = defaults.suppressEndEnabled;
}

Session::~Session()
{
    close();
}

ViStatus Session::open(uint32_t openTimeoutMs, bool exclusiveLock)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    // 0 would make every open fail at once; treat it as "no particular budget".
    const Deadline deadline = Deadline::afterMs(openTimeoutMs == 0 ? kDefaultTimeoutMs : openTimeoutMs);
    const ViStatus st = m_transport->open(deadline, exclusiveLock);
    m_open = st == VI_SUCCESS;
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

ReadRules Session::readRules(const SessionAttributes& a) const
{
    ReadRules rules;
    rules.termCharEnabled = a.termCharEnabled;
    rules.termChar = a.termChar;
    rules.endOnPause = !m_transport->hasEnd() && !a.suppressEndEnabled;
    return rules;
}

ViStatus Session::readInto(uint8_t* buf, size_t count, const SessionAttributes& a, const Deadline& deadline,
                           size_t& got)
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
            return VI_ERROR_TMO;  // a server that answers with empty chunks forever
    }
}

ViStatus Session::write(const uint8_t* buf, size_t count, size_t& written)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return m_transport->write(buf, count, a.sendEndEnabled, Deadline::afterMs(a.timeoutMs), written);
}

ViStatus Session::read(uint8_t* buf, size_t count, size_t& got)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return readInto(buf, count, a, Deadline::afterMs(a.timeoutMs), got);
}

ViStatus Session::readToFile(const char* fileName, size_t count, size_t& got)
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

ViStatus Session::flushWriteBuffer(size_t bytes, bool end, const Deadline& deadline)
{
    bytes = std::min(bytes, m_writeBuffer.size());
    size_t written = 0;
    const ViStatus st =
        m_transport->write(reinterpret_cast<const uint8_t*>(m_writeBuffer.data()), bytes, end, deadline, written);
    if (st != VI_SUCCESS) {
        m_writeBuffer.clear();  // a half-sent message must not be completed later
        return st;
    }
    m_writeBuffer.erase(0, bytes);
    return VI_SUCCESS;
}

ViStatus Session::bufferFormatted(const char* format, VaArgs& args, const SessionAttributes& a,
                                  const Deadline& deadline)
{
    // A full buffer goes out without END; its last byte stays so END can still
    // go with the true last byte of the message. Flushing as the text grows
    // keeps memory bounded, and the deadline holds however long the format is.
    bool sentSome = false;
    const auto sendSurplus = [&](std::string&) -> ViStatus {
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

ViStatus Session::printf(const char* format, VaArgs& args)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    const Deadline deadline = Deadline::afterMs(a.timeoutMs);
    ViStatus st = bufferFormatted(format, args, a, deadline);
    if (st == VI_SUCCESS && a.writeBufferMode == VI_FLUSH_ON_ACCESS && !m_writeBuffer.empty())
        st = flushWriteBuffer(m_writeBuffer.size(), a.sendEndEnabled, deadline);
    return st;
}

ViStatus Session::scanMessage(const char* format, VaArgs& args, const SessionAttributes& a, const Deadline& deadline)
{
    const size_t chunk = std::max<uint32_t>(1, a.readBufferSize);
    ScanInput in([&](std::vector<uint8_t>& out, bool& ended) {
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

ViStatus Session::scanf(const char* format, VaArgs& args)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    return scanMessage(format, args, a, Deadline::afterMs(a.timeoutMs));
}

ViStatus Session::queryf(const char* writeFormat, const char* readFormat, VaArgs& args)
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
            const ViStatus st = flushWriteBuffer(m_writeBuffer.size() - 1, false, Deadline::afterMs(m_attrs.timeoutMs));
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

ViStatus Session::readStb(uint16_t& status)
{
    std::lock_guard<std::mutex> io(m_ioMutex);
    const SessionAttributes a = snapshot();
    uint8_t stb = 0;
    const ViStatus st = m_transport->readStb(Deadline::afterMs(a.timeoutMs), a.ioProtocol, stb);
    if (st == VI_SUCCESS)
        status = stb;
    return st;
}

ViStatus Session::gpibControlRen(uint16_t mode)
{
    if (mode > kMaxRenMode)
        return VI_ERROR_INV_MODE;
    std::lock_guard<std::mutex> io(m_ioMutex);
    return m_transport->gpibControlRen(mode, Deadline::afterMs(snapshot().timeoutMs));
}

ViStatus Session::setAttribute(ViAttr attribute, ViAttrState value)
{
    std::lock_guard<std::mutex> lock(m_attrMutex);
    return setSessionAttribute(attribute, value, m_attrs, source());
}

ViStatus Session::getAttribute(ViAttr attribute, void* value)
{
    return getSessionAttribute(attribute, snapshot(), source(), value);
}

}  // namespace lanvisa
