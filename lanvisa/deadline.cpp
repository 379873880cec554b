#include "deadline.h"

#include <climits>

namespace lanvisa {

namespace {
constexpr uint32_t kInfiniteMs = 0xFFFFFFFFu;
}

Deadline Deadline::afterMs(uint32_t timeoutMs)
{
    Deadline d;
    if (timeoutMs == kInfiniteMs)
        return d;
    d.m_infinite = false;
    d.m_at = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return d;
}

uint32_t Deadline::remainingMs() const
{
    if (m_infinite)
        return kInfiniteMs;
    const auto left = m_at - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(left + std::chrono::microseconds(999)).count();
    return ms >= static_cast<long long>(kInfiniteMs) ? kInfiniteMs - 1 : static_cast<uint32_t>(ms);
}

int Deadline::pollTimeoutMs() const
{
    if (m_infinite)
        return -1;
    const uint32_t ms = remainingMs();
    return ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

Deadline Deadline::extendedBy(uint32_t ms) const
{
    Deadline d = *this;
    if (!d.m_infinite)
        d.m_at += std::chrono::milliseconds(ms);
    return d;
}

}  // namespace lanvisa
