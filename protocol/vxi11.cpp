#include "vxi11.h"

namespace quarnel {
namespace protocol {

namespace {
constexpr uint32_t kLowByteMask = 0xFFu;
}

void encode(XdrWriter& w, const CreateLinkParms& v)
{
    w.putInt32(v.clientId);
    w.putBool(v.lockDevice);
    w.putUint32(v.lockTimeout);
    w.putString(v.device);
}

void encode(XdrWriter& w, const CreateLinkResp& v)
{
    w.putInt32(v.error);
    w.putInt32(v.lid);
    w.putUint32(v.abortPort);
    w.putUint32(v.maxRecvSize);
}

void encode(XdrWriter& w, const DeviceWriteParms& v)
{
    w.putInt32(v.lid);
    w.putUint32(v.ioTimeout);
    w.putUint32(v.lockTimeout);
    w.putInt32(v.flags);
    w.putOpaque(v.data);
}

void encode(XdrWriter& w, const DeviceWriteResp& v)
{
    w.putInt32(v.error);
    w.putUint32(v.size);
}

void encode(XdrWriter& w, const DeviceReadParms& v)
{
    w.putInt32(v.lid);
    w.putUint32(v.requestSize);
    w.putUint32(v.ioTimeout);
    w.putUint32(v.lockTimeout);
    w.putInt32(v.flags);
    w.putUint32(v.termChar);
}

void encode(XdrWriter& w, const DeviceReadResp& v)
{
    w.putInt32(v.error);
    w.putInt32(v.reason);
    w.putOpaque(v.data);
}

void encode(XdrWriter& w, const DeviceGenericParms& v)
{
    w.putInt32(v.lid);
    w.putInt32(v.flags);
    w.putUint32(v.lockTimeout);
    w.putUint32(v.ioTimeout);
}

void encode(XdrWriter& w, const DeviceReadStbResp& v)
{
    w.putInt32(v.error);
    w.putUint32(v.stb);
}

void encode(XdrWriter& w, const DeviceError& v)
{
    w.putInt32(v.error);
}

void encode(XdrWriter& w, const DeviceLink& v)
{
    w.putInt32(v.lid);
}

bool decode(XdrReader& r, CreateLinkParms& v, uint32_t maxDeviceName)
{
    return r.getInt32(v.clientId) && r.getBool(v.lockDevice) && r.getUint32(v.lockTimeout)
           && r.getString(v.device, maxDeviceName);
}

bool decode(XdrReader& r, CreateLinkResp& v)
{
    return r.getInt32(v.error) && r.getInt32(v.lid) && r.getUint32(v.abortPort) && r.getUint32(v.maxRecvSize);
}

bool decode(XdrReader& r, DeviceWriteParms& v, uint32_t maxData)
{
    return r.getInt32(v.lid) && r.getUint32(v.ioTimeout) && r.getUint32(v.lockTimeout) && r.getInt32(v.flags)
           && r.getOpaque(v.data, maxData);
}

bool decode(XdrReader& r, DeviceWriteResp& v)
{
    return r.getInt32(v.error) && r.getUint32(v.size);
}

bool decode(XdrReader& r, DeviceReadParms& v)
{
    uint32_t term = 0;
    if (!(r.getInt32(v.lid) && r.getUint32(v.requestSize) && r.getUint32(v.ioTimeout) && r.getUint32(v.lockTimeout)
          && r.getInt32(v.flags) && r.getUint32(term)))
        return false;
    // rpcgen's xdr_char keeps the low byte; do the same.
    v.termChar = static_cast<uint8_t>(term & kLowByteMask);
    return true;
}

bool decode(XdrReader& r, DeviceReadResp& v, uint32_t maxData)
{
    return r.getInt32(v.error) && r.getInt32(v.reason) && r.getOpaque(v.data, maxData);
}

bool decode(XdrReader& r, DeviceGenericParms& v)
{
    return r.getInt32(v.lid) && r.getInt32(v.flags) && r.getUint32(v.lockTimeout) && r.getUint32(v.ioTimeout);
}

bool decode(XdrReader& r, DeviceReadStbResp& v)
{
    uint32_t stb = 0;
    if (!(r.getInt32(v.error) && r.getUint32(stb)))
        return false;
    v.stb = static_cast<uint8_t>(stb & kLowByteMask);
    return true;
}

bool decode(XdrReader& r, DeviceError& v)
{
    return r.getInt32(v.error);
}

bool decode(XdrReader& r, DeviceLink& v)
{
    return r.getInt32(v.lid);
}

void encodeReadRespHead(XdrWriter& w, int32_t error, int32_t reason, uint32_t dataLength)
{
    w.putInt32(error);
    w.putInt32(reason);
    w.putUint32(dataLength);
}

bool decodeReadRespHead(XdrReader& r, int32_t& error, int32_t& reason, uint32_t& dataLength)
{
    return r.getInt32(error) && r.getInt32(reason) && r.getUint32(dataLength);
}

}  // namespace protocol
}  // namespace quarnel
