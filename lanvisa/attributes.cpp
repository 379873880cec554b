#include "attributes.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace lanvisa {

namespace {

constexpr uint32_t kMaxUint8 = 0xFF;
constexpr uint32_t kMaxUint16 = 0xFFFF;
constexpr size_t kMaxStringAttribute = VI_FIND_BUFLEN;  // bytes incl. the NUL
constexpr char kInterfaceName[] = "TCPIP";

enum class Type { Boolean, U8, U16, U32, U64, Text };

/// Resource kinds an attribute applies to.
enum Kinds : uint8_t { kVxi11 = 1, kHislip = 2, kSocket = 4, kInstr = kVxi11 | kHislip, kAny = 7 };

uint8_t kindBit(ResourceKind k)
{
    switch (k) {
    case ResourceKind::Vxi11:
        return kVxi11;
    case ResourceKind::HiSlip:
        return kHislip;
    case ResourceKind::Socket:
        break;
    }
    return kSocket;
}

using Source = AttributeSource;
using Values = SessionAttributes;
using Getter = uint64_t (*)(const Values&, const Source&);
using TextGetter = std::string (*)(const Values&, const Source&);
using Setter = ViStatus (*)(Values&, const Source&, ViAttrState);

struct Row
{
    ViAttr id;
    uint8_t kinds;
    Type type;
    Getter get;       ///< numbers and booleans
    TextGetter text;  ///< strings
    Setter set;       ///< nullptr: read-only
};

bool isBoolean(ViAttrState v)
{
    return v == VI_FALSE || v == VI_TRUE;
}

template <class T, T Values::*F>
uint64_t field(const Values& v, const Source&)
{
    return static_cast<uint64_t>(v.*F);
}

template <bool Values::*F>
ViStatus setFlag(Values& v, const Source&, ViAttrState value)
{
    if (!isBoolean(value))
        return VI_ERROR_NSUP_ATTR_STATE;
    v.*F = value == VI_TRUE;
    return VI_SUCCESS;
}

template <uint16_t Values::*F, uint16_t A, uint16_t B>
ViStatus setOneOf(Values& v, const Source&, ViAttrState value)
{
    if (value != A && value != B)
        return VI_ERROR_NSUP_ATTR_STATE;
    v.*F = static_cast<uint16_t>(value);
    return VI_SUCCESS;
}

template <bool Values::*F, ViStatus (Transport::*Apply)(bool)>
ViStatus setSocketOption(Values& v, const Source& s, ViAttrState value)
{
    if (!isBoolean(value))
        return VI_ERROR_NSUP_ATTR_STATE;
    const ViStatus st = (s.transport.*Apply)(value == VI_TRUE);
    if (st == VI_SUCCESS)
        v.*F = value == VI_TRUE;
    return st;
}

template <uint64_t N>
uint64_t constant(const Values&, const Source&)
{
    return N;
}

const Row kRows[] = {
    {VI_ATTR_TMO_VALUE, kAny, Type::U32, field<uint32_t, &Values::timeoutMs>, nullptr,
     [](Values& v, const Source&, ViAttrState value) -> ViStatus {
         if (value > VI_TMO_INFINITE)
             return VI_ERROR_NSUP_ATTR_STATE;
         v.timeoutMs = static_cast<uint32_t>(value);
         return VI_SUCCESS;
     }},
    {VI_ATTR_TERMCHAR, kAny, Type::U8, field<uint8_t, &Values::termChar>, nullptr,
     [](Values& v, const Source&, ViAttrState value) -> ViStatus {
         if (value > kMaxUint8)
             return VI_ERROR_NSUP_ATTR_STATE;
         v.termChar = static_cast<uint8_t>(value);
         return VI_SUCCESS;
     }},
    {VI_ATTR_TERMCHAR_EN, kAny, Type::Boolean, field<bool, &Values::termCharEnabled>, nullptr,
     setFlag<&Values::termCharEnabled>},
    {VI_ATTR_SEND_END_EN, kAny, Type::Boolean, field<bool, &Values::sendEndEnabled>, nullptr,
     setFlag<&Values::sendEndEnabled>},
    {VI_ATTR_SUPPRESS_END_EN, kAny, Type::Boolean, field<bool, &Values::suppressEndEnabled>, nullptr,
     setFlag<&Values::suppressEndEnabled>},
    {VI_ATTR_FILE_APPEND_EN, kAny, Type::Boolean, field<bool, &Values::fileAppendEnabled>, nullptr,
     setFlag<&Values::fileAppendEnabled>},
    {VI_ATTR_IO_PROT, kAny, Type::U16, field<uint16_t, &Values::ioProtocol>, nullptr,
     [](Values& v, const Source& s, ViAttrState value) -> ViStatus {
         if (value > kMaxUint16 || !s.transport.acceptsIoProtocol(static_cast<uint16_t>(value)))
             return VI_ERROR_NSUP_ATTR_STATE;
         v.ioProtocol = static_cast<uint16_t>(value);
         return VI_SUCCESS;
     }},
    {VI_ATTR_RD_BUF_OPER_MODE, kAny, Type::U16, field<uint16_t, &Values::readBufferMode>, nullptr,
     setOneOf<&Values::readBufferMode, VI_FLUSH_ON_ACCESS, VI_FLUSH_DISABLE>},
    {VI_ATTR_WR_BUF_OPER_MODE, kAny, Type::U16, field<uint16_t, &Values::writeBufferMode>, nullptr,
     setOneOf<&Values::writeBufferMode, VI_FLUSH_ON_ACCESS, VI_FLUSH_WHEN_FULL>},
    {VI_ATTR_RD_BUF_SIZE, kAny, Type::U32, field<uint32_t, &Values::readBufferSize>, nullptr, nullptr},
    {VI_ATTR_WR_BUF_SIZE, kAny, Type::U32, field<uint32_t, &Values::writeBufferSize>, nullptr, nullptr},
    {VI_ATTR_USER_DATA, kAny, Type::U64, field<uint64_t, &Values::userData>, nullptr,
     [](Values& v, const Source&, ViAttrState value) -> ViStatus {
         v.userData = value;
         return VI_SUCCESS;
     }},
    {VI_ATTR_TCPIP_NODELAY, kSocket, Type::Boolean, field<bool, &Values::tcpNoDelay>, nullptr,
     setSocketOption<&Values::tcpNoDelay, &Transport::setNoDelay>},
    {VI_ATTR_TCPIP_KEEPALIVE, kSocket, Type::Boolean, field<bool, &Values::tcpKeepAlive>, nullptr,
     setSocketOption<&Values::tcpKeepAlive, &Transport::setKeepAlive>},
    {VI_ATTR_RSRC_CLASS, kAny, Type::Text, nullptr,
     [](const Values&, const Source& s) { return std::string(s.name.resourceClass()); }, nullptr},
    {VI_ATTR_RSRC_NAME, kAny, Type::Text, nullptr, [](const Values&, const Source& s) { return s.name.canonical(); },
     nullptr},
    {VI_ATTR_RSRC_IMPL_VERSION, kAny, Type::U32, constant<kImplementationVersion>, nullptr, nullptr},
    {VI_ATTR_RSRC_SPEC_VERSION, kAny, Type::U32, constant<VI_SPEC_VERSION>, nullptr, nullptr},
    {VI_ATTR_RSRC_LOCK_STATE, kAny, Type::U32,
     [](const Values&, const Source& s) -> uint64_t {
         return s.transport.info().exclusiveLock ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK;
     },
     nullptr, nullptr},
    {VI_ATTR_RSRC_MANF_NAME, kAny, Type::Text, nullptr,
     [](const Values&, const Source&) { return std::string(kManufacturerName); }, nullptr},
    {VI_ATTR_RSRC_MANF_ID, kAny, Type::U16, constant<0>, nullptr, nullptr},
    {VI_ATTR_RM_SESSION, kAny, Type::U32, [](const Values&, const Source& s) -> uint64_t { return s.rm; }, nullptr,
     nullptr},
    {VI_ATTR_INTF_TYPE, kAny, Type::U16, constant<VI_INTF_TCPIP>, nullptr, nullptr},
    {VI_ATTR_INTF_NUM, kAny, Type::U16, [](const Values&, const Source& s) -> uint64_t { return s.name.board; },
     nullptr, nullptr},
    {VI_ATTR_INTF_INST_NAME, kAny, Type::Text, nullptr,
     [](const Values&, const Source& s) { return kInterfaceName + std::to_string(s.name.board); }, nullptr},
    {VI_ATTR_TCPIP_ADDR, kAny, Type::Text, nullptr,
     [](const Values&, const Source& s) { return s.transport.peerAddress(); }, nullptr},
    {VI_ATTR_TCPIP_HOSTNAME, kAny, Type::Text, nullptr,
     [](const Values&, const Source& s) {
         const bool dotted = s.name.host.find_first_not_of("0123456789.") == std::string::npos;
         return dotted ? std::string() : s.name.host;
     },
     nullptr},
    {VI_ATTR_TCPIP_PORT, kSocket, Type::U16, [](const Values&, const Source& s) -> uint64_t { return s.name.port; },
     nullptr, nullptr},
    {VI_ATTR_TCPIP_DEVICE_NAME, kInstr, Type::Text, nullptr,
     [](const Values&, const Source& s) { return s.name.deviceName; }, nullptr},
    {VI_ATTR_4882_COMPLIANT, kInstr, Type::Boolean, constant<VI_TRUE>, nullptr, nullptr},
    {VI_ATTR_TCPIP_IS_HISLIP, kInstr, Type::Boolean,
     [](const Values&, const Source& s) -> uint64_t { return s.name.kind == ResourceKind::HiSlip; }, nullptr, nullptr},
    // Synchronized mode only: the overlapped preference cannot be switched on.
    {VI_ATTR_TCPIP_HISLIP_OVERLAP_EN, kHislip, Type::Boolean, constant<VI_FALSE>, nullptr,
     [](Values&, const Source&, ViAttrState value) -> ViStatus {
         return value == VI_FALSE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
     }},
    {VI_ATTR_TCPIP_HISLIP_VERSION, kHislip, Type::U32,
     [](const Values&, const Source& s) -> uint64_t { return s.transport.info().hislipVersion; }, nullptr, nullptr},
    {VI_ATTR_TCPIP_HISLIP_MAX_MESSAGE_KB, kHislip, Type::U32,
     [](const Values&, const Source& s) -> uint64_t { return s.transport.info().maxMessageKb; }, nullptr, nullptr},
};

const Row* find(ViAttr id, ResourceKind kind)
{
    for (const Row& r : kRows)
        if (r.id == id)
            return (r.kinds & kindBit(kind)) ? &r : nullptr;
    return nullptr;
}

template <class T>
void put(void* out, uint64_t v)
{
    const T value = static_cast<T>(v);
    std::memcpy(out, &value, sizeof value);
}

}  // namespace

