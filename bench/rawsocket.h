// The raw SCPI socket of each instrument address: program messages end at LF,
// replies go out as they are, with no framing of their own.
#pragma once

#include "network.h"

namespace quarnel {
namespace bench {

void serveRawSocket(const ServerContext& ctx, int fd, Instrument instrument, int connection);

}  // namespace bench
}  // namespace quarnel
