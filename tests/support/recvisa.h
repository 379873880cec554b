// A recording VISA library for unit tests. It exports the 18 functions the
// program resolves, records every call and answers as the test scripts it,
// including what no network peer produces (warnings from viQueryf, errors
// after a partial file write). Tests link it and hand the same file to
// LoadVisa (testsupport::recVisaPath()), so program and test share one copy.
// Variants built with RECVISA_OMIT_<function> lack that function.
#pragma once

#include <visa.h>

#include <string>
#include <vector>

namespace recvisa {

struct Call
{
    std::string op;  // rm open close attr query write read readtofile ren other
    ViSession vi = 0;
    std::string text;              // resource, command as sent, file name, attribute or function name
    unsigned long long value = 0;  // count, REN mode, attribute value, mode << 32 | time-out
};

// Forgets calls, rules, replies and pending input; sessions start again at 1001.
void reset();

// From now on the matching calls (`op` as in Call::op, `match` a substring of
// Call::text) return `status`: the first `skip` pass, then `count` fail (0:
// all). A failing read still delivers `move` bytes of pending input.
void failOn(const std::string& op, const std::string& match, ViStatus status, int skip = 0, int count = 0,
            long move = 0);

// viQueryf replies: the first whose `match` is in the command; else "1\n".
void replyTo(const std::string& match, const std::string& reply);

// One response message for viRead / viReadToFile, END at its last byte.
// With nothing pending a read times out.
void pushMessage(const std::string& bytes);

std::vector<Call> calls();
std::vector<Call> callsOf(const std::string& op);
std::vector<std::string> queries();  // query commands of all sessions, in order
std::vector<ViSession> openSessions();

}  // namespace recvisa
