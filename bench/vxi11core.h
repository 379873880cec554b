// Connection handlers of the VXI-11 channels: the core channel (one
// CoreSession per connection) and the abort channel.
#pragma once

#include "network.h"

namespace quarnel {
namespace bench {

/// Bounds of Options::maxRecvSize (VXI-11 B.6.3 asks for at least 1024).
constexpr uint32_t kMinRecvSize = 1024;
constexpr uint32_t kMaxRecvSizeLimit = 16u << 20;
/// Largest data part of one device_read reply; longer replies need more reads.
constexpr uint32_t kMaxReadChunk = 16u << 20;
/// Links one core connection may hold.
constexpr int kMaxLinksPerConnection = 16;

void serveVxi11Core(const ServerContext& ctx, int fd, Instrument instrument, int connection);
void serveVxi11Abort(const ServerContext& ctx, int fd, Instrument instrument, int connection);

}  // namespace bench
}  // namespace quarnel
