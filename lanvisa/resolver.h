// Host-name lookup bounded by an operation's deadline. A name server that
// never answers must not hold viOpen past its time-out: the lookup runs as an
// asynchronous request that the caller abandons when the deadline passes.
#pragma once

#include "deadline.h"
#include "visa.h"

#include <netinet/in.h>

#include <string>
#include <vector>

namespace lanvisa {

/// IPv4 addresses of `host` (a dotted address is taken as it is, without a
/// lookup). Unknown name: VI_ERROR_RSRC_NFOUND; no answer before the
/// deadline: VI_ERROR_TMO.
ViStatus resolveIpv4(const std::string& host, const Deadline& deadline, std::vector<in_addr>& addresses);

}  // namespace lanvisa
