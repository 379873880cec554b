// A VISA library for unit tests: it exports the 18 functions the program
// resolves, records every call, and answers as the test scripts it. It
// produces what no network peer can (warning statuses from viQueryf, errors
// after partial file writes, ...). Tests link it and hand its path to
// setVisaCandidates, so the program's binding and the test share one copy.
#pragma once

#include <visa.h>

#include <string>
#include <vector>

namespace recvisa {

struct Call
{
    std::string op;    // rm open close attr query write read readtofile ren other
    ViSession vi = 0;
    std::string text;  // resource, command (as sent), file name, or function name
    unsigned long long value = 0;  // count, mode, attribute value, time-out
};

// Forgets calls, rules, replies and pending input; sessions start again at 1001.
void reset();

// From now on the matching calls return `status`. `op` as in Call::op; `match`
// is a substring of Call::text ("" matches all). The first `skip` matching
// calls pass, then `count` calls fail (0: all). For read and readtofile,
// `move` bytes of pending input are still delivered before the status.
void failOn(const std::string& op, const std::string& match, ViStatus status, int skip = 0,
            int count = 0, long move = 0);

// viQueryf replies: the first reply whose `match` is in the command wins;
// without one the reply is "1\n" (what *OPC? answers).
void replyTo(const std::string& match, const std::string& reply);

// One response message for viRead / viReadToFile: the reads see END at its
// last byte. With nothing pending a read times out.
void pushMessage(const std::string& bytes);
std::size_t pendingBytes();

std::vector<Call> calls();
// Only the commands of queries (all sessions), in order.
std::vector<std::string> queries();
// Sessions currently open.
std::vector<ViSession> openSessions();

}  // namespace recvisa
