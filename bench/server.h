// Network side of the bench: per instrument address a portmapper (TCP and UDP),
// a VXI-11 core channel, its abort channel and a raw SCPI socket. One acceptor
// thread polls every listener; each connection gets its own thread.
#ifndef QUARNEL_BENCH_SERVER_H
#define QUARNEL_BENCH_SERVER_H

#include "core.h"

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quarnel {
namespace bench {

/// Bounds of Options::maxRecvSize (VXI-11 B.6.3 asks for at least 1024).
constexpr uint32_t kMinRecvSize = 1024;
constexpr uint32_t kMaxRecvSizeLimit = 16u << 20;
/// Largest data part of one device_read reply; longer replies need more reads.
constexpr uint32_t kMaxReadChunk = 16u << 20;
/// Connections served at once per listener; more are closed on accept.
constexpr int kMaxConnectionsPerListener = 64;
/// Links one core connection may hold.
constexpr int kMaxLinksPerConnection = 16;

class Server
{
public:
    explicit Server(Core &core);
    ~Server();

    /// Binds everything; on failure closes what was opened and explains.
    bool start(std::string &error);
    void stop();
    uint16_t corePort(Instrument instrument) const { return m_ports[static_cast<int>(instrument)].core; }
    uint16_t abortPort(Instrument instrument) const { return m_ports[static_cast<int>(instrument)].abort; }

    /// Shared state of one VXI-11 link, reachable from the abort channel.
    struct LinkShared
    {
        Instrument instrument = Instrument::Oscilloscope;
        std::atomic<bool> abort{false};
        int connection = 0;
    };

private:
    enum class Role { PortmapTcp, PortmapUdp, Core, Abort, Raw };
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
    struct Ports
    {
        uint16_t core = 0, abort = 0;
    };

    void acceptLoop();
    void serveUdpPortmap(Listener &l);
    void runConnection(Listener *l, Connection *c, int connectionId, std::string peer);
    template <class Handle> void serveRecords(int fd, Handle &&handle);
    void servePortmapTcp(int fd, Instrument instrument);
    void serveCore(int fd, Instrument instrument, int connectionId);
    void serveAbort(int fd, Instrument instrument, int connectionId);
    void serveRaw(int fd, Instrument instrument, int connectionId);
    /// Portmapper call on either transport; returns the reply body (empty: none).
    std::vector<uint8_t> portmapReply(const uint8_t *data, size_t size, Instrument instrument);
    std::string bindListener(const std::string &address, uint16_t port, bool udp, int &fd, uint16_t &bound);
    /// Sleeps up to `ms`, returning early (false) when the server stops.
    bool interruptibleSleep(int ms);

    friend class CoreSession;
    friend class RawSession;

    Core &m_core;
    std::atomic<bool> m_stopping{false};
    int m_wakePipe[2] = {-1, -1};
    std::thread m_acceptor;
    std::list<std::unique_ptr<Listener>> m_listeners;
    std::mutex m_connMutex;
    std::list<std::unique_ptr<Connection>> m_connections;
    Ports m_ports[kInstrumentCount];

public:
    // Link registry, shared by the core and abort channels.
    std::mutex linkMutex;
    std::condition_variable linkCv; ///< wakes reads waiting for replies, locks, aborts, stop
    std::map<int, std::shared_ptr<LinkShared>> links;
    int lockOwner[kInstrumentCount] = {0, 0, 0};
    int nextLinkId = 1;
    int wakeFd() const { return m_wakePipe[0]; }
    bool stopping() const { return m_stopping.load(); }
};

} // namespace bench
} // namespace quarnel

#endif
