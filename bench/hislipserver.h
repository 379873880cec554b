// HiSLIP server of each instrument address (synchronized mode). A session is
// a synchronous and an asynchronous connection tied by the session id of
// InitializeResponse; either connection ending ends the session.
//
// The server holds clients to the protocol's order, so a client that breaks
// it shows up in tests: Initialize first (a second one is fatal), data only
// once both channels are up, MessageIDs advancing by 2 from 0xFFFFFF00 (and
// again after a device clear), payloads within the announced maximum.
#pragma once

#include "linkregistry.h"
#include "network.h"

#include <map>
#include <memory>
#include <mutex>

namespace quarnel {
namespace bench {

/// Sessions served at once per instrument; more get FatalError 4.
constexpr int kMaxHislipSessions = 16;

/// State shared by the two connections of one session.
struct HislipSession
{
    uint16_t id = 0;
    Instrument instrument = Instrument::Oscilloscope;
    int linkId = 0;  ///< in the link registry (locks)
    std::shared_ptr<LinkRegistry::Link> link;

    std::mutex mutex;  ///< guards everything below
    LinkState state;
    int syncFd = -1, asyncFd = -1;  ///< -1 once that connection has ended
    uint32_t expectedId = 0;        ///< MessageID the next Data/DataEND/Trigger must carry
    uint32_t replyId = 0;           ///< MessageID the pending reply answers
    uint64_t clientMaxMessage = 0;  ///< 0: not announced
    bool clearing = false;          ///< between AsyncDeviceClear and DeviceClearComplete
};

/// The bench's HiSLIP sessions, by id. Thread-safe.
class HislipSessions
{
public:
    /// A new session, or nullptr when the instrument has too many.
    std::shared_ptr<HislipSession> create(Instrument instrument);
    /// The session the asynchronous connection `fd` joins; nullptr when the id
    /// is unknown, belongs to another instrument or has its channel already.
    std::shared_ptr<HislipSession> attach(uint16_t id, Instrument instrument, int fd);
    void remove(uint16_t id);

private:
    std::mutex m_mutex;
    std::map<uint16_t, std::shared_ptr<HislipSession>> m_sessions;
    uint16_t m_nextId = 1;
};

void serveHislip(const ServerContext& ctx, int fd, Instrument instrument, int connection);

}  // namespace bench
}  // namespace quarnel
