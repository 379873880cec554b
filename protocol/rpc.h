// ONC RPC version 2 messages (RFC 5531) with AUTH_NONE, both directions:
// a client encodes calls and decodes replies, a server decodes calls and
// encodes replies. Procedure arguments and results follow the header and are
// encoded by the program-specific modules (portmap.h, vxi11.h).
#pragma once

#include "xdr.h"

#include <cstdint>

namespace quarnel {
namespace protocol {

constexpr uint32_t kRpcVersion = 2;
/// Largest opaque_auth body allowed by RFC 5531.
constexpr uint32_t kMaxAuthBodyLength = 400;
/// AUTH_NONE call header: xid, type, rpcvers, prog, vers, proc, 2 x (flavor, length).
constexpr size_t kCallHeaderSize = 40;
/// Accepted SUCCESS reply header with an empty verifier: xid, type, stat, flavor, length, accept_stat.
constexpr size_t kAcceptedReplyHeaderSize = 24;

enum class MsgType : uint32_t { Call = 0, Reply = 1 };
enum class ReplyStat : uint32_t { Accepted = 0, Denied = 1 };
enum class AcceptStat : uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5
};
enum class RejectStat : uint32_t { RpcMismatch = 0, AuthError = 1 };
enum class AuthFlavor : uint32_t { None = 0, Sys = 1, Short = 2, Des = 3 };
enum class AuthStat : uint32_t { Ok = 0, BadCred = 1, RejectedCred = 2, BadVerf = 3, RejectedVerf = 4, TooWeak = 5 };

/// The fields of a call header that matter to both sides.
struct CallHeader
{
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};

/// Writes a call header with AUTH_NONE credential and verifier (40 bytes).
void encodeCallHeader(XdrWriter& w, const CallHeader& h);

/// Server side: what a decoded call header says.
struct DecodedCall
{
    CallHeader header;
    uint32_t rpcVersion = 0;        ///< must be kRpcVersion, else reply RPC_MISMATCH
    uint32_t credentialFlavor = 0;  ///< any flavor is skipped by its length
};

/// Decodes a call header; the reader is left at the procedure arguments.
/// Fails on truncation, a message that is not a CALL, or an auth body over 400 bytes.
bool decodeCallHeader(XdrReader& r, DecodedCall& out);

/// Accepted reply header (SUCCESS or an accept error). For ProgMismatch the
/// supported low/high versions follow; give them in mismatchLow/High.
void encodeAcceptedReply(XdrWriter& w, uint32_t xid, AcceptStat stat, uint32_t mismatchLow = 0,
                         uint32_t mismatchHigh = 0);
/// Denied reply: RPC_MISMATCH (with low/high) or AUTH_ERROR (with authStat).
void encodeDeniedReply(XdrWriter& w, uint32_t xid, RejectStat stat, uint32_t low = 0, uint32_t high = 0,
                       AuthStat authStat = AuthStat::Ok);

/// Client side: a decoded reply header.
struct ReplyHeader
{
    uint32_t xid = 0;
    ReplyStat replyStat = ReplyStat::Accepted;
    AcceptStat acceptStat = AcceptStat::Success;      ///< when Accepted
    RejectStat rejectStat = RejectStat::RpcMismatch;  ///< when Denied
    AuthStat authStat = AuthStat::Ok;                 ///< when Denied with AuthError
    uint32_t mismatchLow = 0;                         ///< ProgMismatch / RpcMismatch
    uint32_t mismatchHigh = 0;

    /// True when results follow the header.
    bool succeeded() const { return replyStat == ReplyStat::Accepted && acceptStat == AcceptStat::Success; }
};

/// Decodes a reply header; on success with SUCCESS the reader is left at the results.
/// Fails on truncation, a CALL message, or unknown enum values.
bool decodeReplyHeader(XdrReader& r, ReplyHeader& out);

/// Reads only the xid and message type at the start of a message (for routing
/// and for discarding stale replies). Fails if fewer than 8 bytes are present.
bool peekMessage(ByteView message, uint32_t& xid, MsgType& type);

}  // namespace protocol
}  // namespace quarnel
