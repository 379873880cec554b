// The portmapper of each instrument address, over TCP and UDP.
#pragma once

#include "network.h"

namespace quarnel {
namespace bench {

void servePortmapTcp(const ServerContext& ctx, int fd, Instrument instrument);
/// Answers one datagram waiting on the UDP socket fd.
void serveUdpPortmap(const ServerContext& ctx, int fd, Instrument instrument);

}  // namespace bench
}  // namespace quarnel
