// Resource-name grammar: accepted forms, their parts, and what is refused.
#include "rsrcname.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lanvisa;

namespace {
bool parse(const char* s, ResourceName& r)
{
    return parseResourceName(s, std::strlen(s), r);
}
}  // namespace

TEST(ResourceName, AcceptedFormsAndTheirParts)
{
    struct Case
    {
        const char* text;
        ResourceKind kind;
        uint16_t board;
        const char* host;
        const char* device;
        uint16_t port;
        uint16_t corePort;
        const char* canonical;
    };
    const Case cases[] = {
        {"TCPIP::10.0.0.5::INSTR", ResourceKind::Vxi11, 0, "10.0.0.5", "inst0", 0, 0, "TCPIP0::10.0.0.5::inst0::INSTR"},
        {"tcpip3::scope-1.lab::inst1::instr", ResourceKind::Vxi11, 3, "scope-1.lab", "inst1", 0, 0,
         "TCPIP3::scope-1.lab::inst1::INSTR"},
        {"TCPIP0::127.0.0.1", ResourceKind::Vxi11, 0, "127.0.0.1", "inst0", 0, 0, "TCPIP0::127.0.0.1::inst0::INSTR"},
        {"TCPIP::host::gpib0,5", ResourceKind::Vxi11, 0, "host", "gpib0,5", 0, 0, "TCPIP0::host::gpib0,5::INSTR"},
        {"TCPIP::127.1.2.3,40000::INSTR", ResourceKind::Vxi11, 0, "127.1.2.3", "inst0", 0, 40000,
         "TCPIP0::127.1.2.3,40000::inst0::INSTR"},
        {"TCPIP::h::HiSLIP0::INSTR", ResourceKind::HiSlip, 0, "h", "HiSLIP0", 4880, 0, "TCPIP0::h::HiSLIP0::INSTR"},
        {"TCPIP::h::hislip1,5000", ResourceKind::HiSlip, 0, "h", "hislip1", 5000, 0, "TCPIP0::h::hislip1,5000::INSTR"},
        {"TCPIP::10.1.1.1::5025::SOCKET", ResourceKind::Socket, 0, "10.1.1.1", "", 5025, 0,
         "TCPIP0::10.1.1.1::5025::SOCKET"},
        {"Tcpip2::box::1::socket", ResourceKind::Socket, 2, "box", "", 1, 0, "TCPIP2::box::1::SOCKET"},
        // The largest number of each part is still valid.
        {"TCPIP65535::255.255.255.255::65535::SOCKET", ResourceKind::Socket, 65535, "255.255.255.255", "", 65535, 0,
         "TCPIP65535::255.255.255.255::65535::SOCKET"},
    };
    for (const Case& c : cases) {
        ResourceName r;
        ASSERT_TRUE(parse(c.text, r)) << c.text;
        EXPECT_EQ(r.kind, c.kind) << c.text;
        EXPECT_EQ(r.board, c.board) << c.text;
        EXPECT_EQ(r.host, c.host) << c.text;
        EXPECT_EQ(r.deviceName, c.device) << c.text;
        EXPECT_EQ(r.port, c.port) << c.text;
        EXPECT_EQ(r.corePort, c.corePort) << c.text;
        EXPECT_EQ(r.canonical(), c.canonical) << c.text;
        // The canonical form parses to the same resource.
        ResourceName again;
        ASSERT_TRUE(parse(r.canonical().c_str(), again));
        EXPECT_EQ(again.canonical(), r.canonical());
    }
}

TEST(ResourceName, RefusedForms)
{
    const char* bad[] = {
        "",
        "TCPIP",
        "TCPIP::",
        "GPIB0::5::INSTR",
        "USB0::0x1234::0x5678::SN::INSTR",
        "TCPIPX::host::INSTR",
        "TCPIP99999::host::INSTR",
        "TCPIP::::INSTR",
        "TCPIP::host::::INSTR",
        "TCPIP::host::inst0::INSTR::more",
        "TCPIP::host::SOCKET",
        "TCPIP::host::0::SOCKET",
        "TCPIP::host::65536::SOCKET",
        "TCPIP::host::50x5::SOCKET",
        "TCPIP::host,5025::5025::SOCKET",
        "TCPIP::host,0::INSTR",
        "TCPIP::host,4000::hislip0::INSTR",
        "TCPIP::host::hislip0,0::INSTR",
        "TCPIP::host::hislip0,x::INSTR",
        "TCPIP::256.1.1.1::INSTR",
        "TCPIP::1.2.3::INSTR",
        "TCPIP::-host::INSTR",
        "TCPIP::ho st::INSTR",
        "TCPIP::[::1]::INSTR",
        "TCPIP::host::in st0::INSTR",
        " TCPIP::host::INSTR",
        "TCPIP::host::INSTR ",
    };
    for (const char* text : bad) {
        ResourceName r;
        EXPECT_FALSE(parse(text, r)) << "'" << text << "'";
    }
    // Embedded NUL and overlong names.
    ResourceName r;
    EXPECT_FALSE(parseResourceName("TCPIP::a\0b::INSTR", 17, r));
    std::string longHost = "TCPIP::" + std::string(300, 'a') + "::INSTR";
    EXPECT_FALSE(parse(longHost.c_str(), r));
    EXPECT_FALSE(parseResourceName(nullptr, 5, r));
}
