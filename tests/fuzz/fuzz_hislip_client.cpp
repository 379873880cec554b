// The HiSLIP client against a hostile server: the input is what the server
// says on the synchronous and the asynchronous channel (split at a position
// given by its first two bytes); the client sets up a session over it, then
// queries, reads its status byte, goes to local and clears the device.
#include "hisliptransport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
constexpr uint32_t kStepMs = 20;

/// One end of a socket pair that holds `bytes` and then the peer's close.
int channelWith(const uint8_t* bytes, size_t n, int& peer)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return -1;
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    (void)!write(fds[1], bytes, n);
    shutdown(fds[1], SHUT_WR);
    peer = fds[1];
    return fds[0];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (256u << 10))
        return 0;
    const size_t split = std::min<size_t>(size - 2, size_t(data[0]) << 8 | data[1]);
    data += 2;
    size -= 2;
    int syncPeer = -1, asyncPeer = -1;
    const int sync = channelWith(data, split, syncPeer);
    const int async = channelWith(data + split, size - split, asyncPeer);
    lanvisa::ResourceName name;
    name.kind = lanvisa::ResourceKind::HiSlip;
    name.host = "127.0.0.1";
    name.deviceName = "hislip0";
    {
        lanvisa::HislipTransport t(name);
        if (t.openOver(sync, async, lanvisa::Deadline::afterMs(kStepMs)) == VI_SUCCESS) {
            const uint8_t query[] = "*IDN?\n";
            size_t written = 0;
            t.write(query, sizeof query - 1, true, lanvisa::Deadline::afterMs(kStepMs), written);
            std::vector<uint8_t> reply(4096);
            for (int i = 0; i < 4; ++i)
                t.readChunk(reply.data(), reply.size(), lanvisa::ReadRules{i % 2 == 0, '\n', false},
                            lanvisa::Deadline::afterMs(kStepMs));
            uint8_t stb = 0;
            t.readStb(lanvisa::Deadline::afterMs(kStepMs), VI_PROT_NORMAL, stb);
            t.gpibControlRen(VI_GPIB_REN_ADDRESS_GTL, lanvisa::Deadline::afterMs(kStepMs));
            t.clear(lanvisa::Deadline::afterMs(kStepMs));
        }
    }
    close(syncPeer);
    close(asyncPeer);
    return 0;
}
