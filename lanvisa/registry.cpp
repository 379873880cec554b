#include "registry.h"

#include "rsrcname.h"

#include <cstring>
#include <vector>

namespace lanvisa {

namespace {
constexpr ViAccessMode kSupportedModes = VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG;
}  // namespace

Registry& Registry::instance()
{
    static Registry registry;
    return registry;
}

ViSession Registry::newHandle()
{
    // Caller holds m_mutex. 2^32 - 1 opens before a wrap; skip VI_NULL and live handles anyway.
    do {
        ++m_lastHandle;
    } while (m_lastHandle == VI_NULL || m_managers.count(m_lastHandle) || m_sessions.count(m_lastHandle));
    return m_lastHandle;
}

ViStatus Registry::openResourceManager(ViSession& vi)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    vi = newHandle();
    m_managers[vi] = ResourceManager();
    return VI_SUCCESS;
}

ViStatus Registry::openSession(ViSession rm, const char* name, ViAccessMode mode, ViUInt32 timeoutMs, ViSession& vi)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_managers.count(rm))
            return m_sessions.count(rm) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    }
    ResourceName parsed;
    if (name == nullptr || !parseResourceName(name, std::strlen(name), parsed))
        return VI_ERROR_INV_RSRC_NAME;
    if ((mode & ~kSupportedModes) != 0)
        return VI_ERROR_INV_ACC_MODE;
    auto session = std::make_shared<Session>(rm, parsed, makeTransport(parsed));
    const ViStatus st = session->open(timeoutMs, (mode & VI_EXCLUSIVE_LOCK) != 0);
    if (st < VI_SUCCESS)
        return st;

    std::lock_guard<std::mutex> lock(m_mutex);
    auto manager = m_managers.find(rm);
    if (manager == m_managers.end())
        return VI_ERROR_INV_OBJECT;  // the manager was closed while we connected; session closes on release
    vi = newHandle();
    session->setHandle(vi);
    m_sessions[vi] = session;
    manager->second.sessions.insert(vi);
    return st;
}

ViStatus Registry::close(ViObject vi)
{
    if (vi == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    std::vector<std::shared_ptr<Session>> closing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto manager = m_managers.find(vi);
        if (manager != m_managers.end()) {
            for (ViSession s : manager->second.sessions) {
                auto it = m_sessions.find(s);
                if (it != m_sessions.end()) {
                    closing.push_back(it->second);
                    m_sessions.erase(it);
                }
            }
            m_managers.erase(manager);
        } else {
            auto it = m_sessions.find(vi);
            if (it == m_sessions.end())
                return VI_ERROR_INV_OBJECT;
            closing.push_back(it->second);
            auto owner = m_managers.find(it->second->resourceManager());
            if (owner != m_managers.end())
                owner->second.sessions.erase(vi);
            m_sessions.erase(it);
        }
    }
    // Outside the table lock: closing waits for a running operation on the session.
    for (auto& s : closing)
        s->close();
    return VI_SUCCESS;
}

std::shared_ptr<Session> Registry::session(ViSession vi) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(vi);
    return it == m_sessions.end() ? nullptr : it->second;
}

bool Registry::isResourceManager(ViObject vi) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_managers.count(vi) != 0;
}

ViStatus Registry::setRmAttribute(ViObject vi, ViAttr attribute, ViAttrState value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_managers.find(vi);
    if (it == m_managers.end())
        return VI_ERROR_INV_OBJECT;
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        if (value > VI_TMO_INFINITE)
            return VI_ERROR_NSUP_ATTR_STATE;
        it->second.timeoutMs = static_cast<uint32_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_USER_DATA:
        it->second.userData = value;
        return VI_SUCCESS;
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_MANF_ID:
        return VI_ERROR_ATTR_READONLY;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

ViStatus Registry::getRmAttribute(ViObject vi, ViAttr attribute, void* value) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_managers.find(vi);
    if (it == m_managers.end())
        return VI_ERROR_INV_OBJECT;
    switch (attribute) {
    case VI_ATTR_TMO_VALUE: {
        const ViUInt32 v = it->second.timeoutMs;
        std::memcpy(value, &v, sizeof v);
        return VI_SUCCESS;
    }
    case VI_ATTR_USER_DATA:
        std::memcpy(value, &it->second.userData, sizeof it->second.userData);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_SPEC_VERSION: {
        const ViVersion v =
            attribute == VI_ATTR_RSRC_IMPL_VERSION ? kImplementationVersion : static_cast<ViVersion>(VI_SPEC_VERSION);
        std::memcpy(value, &v, sizeof v);
        return VI_SUCCESS;
    }
    case VI_ATTR_RSRC_MANF_NAME:
        std::memcpy(value, kManufacturerName, sizeof kManufacturerName);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_ID: {
        const ViUInt16 v = 0;
        std::memcpy(value, &v, sizeof v);
        return VI_SUCCESS;
    }
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

}  // namespace lanvisa
