#include "rsrcname.h"

#include "protocol/hislip.h"

#include <cctype>
#include <vector>

namespace lanvisa {

namespace {

constexpr char kInterfaceKeyword[] = "TCPIP";
constexpr char kSeparator[] = "::";
constexpr size_t kSeparatorLength = 2;
constexpr char kDefaultLanDevice[] = "inst0";
constexpr char kPortSeparator = ',';
constexpr char kHislipPrefix[] = "hislip";
constexpr uint16_t kHislipDefaultPort = quarnel::protocol::hislip::kPort;
constexpr uint32_t kMaxBoard = 65535;
constexpr uint32_t kMaxPort = 65535;
constexpr size_t kMaxDecimalDigits = 5;
constexpr int kIpv4Parts = 4;
constexpr uint32_t kMaxIpv4Part = 255;
constexpr size_t kMaxDnsLabel = 63;

bool equalsIgnoreCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

bool startsWithIgnoreCase(const std::string& a, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= a.size()
            || std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool allDigits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

/// Decimal number of at most 5 digits within [0, max].
bool parseSmallNumber(const std::string& s, uint32_t max, uint32_t& value)
{
    if (!allDigits(s) || s.size() > kMaxDecimalDigits)
        return false;
    value = 0;
    for (char c : s)
        value = value * 10 + static_cast<uint32_t>(c - '0');
    return value <= max;
}

bool isIpv4(const std::string& s)
{
    int parts = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = s.find('.', start);
        const std::string part = s.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        uint32_t v = 0;
        if (part.size() > 3 || !parseSmallNumber(part, kMaxIpv4Part, v))
            return false;
        ++parts;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts == kIpv4Parts;
}

/// Host name per RFC 1123 (letters, digits, hyphens; labels of 1..63 bytes,
/// not starting or ending with a hyphen), or a dotted IPv4 address.
bool isValidHost(const std::string& s)
{
    if (s.empty() || s.size() > kMaxHostLength)
        return false;
    bool numericLooking = true;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.')
            numericLooking = false;
    if (numericLooking)
        return isIpv4(s);
    size_t labelLength = 0;
    char prev = '.';
    for (char c : s) {
        if (c == '.') {
            if (labelLength == 0 || prev == '-')
                return false;
            labelLength = 0;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') {
            if (labelLength == 0 && c == '-')
                return false;
            if (++labelLength > kMaxDnsLabel)
                return false;
        } else {
            return false;
        }
        prev = c;
    }
    return prev != '-' && prev != '.';
}

/// LAN device names: "inst0", "gpib0,5", "hislip0", "usb0[...]" and the like:
/// printable ASCII without blanks or colons.
bool isValidLanDeviceName(const std::string& s)
{
    if (s.empty() || s.size() > kMaxLanDeviceNameLength)
        return false;
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u >= 0x7F || c == ':')
            return false;
    }
    return true;
}

std::vector<std::string> splitFields(const std::string& s)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t pos = s.find(kSeparator, start);
        if (pos == std::string::npos) {
            fields.push_back(s.substr(start));
            return fields;
        }
        fields.push_back(s.substr(start, pos - start));
        start = pos + kSeparatorLength;
    }
}

bool parseInterface(const std::string& field, uint16_t& board)
{
    const size_t keywordLength = sizeof(kInterfaceKeyword) - 1;
    if (field.size() < keywordLength || !equalsIgnoreCase(field.substr(0, keywordLength), kInterfaceKeyword))
        return false;
    const std::string number = field.substr(keywordLength);
    if (number.empty()) {
        board = 0;
        return true;
    }
    uint32_t value = 0;
    if (!parseSmallNumber(number, kMaxBoard, value))
        return false;
    board = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

std::string ResourceName::canonical() const
{
    std::string s = std::string(kInterfaceKeyword) + std::to_string(board) + kSeparator + host;
    if (corePort != 0)
        s += "," + std::to_string(corePort);
    s += kSeparator;
    if (kind == ResourceKind::Socket)
        return s + std::to_string(port) + kSeparator + "SOCKET";
    if (kind == ResourceKind::HiSlip && port != kHislipDefaultPort)
        return s + deviceName + kPortSeparator + std::to_string(port) + kSeparator + "INSTR";
    return s + deviceName + kSeparator + "INSTR";
}

const char* ResourceName::resourceClass() const
{
    return kind == ResourceKind::Socket ? "SOCKET" : "INSTR";
}

bool parseResourceName(const char* text, size_t length, ResourceName& out)
{
    if (text == nullptr || length == 0 || length > kMaxResourceNameLength)
        return false;
    const std::string s(text, length);
    if (s.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> fields = splitFields(s);
    if (fields.size() < 2 || fields.size() > 4)
        return false;
    out = ResourceName();
    if (!parseInterface(fields[0], out.board))
        return false;
    std::string host = fields[1];
    const size_t comma = host.find(kPortSeparator);
    if (comma != std::string::npos) {
        uint32_t port = 0;
        if (!parseSmallNumber(host.substr(comma + 1), kMaxPort, port) || port == 0)
            return false;
        out.corePort = static_cast<uint16_t>(port);
        host.erase(comma);
    }
    if (!isValidHost(host))
        return false;
    out.host = host;

    const std::string& last = fields.back();
    if (fields.size() >= 3 && equalsIgnoreCase(last, "SOCKET")) {
        uint32_t port = 0;
        if (fields.size() != 4 || !parseSmallNumber(fields[2], kMaxPort, port) || port == 0)
            return false;
        if (out.corePort != 0)
            return false;  // "host,port" is a VXI-11 form only
        out.kind = ResourceKind::Socket;
        out.port = static_cast<uint16_t>(port);
        return true;
    }
    // INSTR: host[::device][::INSTR]
    size_t deviceFields = fields.size() - 2;
    if (fields.size() >= 3 && equalsIgnoreCase(last, "INSTR"))
        --deviceFields;
    if (deviceFields > 1)
        return false;
    out.deviceName = deviceFields == 1 ? fields[2] : kDefaultLanDevice;
    if (!isValidLanDeviceName(out.deviceName))
        return false;
    if (!startsWithIgnoreCase(out.deviceName, kHislipPrefix))
        return true;
    // HiSLIP: "hislipN[,port]"; "host,port" is a VXI-11 form only.
    out.kind = ResourceKind::HiSlip;
    out.port = kHislipDefaultPort;
    const size_t portAt = out.deviceName.find(kPortSeparator);
    if (portAt != std::string::npos) {
        uint32_t port = 0;
        if (!parseSmallNumber(out.deviceName.substr(portAt + 1), kMaxPort, port) || port == 0)
            return false;
        out.port = static_cast<uint16_t>(port);
        out.deviceName.erase(portAt);
    }
    return out.corePort == 0;
}

}  // namespace lanvisa
