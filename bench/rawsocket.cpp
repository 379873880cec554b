#include "rawsocket.h"

#include <algorithm>

namespace quarnel {
namespace bench {

void serveRawSocket(const ServerContext& ctx, int fd, Instrument instrument, int connection)
{
    // Messages run one at a time: a reply leaves before the next message is
    // taken, so a client may send several queries without waiting.
    LinkState state;
    std::string received;
    // Runs what can run now; false when the connection must close.
    const auto progress = [&] {
        PendingReply& reply = state.reply;
        for (;;) {
            if (reply.streamPeriodMs > 0 && reply.pos >= reply.size() && !received.empty())
                reply.clear();  // a new message ends a scripted endless reply
            while (!reply.active && !received.empty()) {
                const size_t nl = received.find('\n');
                const size_t take = nl == std::string::npos ? received.size() : nl + 1;
                const std::string chunk = received.substr(0, take);
                received.erase(0, take);
                if (ctx.core.feed(instrument, state, chunk.data(), chunk.size(), false, Transport::Socket, connection,
                                  0)
                    == Core::Outcome::Drop)
                    return false;
            }
            if (!reply.active || Clock::now() < reply.readyAt)
                return received.size() <= kMaxProgramMessage;  // bound what waits behind a slow reply
            const bool streaming = reply.streamPeriodMs > 0 && reply.pos >= reply.size();
            if (streaming && !sendAll(fd, streamFiller().data(), streamFiller().size()))
                return false;
            size_t limit = reply.size();
            if (reply.dropAt >= 0)
                limit = std::min(limit, static_cast<size_t>(reply.dropAt));
            for (size_t at = reply.pos; at < limit;) {
                const size_t piece = std::min(limit - at, kSendPiece);
                if (!sendAll(fd, reply.bytes() + at, piece))
                    return false;
                at += piece;
            }
            reply.pos = limit;
            if (reply.dropAt >= 0)
                return false;  // scripted: the connection breaks here
            if (reply.streamPeriodMs == 0)
                reply.clear();
            else if (received.empty())
                reply.readyAt = Clock::now() + std::chrono::milliseconds(reply.streamPeriodMs);
        }
    };
    readLoop(
        ctx, fd, kReceiveBuffer,
        [&](const uint8_t* data, size_t n) {
            received.append(reinterpret_cast<const char*>(data), n);
            return progress();
        },
        [&] { return state.reply.active ? msUntil(state.reply.readyAt) : -1; });
}

}  // namespace bench
}  // namespace quarnel
