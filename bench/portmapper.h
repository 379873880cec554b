// The portmapper of each instrument address, over TCP and UDP.
#ifndef QUARNEL_BENCH_PORTMAPPER_H
#define QUARNEL_BENCH_PORTMAPPER_H

#include "network.h"

namespace quarnel {
namespace bench {

void servePortmapTcp(const ServerContext &ctx, int fd, Instrument instrument);
/// Answers one datagram waiting on the UDP socket fd.
void serveUdpPortmap(const ServerContext &ctx, int fd, Instrument instrument);

} // namespace bench
} // namespace quarnel

#endif
