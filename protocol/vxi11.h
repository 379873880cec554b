// VXI-11 core channel (DEVICE_CORE 0x0607AF version 1): procedure numbers,
// flag/reason/error constants and every structure of the calls a LAN VISA
// needs, encoded and decoded in both directions (VXI-11 rev 1.0, B.6).
#pragma once

#include "rpc.h"

#include <cstdint>
#include <string>

namespace quarnel {
namespace protocol {

constexpr uint32_t kDeviceCoreProgram = 0x0607AF;
constexpr uint32_t kDeviceAsyncProgram = 0x0607B0;
constexpr uint32_t kDeviceIntrProgram = 0x0607B1;
constexpr uint32_t kDeviceCoreVersion = 1;
/// The abort channel's one procedure (DEVICE_ASYNC).
constexpr uint32_t kDeviceAbortProc = 1;

enum class CoreProc : uint32_t {
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceRemote = 16,
    DeviceLocal = 17,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DeviceEnableSrq = 20,
    DeviceDocmd = 22,
    DestroyLink = 23,
    CreateIntrChan = 25,
    DestroyIntrChan = 26
};

// Device_Flags bits.
constexpr int32_t kFlagWaitLock = 0x01;
constexpr int32_t kFlagEnd = 0x08;          ///< device_write: END with the last byte
constexpr int32_t kFlagTermCharSet = 0x80;  ///< device_read: termChar ends the read

// Device_ReadResp.reason bits (0 = server buffer full, read again).
constexpr int32_t kReasonReqCnt = 0x01;
constexpr int32_t kReasonChr = 0x02;
constexpr int32_t kReasonEnd = 0x04;

// Device_ErrorCode values.
enum Vxi11Error : int32_t {
    kErrNone = 0,
    kErrSyntax = 1,
    kErrDeviceNotAccessible = 3,
    kErrInvalidLinkId = 4,
    kErrParameter = 5,
    kErrChannelNotEstablished = 6,
    kErrOperationNotSupported = 8,
    kErrOutOfResources = 9,
    kErrDeviceLocked = 11,
    kErrNoLockHeld = 12,
    kErrIoTimeout = 15,
    kErrIo = 17,
    kErrInvalidAddress = 21,
    kErrAbort = 23,
    kErrChannelAlreadyEstablished = 29
};

/// Smallest maxRecvSize a server may announce (rule B.6.3).
constexpr uint32_t kMinMaxRecvSize = 1024;
/// Longest LAN device name a decoder accepts in create_link.
constexpr uint32_t kMaxDeviceNameLength = 256;
/// Fixed part of Device_ReadResp before its data: error, reason, data length.
constexpr size_t kReadRespHeadSize = 12;

struct CreateLinkParms
{
    int32_t clientId = 0;
    bool lockDevice = false;
    uint32_t lockTimeout = 0;  ///< ms
    std::string device;        ///< LAN device name, e.g. "inst0"
};

struct CreateLinkResp
{
    int32_t error = kErrNone;
    int32_t lid = 0;
    uint32_t abortPort = 0;  ///< unsigned short on the wire as a full word
    uint32_t maxRecvSize = 0;
};

struct DeviceWriteParms
{
    int32_t lid = 0;
    uint32_t ioTimeout = 0;    ///< ms
    uint32_t lockTimeout = 0;  ///< ms
    int32_t flags = 0;
    ByteView data;  ///< not owned
};

struct DeviceWriteResp
{
    int32_t error = kErrNone;
    uint32_t size = 0;  ///< bytes accepted
};

struct DeviceReadParms
{
    int32_t lid = 0;
    uint32_t requestSize = 0;
    uint32_t ioTimeout = 0;    ///< ms
    uint32_t lockTimeout = 0;  ///< ms
    int32_t flags = 0;
    uint8_t termChar = 0;  ///< char on the wire as a full word
};

struct DeviceReadResp
{
    int32_t error = kErrNone;
    int32_t reason = 0;
    ByteView data;  ///< points into the decoded message, or the data to send
};

/// Arguments of device_readstb/trigger/clear/remote/local. Note the order:
/// lock_timeout comes before io_timeout here, unlike the read/write parms.
struct DeviceGenericParms
{
    int32_t lid = 0;
    int32_t flags = 0;
    uint32_t lockTimeout = 0;  ///< ms
    uint32_t ioTimeout = 0;    ///< ms
};

struct DeviceReadStbResp
{
    int32_t error = kErrNone;
    uint8_t stb = 0;  ///< unsigned char on the wire as a full word
};

/// Result of trigger/clear/remote/local/destroy_link.
struct DeviceError
{
    int32_t error = kErrNone;
};

/// Argument of destroy_link (Device_Link).
struct DeviceLink
{
    int32_t lid = 0;
};

void encode(XdrWriter& w, const CreateLinkParms& v);
void encode(XdrWriter& w, const CreateLinkResp& v);
void encode(XdrWriter& w, const DeviceWriteParms& v);
void encode(XdrWriter& w, const DeviceWriteResp& v);
void encode(XdrWriter& w, const DeviceReadParms& v);
void encode(XdrWriter& w, const DeviceReadResp& v);
void encode(XdrWriter& w, const DeviceGenericParms& v);
void encode(XdrWriter& w, const DeviceReadStbResp& v);
void encode(XdrWriter& w, const DeviceError& v);
void encode(XdrWriter& w, const DeviceLink& v);

/// Decoders read one structure; false on truncated or malformed input.
/// Opaque data is not copied: ByteView members point into the reader's input.
bool decode(XdrReader& r, CreateLinkParms& v, uint32_t maxDeviceName = kMaxDeviceNameLength);
bool decode(XdrReader& r, CreateLinkResp& v);
bool decode(XdrReader& r, DeviceWriteParms& v, uint32_t maxData = UINT32_MAX);
bool decode(XdrReader& r, DeviceWriteResp& v);
bool decode(XdrReader& r, DeviceReadParms& v);
/// maxData: the largest data length accepted (a client passes its requestSize).
bool decode(XdrReader& r, DeviceReadResp& v, uint32_t maxData = UINT32_MAX);
bool decode(XdrReader& r, DeviceGenericParms& v);
bool decode(XdrReader& r, DeviceReadStbResp& v);
bool decode(XdrReader& r, DeviceError& v);
bool decode(XdrReader& r, DeviceLink& v);

/// Streaming form of Device_ReadResp for large data: the 12-byte head
/// (error, reason, length). The data and xdrPadding(length) zero bytes follow.
void encodeReadRespHead(XdrWriter& w, int32_t error, int32_t reason, uint32_t dataLength);
bool decodeReadRespHead(XdrReader& r, int32_t& error, int32_t& reason, uint32_t& dataLength);

/// A complete core-channel call message: RPC call header + arguments.
template <class Args>
void encodeCoreCall(XdrWriter& w, uint32_t xid, CoreProc proc, const Args& args)
{
    encodeCallHeader(w, CallHeader{xid, kDeviceCoreProgram, kDeviceCoreVersion, static_cast<uint32_t>(proc)});
    encode(w, args);
}

/// A complete successful core-channel reply: accepted SUCCESS header + result.
template <class Result>
void encodeCoreReply(XdrWriter& w, uint32_t xid, const Result& result)
{
    encodeAcceptedReply(w, xid, AcceptStat::Success);
    encode(w, result);
}

}  // namespace protocol
}  // namespace quarnel
