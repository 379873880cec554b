// Network side of the bench: per instrument address a portmapper (TCP and UDP),
// a VXI-11 core channel, its abort channel, a raw SCPI socket and a HiSLIP
// port. One acceptor thread polls every listener; each connection gets its
// own thread running the server of its protocol (see network.h).
#pragma once

#include "core.h"
#include "linkregistry.h"
#include "network.h"
#include "vxi11core.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quarnel {
namespace bench {

/// Connections served at once per listener; more are closed on accept.
constexpr int kMaxConnectionsPerListener = 64;

class HislipSessions;

class Server
{
public:
    explicit Server(Core& core);
    ~Server();

    /// Binds everything; on failure closes what was opened and explains.
    bool start(std::string& error);
    void stop();
    uint16_t corePort(Instrument instrument) const { return m_ports[static_cast<int>(instrument)].core; }
    uint16_t abortPort(Instrument instrument) const { return m_ports[static_cast<int>(instrument)].abort; }
    uint16_t hislipPort(Instrument instrument) const { return m_ports[static_cast<int>(instrument)].hislip; }

private:
    enum class Role { PortmapTcp, PortmapUdp, Core, Abort, Raw, Hislip };
    struct Listener
    {
        int fd = -1;
        Role role = Role::Core;
        Instrument instrument = Instrument::Oscilloscope;
        std::atomic<int> active{0};
    };
    struct Connection
    {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void runConnection(Listener* l, Connection* c, int connectionId, std::string peer);

    Core& m_core;
    std::atomic<bool> m_stopping{false};
    LinkRegistry m_links;
    std::unique_ptr<HislipSessions> m_hislip;
    InstrumentPorts m_ports[kInstrumentCount];
    ServerContext m_context;
    int m_wakePipe[2] = {-1, -1};
    std::thread m_acceptor;
    std::list<std::unique_ptr<Listener>> m_listeners;
    std::mutex m_connMutex;
    std::list<std::unique_ptr<Connection>> m_connections;
};

}  // namespace bench
}  // namespace quarnel
