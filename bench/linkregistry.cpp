#include "linkregistry.h"

#include <algorithm>

namespace quarnel {
namespace bench {

namespace {
/// Longest lock wait honoured, whatever a client asks for.
constexpr uint32_t kMaxLockWaitMs = 24u * 3600u * 1000u;
}  // namespace

std::shared_ptr<LinkRegistry::Link> LinkRegistry::add(Instrument instrument, int connection, int& id)
{
    auto link = std::make_shared<Link>();
    link->instrument = instrument;
    link->connection = connection;
    std::lock_guard<std::mutex> lock(m_mutex);
    id = m_nextId++;
    m_links[id] = link;
    return link;
}

void LinkRegistry::remove(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int& owner : m_lockOwner)
        if (owner == id)
            owner = 0;
    m_links.erase(id);
    m_cv.notify_all();
}

bool LinkRegistry::abort(Instrument instrument, int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_links.find(id);
    const bool known = it != m_links.end() && it->second->instrument == instrument;
    if (known)
        it->second->abort = true;
    m_cv.notify_all();
    return known;
}

bool LinkRegistry::waitFree(std::unique_lock<std::mutex>& lock, Instrument instrument, int id, uint32_t waitMs)
{
    const int& owner = m_lockOwner[static_cast<int>(instrument)];
    if (owner == 0 || owner == id)
        return true;
    if (waitMs == 0)
        return false;
    const auto until = Clock::now() + std::chrono::milliseconds(std::min(waitMs, kMaxLockWaitMs));
    m_cv.wait_until(lock, until, [&] { return owner == 0 || m_stopping; });
    return owner == 0;
}

bool LinkRegistry::mayUse(Instrument instrument, int id, uint32_t waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return waitFree(lock, instrument, id, waitMs);
}

bool LinkRegistry::lock(Instrument instrument, int id, uint32_t waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!waitFree(lock, instrument, id, waitMs))
        return false;
    m_lockOwner[static_cast<int>(instrument)] = id;
    return true;
}

bool LinkRegistry::unlock(Instrument instrument, int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int& owner = m_lockOwner[static_cast<int>(instrument)];
    if (owner != id)
        return false;
    owner = 0;
    m_cv.notify_all();
    return true;
}

bool LinkRegistry::holds(Instrument instrument, int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lockOwner[static_cast<int>(instrument)] == id;
}

bool LinkRegistry::locked(Instrument instrument) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lockOwner[static_cast<int>(instrument)] != 0;
}

bool LinkRegistry::sleep(Link& link, Clock::time_point until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_until(lock, until, [&] { return link.abort.load() || m_stopping; });
    return link.abort.exchange(false);
}

void LinkRegistry::wakeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cv.notify_all();
}

}  // namespace bench
}  // namespace quarnel
