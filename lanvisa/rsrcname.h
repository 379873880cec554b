// Parser for TCPIP resource names (pure function, fuzzed):
//   TCPIP[board]::host[::lan-device-name][::INSTR]   VXI-11 (device "inst0" if absent)
//   TCPIP[board]::host::port::SOCKET                  raw socket
// Keywords match case-insensitively; host is a host name or dotted IPv4.
// A LAN device name starting with "hislip" selects HiSLIP ("hislip0,5000": on
// port 5000 instead of 4880). For VXI-11 the host may be written "host,port"
// to reach a core service without a portmapper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lanvisa {

enum class ResourceKind { Vxi11, HiSlip, Socket };

struct ResourceName
{
    ResourceKind kind = ResourceKind::Vxi11;
    uint16_t board = 0;
    std::string host;
    std::string deviceName;  ///< INSTR only; HiSLIP: the sub-address without ",port"
    uint16_t port = 0;       ///< SOCKET and HiSLIP
    /// VXI-11 core port given as "host,port": the portmapper is skipped. 0 = ask it.
    uint16_t corePort = 0;
    /// Canonical form, e.g. "TCPIP0::10.0.0.5::inst0::INSTR".
    std::string canonical() const;
    /// "INSTR" or "SOCKET".
    const char* resourceClass() const;
};

/// Longest resource name accepted, in bytes.
constexpr size_t kMaxResourceNameLength = 512;
/// Longest host name (DNS limit).
constexpr size_t kMaxHostLength = 253;
/// Longest LAN device name (bounded so create_link stays small).
constexpr size_t kMaxLanDeviceNameLength = 255;

/// Parses `text` (length bytes, need not be NUL-terminated). Returns false for
/// anything that is not one of the two forms above; `out` is then unspecified.
bool parseResourceName(const char* text, size_t length, ResourceName& out);

}  // namespace lanvisa
