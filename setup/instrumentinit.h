// The VISA side of an Init: a set-up sequence run on a session opened on the
// resource manager. The window's Init buttons and the unattended runner both
// come through here, so an instrument sees the same traffic from either.
#pragma once

#include "sequence.h"

#include <visa.h>

namespace setup {

// The two texts of an Init button: Start is enabled by them, so they are the
// only record of which instruments are ready.
constexpr char kReadyText[] = "Ready";
constexpr char kInitText[] = "Init";

// Open budget of an Init's session, ms.
constexpr ViUInt32 kInitOpenTimeoutMs = 10000;

// Runs `seq` on the instrument at `resource` through the loaded VISA library.
// *session is the instrument's session: one left from an earlier Init is
// closed first (it would otherwise stay open unreferenced, and a failed open
// must not leave the old one to receive the commands); it then gets the new
// session, which stays open whatever the outcome, for the caller to close.
// The result carries the status (0: ready) and the identification reply.
Result initInstrument(const Sequence& seq, ViSession rm, const QString& resource, ViSession* session);

}  // namespace setup
