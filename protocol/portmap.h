// Portmapper (program 100000 version 2, RFC 1833): GETPORT call and reply.
#pragma once

#include "rpc.h"

#include <cstdint>

namespace quarnel {
namespace protocol {

constexpr uint32_t kPmapProgram = 100000;
constexpr uint32_t kPmapVersion = 2;
constexpr uint16_t kPmapPort = 111;
constexpr uint32_t kPmapProcNull = 0;
constexpr uint32_t kPmapProcGetPort = 3;
constexpr uint32_t kPmapProcDump = 4;
constexpr uint32_t kIpProtoTcp = 6;
constexpr uint32_t kIpProtoUdp = 17;

/// The `mapping` structure; port is ignored (sent as 0) in GETPORT.
struct PmapMapping
{
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t protocol = kIpProtoTcp;
    uint32_t port = 0;
};

void encodePmapMapping(XdrWriter& w, const PmapMapping& m);
bool decodePmapMapping(XdrReader& r, PmapMapping& m);

/// A complete GETPORT call message (RPC header + mapping), without record mark:
/// 56 bytes.
void encodeGetPortCall(XdrWriter& w, uint32_t xid, const PmapMapping& query);
/// A complete successful GETPORT reply (header + port; 0 = not registered): 28 bytes.
void encodeGetPortReply(XdrWriter& w, uint32_t xid, uint32_t port);
/// Decodes the result of a successful GETPORT reply (reader after the reply header).
/// Fails unless the port fits in 16 bits.
bool decodeGetPortResult(XdrReader& r, uint32_t& port);

}  // namespace protocol
}  // namespace quarnel
