// Session attributes: the values a session keeps, and one table that says for
// every attribute id which resources have it, its type, how it is read and
// whether (and how) it may be set.
#pragma once

#include "rsrcname.h"
#include "transport.h"
#include "visa.h"

#include <cstdint>

namespace lanvisa {

constexpr uint32_t kDefaultTimeoutMs = 2000;
constexpr uint32_t kDefaultFormatBufferSize = 4096;
constexpr ViVersion kImplementationVersion = 0x00100000;  // 1.0.0
constexpr char kManufacturerName[] = "Quarnel LAN VISA";

/// The attributes a session keeps (VISA defaults; a transport may change the
/// read defaults, see Transport::readDefaults).
struct SessionAttributes
{
    uint32_t timeoutMs = kDefaultTimeoutMs;
    uint8_t termChar = '\n';
    bool termCharEnabled = false;
    bool sendEndEnabled = true;
    bool suppressEndEnabled = false;
    bool fileAppendEnabled = false;
    bool tcpNoDelay = true;
    bool tcpKeepAlive = false;
    uint16_t ioProtocol = VI_PROT_NORMAL;
    uint16_t readBufferMode = VI_FLUSH_DISABLE;
    uint16_t writeBufferMode = VI_FLUSH_WHEN_FULL;
    uint32_t readBufferSize = kDefaultFormatBufferSize;
    uint32_t writeBufferSize = kDefaultFormatBufferSize;
    uint64_t userData = 0;
};

/// What reading an attribute may look at besides the stored values.
struct AttributeSource
{
    ViSession rm;
    const ResourceName& name;
    Transport& transport;
};

/// Writes the attribute's value to `out` (in the attribute's own size).
ViStatus getSessionAttribute(ViAttr id, const SessionAttributes& values, const AttributeSource& source, void* out);
/// Checks and stores a new value; the caller holds the lock on `values`.
ViStatus setSessionAttribute(ViAttr id, ViAttrState value, SessionAttributes& values, const AttributeSource& source);

}  // namespace lanvisa
