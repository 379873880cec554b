#include "resolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <list>
#include <memory>
#include <mutex>

namespace lanvisa {

namespace {

/// One asynchronous lookup. The C library's worker writes into it until the
/// request completes, so it must outlive an abandoned wait.
struct Lookup
{
    std::string host;
    addrinfo hints{};
    gaicb request{};

    explicit Lookup(const std::string& name) : host(name)
    {
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        request.ar_name = host.c_str();
        request.ar_request = &hints;
    }
    ~Lookup()
    {
        if (request.ar_result != nullptr)
            freeaddrinfo(request.ar_result);
    }
};

/// Lookups given up on before they completed; freed once they have.
class Abandoned
{
public:
    void add(std::unique_ptr<Lookup> lookup)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reapLocked();
        m_pending.push_back(std::move(lookup));
    }
    void reap()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        reapLocked();
    }
    ~Abandoned()
    {
        // Still-running requests are written by the C library's worker: they
        // must not be freed under it, so they are released, not deleted.
        std::lock_guard<std::mutex> lock(m_mutex);
        reapLocked();
        for (auto& l : m_pending)
            l.release();
    }

private:
    void reapLocked()
    {
        m_pending.remove_if([](const std::unique_ptr<Lookup>& l) { return gai_error(&l->request) != EAI_INPROGRESS; });
    }
    std::mutex m_mutex;
    std::list<std::unique_ptr<Lookup>> m_pending;
};

Abandoned& abandoned()
{
    static Abandoned list;
    return list;
}

}  // namespace

ViStatus resolveIpv4(const std::string& host, const Deadline& deadline, std::vector<in_addr>& addresses)
{
    addresses.clear();
    in_addr numeric{};
    if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
        addresses.push_back(numeric);
        return VI_SUCCESS;
    }
    abandoned().reap();
    auto lookup = std::make_unique<Lookup>(host);
    gaicb* list[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0)
        return VI_ERROR_SYSTEM_ERROR;
    while (gai_error(&lookup->request) == EAI_INPROGRESS) {
        if (deadline.expired()) {
            if (gai_cancel(&lookup->request) != EAI_CANCELED)
                abandoned().add(std::move(lookup));
            return VI_ERROR_TMO;
        }
        timespec wait{};
        const uint32_t ms = deadline.remainingMs();
        wait.tv_sec = ms / 1000;
        wait.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        gai_suspend(list, 1, deadline.infinite() ? nullptr : &wait);
    }
    if (gai_error(&lookup->request) != 0)
        return VI_ERROR_RSRC_NFOUND;
    for (const addrinfo* ai = lookup->request.ar_result; ai != nullptr; ai = ai->ai_next)
        if (ai->ai_family == AF_INET)
            addresses.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
    return addresses.empty() ? VI_ERROR_RSRC_NFOUND : VI_SUCCESS;
}

}  // namespace lanvisa
