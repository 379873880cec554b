// Socket helpers shared by the bench's protocol servers, the context every
// connection handler gets, and the one loop that reads a connection.
#pragma once

#include "core.h"

#include "protocol/recordmark.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <atomic>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {

class HislipSessions;
class LinkRegistry;

/// Ports bound for one instrument (0: not served).
struct InstrumentPorts
{
    uint16_t core = 0, abort = 0, hislip = 0;
};

/// What a connection handler may use of the running server.
struct ServerContext
{
    Core& core;
    LinkRegistry& links;
    HislipSessions& hislip;
    const InstrumentPorts* ports;  ///< kInstrumentCount entries
    int wakeFd;                    ///< readable once the server stops
    const std::atomic<bool>& stopping;
};

/// Receive buffer of one connection.
constexpr size_t kReceiveBuffer = 65536;
/// A large reply goes out in pieces of this size: one send() of a whole 40 MB
/// block streamed measurably slower on loopback (10-20 %) than pieces of a few MB.
constexpr size_t kSendPiece = 4u << 20;

/// Milliseconds until `t` for a poll, rounded up so the wait does not end early; 0 when past.
int msUntil(Clock::time_point t);
/// Sends every piece, in order, with as few system calls as the socket allows.
bool sendAllv(int fd, iovec* pieces, size_t count);
bool sendAll(int fd, const void* data, size_t size);
std::string peerName(const sockaddr_in& address);
/// Waits for input on fd or the wake pipe: 1 readable, 0 time-out, -1 stop or error.
int waitReadable(int fd, int wakeFd, int timeoutMs);
/// Sleeps up to `ms`; false (early) when the server stops.
bool interruptibleSleep(const ServerContext& ctx, int ms);
/// Binds (and for TCP listens on) address:port; "" or the reason it failed.
std::string bindListener(const std::string& address, uint16_t port, bool udp, int& fd, uint16_t& bound);

/// Reads fd until the peer goes, the server stops or `consume(data, size)`
/// returns false. Each wait lasts at most `waitMs()` (-1: until data comes);
/// when one runs out, consume is called with (nullptr, 0).
template <class Consume, class WaitMs>
void readLoop(const ServerContext& ctx, int fd, size_t bufferSize, Consume&& consume, WaitMs&& waitMs)
{
    std::vector<uint8_t> buf(bufferSize);
    while (!ctx.stopping) {
        const int w = waitReadable(fd, ctx.wakeFd, waitMs());
        if (w < 0)
            return;
        if (w == 0) {
            if (!consume(nullptr, 0))
                return;
            continue;
        }
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0 || !consume(buf.data(), static_cast<size_t>(n)))
            return;
    }
}

/// readLoop for record-marked RPC messages: `handle(record)` answers each
/// complete record (false closes the connection); a record over maxRecord
/// closes it too, since the stream cannot be resynchronised.
template <class Handle>
void readRecords(const ServerContext& ctx, int fd, size_t maxRecord, size_t bufferSize, Handle&& handle)
{
    protocol::RecordAssembler assembler(maxRecord);
    readLoop(
        ctx, fd, bufferSize,
        [&](const uint8_t* data, size_t n) {
            size_t off = 0;
            while (off < n) {
                size_t used = 0;
                const auto st = assembler.feed(data + off, n - off, used);
                off += used;
                if (st == protocol::RecordAssembler::Status::TooLarge)
                    return false;
                if (st == protocol::RecordAssembler::Status::NeedMore)
                    break;
                if (!handle(assembler.takeRecord()))
                    return false;
            }
            return true;
        },
        [] { return -1; });
}

}  // namespace bench
}  // namespace quarnel
