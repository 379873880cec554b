// Bookkeeping of scripted faults: which message, procedure, block or
// acquisition a fault applies to, counting skips and uses. Not thread-safe;
// the bench core guards it with its lock.
#pragma once

#include "bench.h"

#include <memory>
#include <string>
#include <vector>

namespace quarnel {
namespace bench {

/// Model faults that apply to one acquisition.
struct ModelFaults
{
    bool startLevel = false;
    double level = 0.0;
    bool flatRf = false;
    bool noSinkEdge = false;
    bool videoZero = false;
};

class FaultBook
{
public:
    void add(const Fault& fault);
    void clear() { m_entries.clear(); }
    bool empty() const { return m_entries.empty(); }

    /// The first message fault (NoReply, DropConnection, SlowReply,
    /// CommandError, ReplaceReply, EndlessReply) that applies to this program message.
    /// Every matching fault counts the message. A ReplaceReply text comes
    /// through `replyText`, shared with the book (out.text stays empty: a
    /// scripted reply may be a whole trace block).
    bool takeMessageFault(Instrument instrument, const std::string& message, Fault& out,
                          std::shared_ptr<const std::string>* replyText = nullptr);
    /// As takeMessageFault for a VXI-11 procedure name (exact, any case).
    bool takeProcedureFault(Instrument instrument, const std::string& procedure, Fault& out);
    /// Index of a MalformedBlock fault matching the message, -1 if none. Use
    /// commitBlock() when the message really produced a block.
    int blockCandidate(Instrument instrument, const std::string& message) const;
    /// Counts one block for the candidate; true (and the kind in `block`) when
    /// the fault applies to this block.
    bool commitBlock(int candidate, BlockFault& block);
    /// Counts one acquisition for every model fault and returns those that apply.
    ModelFaults takeModelFaults();

private:
    struct Entry
    {
        Fault fault;  ///< text moved to `text`
        std::shared_ptr<const std::string> text;
        int seen = 0;
        int applied = 0;
    };
    static bool isMessageKind(FaultKind kind);
    static bool exhausted(const Entry& e) { return e.fault.count > 0 && e.applied >= e.fault.count; }
    bool countAndApply(Entry& e);
    std::vector<Entry> m_entries;
};

/// Case-insensitive substring test.
bool containsNoCase(const std::string& haystack, const std::string& needle);

}  // namespace bench
}  // namespace quarnel
