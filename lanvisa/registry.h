// The process-wide table of resource-manager and instrument sessions.
// Handles are never reused within a process, so a stale handle is always
// VI_ERROR_INV_OBJECT and never someone else's session.
#pragma once

#include "session.h"
#include "visa.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace lanvisa {

class Registry
{
public:
    static Registry& instance();

    ViStatus openResourceManager(ViSession& vi);
    /// Parses the name, connects (outside the table lock) and registers the session.
    ViStatus openSession(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 timeoutMs, ViSession& vi);
    /// Closes an instrument session, or a resource manager with all its sessions.
    ViStatus close(ViObject vi);

    std::shared_ptr<Session> session(ViSession vi) const;
    bool isResourceManager(ViObject vi) const;

    /// Attributes of a resource-manager session.
    ViStatus setRmAttribute(ViObject vi, ViAttr attribute, ViAttrState value);
    ViStatus getRmAttribute(ViObject vi, ViAttr attribute, void* value) const;

private:
    struct ResourceManager
    {
        std::set<ViSession> sessions;
        uint32_t timeoutMs = kDefaultTimeoutMs;
        uint64_t userData = 0;
    };

    ViSession newHandle();

    mutable std::mutex m_mutex;
    ViSession m_lastHandle = VI_NULL;
    std::map<ViSession, ResourceManager> m_managers;
    std::map<ViSession, std::shared_ptr<Session>> m_sessions;
};

}  // namespace lanvisa
