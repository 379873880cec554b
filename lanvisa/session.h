// One instrument session: its attributes, its transport and the VISA
// operations on it. Operations on one session are serialised by its own
// mutex; attributes have a separate lock so they can be read while I/O waits.
#pragma once

#include "attributes.h"
#include "deadline.h"
#include "formatio.h"
#include "rsrcname.h"
#include "transport.h"
#include "visa.h"

#include <memory>
#include <mutex>
#include <string>

namespace lanvisa {

/// Largest formatted buffer viSetBuf accepts.
constexpr uint32_t kMaxFormatBufferSize = 16 * 1024 * 1024;
/// Chunk used by viReadToFile: its memory stays this small whatever the count.
constexpr size_t kFileChunkSize = 1024 * 1024;

class Session
{
public:
    Session(ViSession rm, const ResourceName& name, std::unique_ptr<Transport> transport);
    ~Session();

    /// Connects within openTimeoutMs.
    ViStatus open(uint32_t openTimeoutMs, bool exclusiveLock);
    /// Waits for a running operation, then releases the link.
    void close();

    ViStatus write(const uint8_t* buf, size_t count, size_t& written);
    ViStatus read(uint8_t* buf, size_t count, size_t& got);
    ViStatus readToFile(const char* fileName, size_t count, size_t& got);
    ViStatus printf(const char* format, VaArgs& args);
    ViStatus scanf(const char* format, VaArgs& args);
    ViStatus queryf(const char* writeFormat, const char* readFormat, VaArgs& args);
    ViStatus flush(uint16_t mask);
    ViStatus setBuf(uint16_t mask, uint32_t size);
    ViStatus clear();
    ViStatus readStb(uint16_t& status);
    ViStatus gpibControlRen(uint16_t mode);
    ViStatus setAttribute(ViAttr attribute, ViAttrState value);
    ViStatus getAttribute(ViAttr attribute, void* value);

    ViSession resourceManager() const { return m_rm; }
    void setHandle(ViSession vi) { m_handle = vi; }

private:
    SessionAttributes snapshot() const;
    ReadRules readRules(const SessionAttributes& a) const;
    /// The viRead loop: count bytes, END, termination character, deadline.
    ViStatus readInto(uint8_t* buf, size_t count, const SessionAttributes& a, const Deadline& deadline, size_t& got);
    ViStatus flushWriteBuffer(size_t bytes, bool end, const Deadline& deadline);
    ViStatus bufferFormatted(const char* format, VaArgs& args, const SessionAttributes& a, const Deadline& deadline);
    ViStatus scanMessage(const char* format, VaArgs& args, const SessionAttributes& a, const Deadline& deadline);
    AttributeSource source() const { return AttributeSource{m_rm, m_name, *m_transport}; }

    const ViSession m_rm;
    ViSession m_handle = VI_NULL;
    const ResourceName m_name;
    std::unique_ptr<Transport> m_transport;
    bool m_open = false;

    std::mutex m_ioMutex;            ///< one operation at a time
    mutable std::mutex m_attrMutex;  ///< guards m_attrs
    SessionAttributes m_attrs;
    std::string m_writeBuffer;  ///< viPrintf data not yet sent (under m_ioMutex)
};

/// Transport for a parsed resource name.
std::unique_ptr<Transport> makeTransport(const ResourceName& name);

}  // namespace lanvisa
