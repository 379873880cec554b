// Helpers of the bench tests: talking to the engines in-process, decoding
// blocks, the program's own set-ups and a small VXI-11 client.
#pragma once

#include "core.h"

#include <cstdint>
#include <string>
#include <vector>

namespace benchtest {

using namespace quarnel::bench;

/// One link to an in-process core: send a program message, get the reply text.
struct Talker
{
    Core& core;
    Instrument instrument;
    LinkState link;
    Talker(Core& c, Instrument i) : core(c), instrument(i) {}
    /// Sends `message` as one complete message; returns the queued reply ("" if none).
    std::string ask(const std::string& message);
};

/// Decodes "#<n><len><data>\n" of little-endian floats; false when malformed.
bool decodeBlock(const std::string& reply, std::vector<float>& values);

/// The program's Init set-ups (with the resets, a trigger level of 35 mV,
/// 5.192 GHz, a threshold of 35 %), in the order the instruments receive them.
std::vector<std::string> scopeSetup(int family, bool ifDemod);
std::vector<std::string> analyzerSetup(bool firstFamily);
std::vector<std::string> videoSetup();

/// Minimal blocking VXI-11 client over the protocol codec.
class Vxi11Client
{
public:
    ~Vxi11Client();
    /// Portmapper lookup (TCP) of the core port at `address`:`pmapPort`.
    static uint32_t getPort(const std::string& address, uint16_t pmapPort, uint32_t program = 0x0607AF);
    bool connect(const std::string& address, uint16_t port);
    /// create_link; returns the VXI-11 error.
    int32_t createLink(const std::string& device = "inst0");
    int32_t write(const std::string& data, int32_t flags = 0x08, uint32_t ioTimeout = 2000);
    /// One device_read.
    int32_t read(std::string& data, int32_t& reason, uint32_t requestSize = 1 << 20, uint32_t ioTimeout = 2000,
                 int32_t flags = 0, uint8_t termChar = 0);
    /// Reads until END; returns the VXI-11 error of the last call (-1: connection lost).
    int32_t readAll(std::string& data, uint32_t ioTimeout = 2000);
    /// device_readstb/trigger/clear/remote/local by procedure number.
    int32_t generic(uint32_t proc, uint8_t* stb = nullptr);
    int32_t destroyLink();
    /// Raw call: sends args for proc, returns the reply body after the RPC header
    /// (empty with ok=false on connection loss or timeout).
    std::vector<uint8_t> call(uint32_t proc, const std::vector<uint8_t>& args, bool& ok, int timeoutMs = 5000);
    int32_t lid() const { return m_lid; }
    void close();

private:
    int m_fd = -1;
    int32_t m_lid = 0;
    uint32_t m_xid = 1;
};

/// Connects a TCP socket (raw SCPI); -1 on failure.
int connectTcp(const std::string& address, uint16_t port);
/// Reads until `terminator` or timeout; false on timeout or close.
bool readUntil(int fd, std::string& out, char terminator, int timeoutMs);

}  // namespace benchtest
