// HiSLIP (IVI-6.1) framing: the 16-byte message header, the message types and
// codes, the parameter and payload layouts of the set-up messages, and an
// assembler that cuts messages out of a byte stream. Pure code shared by the
// LAN VISA library (client) and the bench (server).
#pragma once

#include "xdr.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {
namespace protocol {
namespace hislip {

constexpr uint16_t kPort = 4880;
constexpr size_t kHeaderSize = 16;
constexpr uint8_t kPrologue0 = 'H';
constexpr uint8_t kPrologue1 = 'S';

/// Protocol versions: major in the high byte, minor in the low byte.
constexpr uint16_t kVersion10 = 0x0100;
constexpr uint16_t kVersion11 = 0x0101;

/// MessageID of a client's first Data, DataEND or Trigger (and after a device
/// clear); each such message advances it by 2.
constexpr uint32_t kFirstMessageId = 0xFFFFFF00u;
constexpr uint32_t kMessageIdStep = 2;
/// MessageID a server may put on a reply that answers no particular request.
constexpr uint32_t kUnknownMessageId = 0xFFFFFFFFu;

enum class Type : uint8_t {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25
};
/// Highest type of the base protocol; 26..127 are reserved or belong to the
/// security extension, 128..255 are vendor specific.
constexpr uint8_t kLastBaseType = 25;
constexpr uint8_t kFirstVendorType = 128;

/// Control-code bit of Data, DataEND, Trigger and AsyncStatusQuery: the client
/// has handed a complete response to its application since its last message.
constexpr uint8_t kRmtDelivered = 0x01;
/// Control-code bit of InitializeResponse and the device-clear messages.
constexpr uint8_t kOverlapped = 0x01;
/// AsyncLock control codes and AsyncLockResponse results.
constexpr uint8_t kLockRelease = 0;
constexpr uint8_t kLockRequest = 1;
constexpr uint8_t kLockFailure = 0;
constexpr uint8_t kLockSuccess = 1;
constexpr uint8_t kLockSuccessShared = 2;
constexpr uint8_t kLockError = 3;
/// AsyncRemoteLocalControl codes (equal to VISA's VI_GPIB_REN_* modes).
enum RemoteLocalCode : uint8_t {
    kRenDeassert = 0,
    kRenAssert = 1,
    kRenDeassertGtl = 2,
    kRenAssertAddress = 3,
    kRenAssertLlo = 4,
    kRenAssertAddressLlo = 5,
    kRenAddressGtl = 6
};
constexpr uint8_t kMaxRemoteLocalCode = kRenAddressGtl;

/// FatalError control codes.
enum FatalCode : uint8_t {
    kFatalUnidentified = 0,
    kFatalBadHeader = 1,
    kFatalChannelsNotEstablished = 2,
    kFatalInvalidInitialization = 3,
    kFatalTooManyClients = 4
};
/// Error control codes.
enum ErrorCode : uint8_t {
    kErrorUnidentified = 0,
    kErrorUnrecognizedType = 1,
    kErrorUnrecognizedControl = 2,
    kErrorUnrecognizedVendorType = 3,
    kErrorMessageTooLarge = 4
};

struct Header
{
    uint8_t type = 0;
    uint8_t control = 0;
    uint32_t parameter = 0;
    uint64_t length = 0;  ///< payload bytes that follow the header
};

/// Writes the 16 header bytes to `out`.
void encodeHeader(uint8_t* out, const Header& h);
/// Reads 16 header bytes; false when the prologue is not "HS".
bool decodeHeader(const uint8_t* in, Header& h);
/// Header and payload as one buffer (for small messages).
std::vector<uint8_t> encodeMessage(Type type, uint8_t control, uint32_t parameter, ByteView payload = ByteView());

/// Initialize parameter: version (high 16 bits) and two-character vendor id.
uint32_t initializeParameter(uint16_t version, const char vendor[2]);
uint16_t versionOf(uint32_t initializeParameter);
/// InitializeResponse parameter: version (high 16 bits) and session id.
uint32_t initializeResponseParameter(uint16_t version, uint16_t sessionId);
uint16_t sessionIdOf(uint32_t initializeResponseParameter);
/// The version both sides use: the lower of the two.
uint16_t negotiatedVersion(uint16_t client, uint16_t server);

/// AsyncMaximumMessageSize and its response carry one 64-bit size.
constexpr size_t kMaximumSizePayload = 8;
std::vector<uint8_t> encodeMaximumSize(uint64_t size);
/// False unless the payload is exactly 8 bytes.
bool decodeMaximumSize(ByteView payload, uint64_t& size);

/// MessageID that follows `id`.
constexpr uint32_t nextMessageId(uint32_t id)
{
    return id + kMessageIdStep;
}

/// Cuts messages out of a byte stream fed in any pieces. Payloads up to
/// maxPayload are collected; a longer one is reported (TooLarge) and then
/// skipped without being stored, so the stream stays in step.
class MessageAssembler
{
public:
    enum class Status {
        NeedMore,  ///< all input consumed, no message complete
        Complete,  ///< header() and payload() hold a message; call next()
        TooLarge,  ///< header() announces more than maxPayload; call next(), the payload is skipped
        BadHeader  ///< the prologue is wrong: the stream cannot be resynchronised
    };

    explicit MessageAssembler(uint64_t maxPayload) : m_max(maxPayload) {}

    /// Consumes input up to the end of the next message; `consumed` tells how many bytes were used.
    Status feed(const uint8_t* data, size_t size, size_t& consumed);
    const Header& header() const { return m_header; }
    const std::vector<uint8_t>& payload() const { return m_payload; }
    /// Moves on after Complete or TooLarge.
    void next();
    void setMaxPayload(uint64_t max) { m_max = max; }

private:
    enum class State { Header, Payload, Skip, Ready, Broken };
    uint64_t m_max;
    State m_state = State::Header;
    uint8_t m_headerBytes[kHeaderSize] = {};
    size_t m_headerFill = 0;
    Header m_header;
    std::vector<uint8_t> m_payload;
    uint64_t m_left = 0;
};

}  // namespace hislip
}  // namespace protocol
}  // namespace quarnel