ViStatus getSessionAttribute(ViAttr id, const SessionAttributes& values, const AttributeSource& source, void* out)
{
    const Row* row = find(id, source.name.kind);
    if (row == nullptr)
        return VI_ERROR_NSUP_ATTR;
    if (row->type == Type::Text) {
        const std::string s = row->text(values, source);
        const size_t n = std::min(s.size(), kMaxStringAttribute - 1);
        std::memcpy(out, s.data(), n);
        static_cast<char*>(out)[n] = '\0';
        return VI_SUCCESS;
    }
    const uint64_t v = row->get(values, source);
    switch (row->type) {
    case Type::Boolean:
        put<ViBoolean>(out, v ? VI_TRUE : VI_FALSE);
        break;
    case Type::U8:
        put<ViUInt8>(out, v);
        break;
    case Type::U16:
        put<ViUInt16>(out, v);
        break;
    case Type::U32:
        put<ViUInt32>(out, v);
        break;
    case Type::U64:
    case Type::Text:
        put<ViUInt64>(out, v);
        break;
    }
    return VI_SUCCESS;
}

ViStatus setSessionAttribute(ViAttr id, ViAttrState value, SessionAttributes& values, const AttributeSource& source)
{
    const Row* row = find(id, source.name.kind);
    if (row == nullptr)
        return VI_ERROR_NSUP_ATTR;
    return row->set ? row->set(values, source, value) : VI_ERROR_ATTR_READONLY;
}

}  // namespace lanvisa
