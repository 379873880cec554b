// One deadline per VISA operation: every wait inside the operation takes only
// what is left of it.
#pragma once

#include <chrono>
#include <cstdint>

namespace lanvisa {

class Deadline
{
public:
    using Clock = std::chrono::steady_clock;
    /// VISA time-out value in ms; 0xFFFFFFFF (VI_TMO_INFINITE) never expires.
    static Deadline afterMs(uint32_t timeoutMs);
    static Deadline never() { return Deadline(); }

    bool infinite() const { return m_infinite; }
    bool expired() const { return !m_infinite && Clock::now() >= m_at; }
    /// Milliseconds left, rounded up; 0xFFFFFFFF when infinite.
    uint32_t remainingMs() const;
    /// Argument for poll(): -1 when infinite, else the rounded-up remainder.
    int pollTimeoutMs() const;
    /// The same deadline pushed back by ms (used for the grace period in which
    /// a VXI-11 server reports its own io_timeout before the client gives up).
    Deadline extendedBy(uint32_t ms) const;

private:
    Deadline() = default;
    Clock::time_point m_at{};
    bool m_infinite = true;
};

}  // namespace lanvisa
