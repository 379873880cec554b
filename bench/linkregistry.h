// The bench-wide table of instrument links (VXI-11 links and HiSLIP sessions):
// ids, the exclusive lock per instrument, and aborts from the abort channel.
// Thread-safe; waits end early when the server stops.
#pragma once

#include "core.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace quarnel {
namespace bench {

class LinkRegistry
{
public:
    struct Link
    {
        Instrument instrument = Instrument::Oscilloscope;
        int connection = 0;
        std::atomic<bool> abort{false};
    };

    explicit LinkRegistry(const std::atomic<bool>& stopping) : m_stopping(stopping) {}

    /// A new link with a fresh id (never 0).
    std::shared_ptr<Link> add(Instrument instrument, int connection, int& id);
    /// Drops the link and any lock it holds.
    void remove(int id);
    /// Abort channel: flags the link's running read. False for an unknown link.
    bool abort(Instrument instrument, int id);
    /// May link `id` use the instrument: unlocked or locked by itself; otherwise
    /// waits up to waitMs (0: not at all) for the lock to go.
    bool mayUse(Instrument instrument, int id, uint32_t waitMs);
    /// Takes the exclusive lock, waiting up to waitMs; false if another holds it then.
    bool lock(Instrument instrument, int id, uint32_t waitMs);
    /// Releases the lock; false if `id` does not hold it.
    bool unlock(Instrument instrument, int id);
    bool holds(Instrument instrument, int id) const;
    bool locked(Instrument instrument) const;
    /// Sleeps until `until`, an abort of `link` or a stop. True when the link
    /// was aborted (the flag is then cleared).
    bool sleep(Link& link, Clock::time_point until);
    /// Wakes every wait (the server is stopping).
    void wakeAll();

private:
    /// Caller holds m_mutex: waits until no other link holds the lock or the time is up.
    bool waitFree(std::unique_lock<std::mutex>& lock, Instrument instrument, int id, uint32_t waitMs);

    const std::atomic<bool>& m_stopping;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;  ///< lock released, abort, stop
    std::map<int, std::shared_ptr<Link>> m_links;
    int m_lockOwner[kInstrumentCount] = {0, 0, 0};
    int m_nextId = 1;
};

}  // namespace bench
}  // namespace quarnel
