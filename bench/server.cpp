// The bench's network front: binds every listener, accepts connections and
// hands each to the server of its protocol on a thread of its own.
#include "server.h"

#include "hislipserver.h"
#include "portmapper.h"
#include "rawsocket.h"
#include "vxi11core.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quarnel {
namespace bench {

Server::Server(Core& core)
    : m_core(core), m_links(m_stopping),
      m_hislip(new HislipSessions), m_context{core, m_links, *m_hislip, m_ports, -1, m_stopping}
{
}

Server::~Server()
{
    stop();
}

bool Server::start(std::string& error)
{
    m_stopping = false;
    if (::pipe2(m_wakePipe, O_CLOEXEC) < 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    m_context.wakeFd = m_wakePipe[0];
    const Options& o = m_core.options;
    const std::string addresses[kInstrumentCount] = {o.scopeAddress, o.analyzerAddress, o.videoAddress};
    auto addListener = [&](int fd, Role role, int i) {
        std::unique_ptr<Listener> l(new Listener);
        l->fd = fd;
        l->role = role;
        l->instrument = static_cast<Instrument>(i);
        m_listeners.push_back(std::move(l));
    };
    for (int i = 0; i < kInstrumentCount; ++i) {
        for (int j = 0; j < i; ++j)
            if (addresses[i] == addresses[j]) {
                error = "the " + std::string(instrumentName(static_cast<Instrument>(i))) + " and the "
                        + instrumentName(static_cast<Instrument>(j)) + " need different addresses (" + addresses[i]
                        + ")";
                stop();
                return false;
            }
        int fd;
        uint16_t bound;
        std::string e = bindListener(addresses[i], o.corePort, false, fd, bound);
        if (e.empty()) {
            addListener(fd, Role::Core, i);
            m_ports[i].core = bound;
            e = bindListener(addresses[i], 0, false, fd, bound);
        }
        if (e.empty()) {
            addListener(fd, Role::Abort, i);
            m_ports[i].abort = bound;
            if (o.portmapperPort) {
                e = bindListener(addresses[i], o.portmapperPort, false, fd, bound);
                if (e.empty()) {
                    addListener(fd, Role::PortmapTcp, i);
                    e = bindListener(addresses[i], o.portmapperPort, true, fd, bound);
                    if (e.empty())
                        addListener(fd, Role::PortmapUdp, i);
                }
            }
        }
        if (e.empty() && o.rawPort) {
            e = bindListener(addresses[i], o.rawPort, false, fd, bound);
            if (e.empty())
                addListener(fd, Role::Raw, i);
        }
        if (e.empty() && o.hislipPort) {
            e = bindListener(addresses[i], o.hislipPort, false, fd, bound);
            if (e.empty()) {
                addListener(fd, Role::Hislip, i);
                m_ports[i].hislip = bound;
            }
        }
        if (!e.empty()) {
            error = e;
            stop();
            return false;
        }
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void Server::stop()
{
    m_stopping = true;
    if (m_wakePipe[1] >= 0) {
        char c = 1;
        ssize_t ignored = ::write(m_wakePipe[1], &c, 1);
        (void)ignored;
    }
    m_links.wakeAll();
    if (m_acceptor.joinable())
        m_acceptor.join();
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        for (auto& c : m_connections)
            ::shutdown(c->fd, SHUT_RDWR);
    }
    m_links.wakeAll();
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        all.swap(m_connections);
    }
    for (auto& c : all) {
        if (c->thread.joinable())
            c->thread.join();
        ::close(c->fd);
    }
    for (auto& l : m_listeners)
        ::close(l->fd);
    m_listeners.clear();
    for (int& fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    for (auto& p : m_ports)
        p = InstrumentPorts();
}

void Server::acceptLoop()
{
    std::vector<pollfd> fds;
    std::vector<Listener*> owners;
    for (auto& l : m_listeners) {
        fds.push_back(pollfd{l->fd, POLLIN, 0});
        owners.push_back(l.get());
    }
    fds.push_back(pollfd{m_wakePipe[0], POLLIN, 0});
    while (!m_stopping) {
        int r = ::poll(fds.data(), fds.size(), 1000);
        if (r < 0 && errno != EINTR)
            break;
        if (fds.back().revents)
            break;
        // Reap finished connections so their threads and sockets go.
        {
            std::lock_guard<std::mutex> lock(m_connMutex);
            for (auto it = m_connections.begin(); it != m_connections.end();) {
                if ((*it)->done) {
                    (*it)->thread.join();
                    ::close((*it)->fd);
                    it = m_connections.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (r <= 0)
            continue;
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Listener* l = owners[i];
            if (l->role == Role::PortmapUdp) {
                serveUdpPortmap(m_context, l->fd, l->instrument);
                continue;
            }
            sockaddr_in peer;
            socklen_t len = sizeof peer;
            int fd = ::accept4(l->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            if (l->active >= kMaxConnectionsPerListener) {
                ::close(fd);
                continue;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++l->active;
            int id = m_core.nextConnection++;
            std::unique_ptr<Connection> c(new Connection);
            c->fd = fd;
            Connection* raw = c.get();
            std::string name = peerName(peer);
            std::lock_guard<std::mutex> lock(m_connMutex);
            c->thread = std::thread([this, l, raw, id, name] { runConnection(l, raw, id, name); });
            m_connections.push_back(std::move(c));
        }
    }
}

void Server::runConnection(Listener* l, Connection* c, int id, std::string peer)
{
    const Transport transport = l->role == Role::Raw      ? Transport::Socket
                                : l->role == Role::Hislip ? Transport::HiSlip
                                                          : Transport::Vxi11;
    const bool logged = l->role == Role::Core || l->role == Role::Raw || l->role == Role::Hislip;
    if (logged)
        m_core.log(l->instrument, LogKind::Connection, transport, id, 0, "open", peer);
    switch (l->role) {
    case Role::PortmapTcp:
        servePortmapTcp(m_context, c->fd, l->instrument);
        break;
    case Role::Core:
        serveVxi11Core(m_context, c->fd, l->instrument, id);
        break;
    case Role::Abort:
        serveVxi11Abort(m_context, c->fd, l->instrument, id);
        break;
    case Role::Raw:
        serveRawSocket(m_context, c->fd, l->instrument, id);
        break;
    case Role::Hislip:
        serveHislip(m_context, c->fd, l->instrument, id);
        break;
    case Role::PortmapUdp:
        break;
    }
    ::shutdown(c->fd, SHUT_RDWR);
    if (logged)
        m_core.log(l->instrument, LogKind::Connection, transport, id, 0, "close", peer);
    --l->active;
    c->done = true;
}

}  // namespace bench
}  // namespace quarnel
