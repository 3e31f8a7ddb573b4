// The host's storage in the BMC's own inventory and event log. While the
// host link is up, the mirror reads the whole inventory once, then holds
// one subscription of its own to the host's events with one GetEvents at a
// time; each event goes to the event log and refreshes what it names.
//
// Its cost on the host's limits: one command identifier, which is also the
// one held GetEvents, since the mirror never has more than one request
// outstanding. Its requests give way to client calls: none is issued while
// a client call other than a held GetEvents waits for the host.
#pragma once

#include "bus_loop.hpp"
#include "host_storage.hpp"
#include "journal.hpp"
#include "object_publisher.hpp"
#include "result_dictionary.hpp"
#include "steady_wait.hpp"
#include "vuno.h"

#include <boost/asio/spawn.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vuno::inventory {

struct MirrorPeriods {
    // How often a request's completion and the clients' calls are looked at.
    std::chrono::steady_clock::duration poll = std::chrono::milliseconds(50);
    // The pause before subscribing again after the link or the host went.
    std::chrono::steady_clock::duration retry = std::chrono::seconds(2);
};

class Mirror {
  public:
    Mirror(std::shared_ptr<dbus::BusLoop> bus, vuno_instance *instance, JournalWriter journal,
           MirrorPeriods periods = {});
    Mirror(const Mirror &) = delete;
    Mirror &operator=(const Mirror &) = delete;

    // Spawns the mirror's coroutine, which uses this object until it returns.
    void Start();
    // The coroutine returns at its next resumption. A request still
    // outstanding keeps writing into this object: destroy it only after the
    // library is gone.
    void Stop() { timer_.Stop(); }

    // How a request of the mirror ended.
    struct Outcome {
        uint32_t status = VUNO_STATUS_SUCCESS;
        uint32_t ssiStatus = 0;
        dbus::ResultDictionary result;
        bool stopped = false;

        static Outcome Ended(uint32_t status, uint32_t ssiStatus = 0) {
            Outcome outcome;
            outcome.status = status;
            outcome.ssiStatus = ssiStatus;
            return outcome;
        }
        static Outcome Stopped() {
            Outcome outcome;
            outcome.stopped = true;
            return outcome;
        }
        bool Succeeded() const;
    };
    // The one request in flight; the library's completion fills it.
    struct Pending {
        bool done = false;
        Outcome outcome;
    };
    // Hands one request to the library with `pending` as its context.
    using Issuer = std::function<int(vuno_instance *instance, Pending *pending)>;

  private:
    void Run(boost::asio::yield_context yield);
    // One subscription from its creation until the link, the host or the
    // subscription goes.
    void Follow(boost::asio::yield_context yield);
    bool Subscribe(boost::asio::yield_context yield);
    bool ReadAll(boost::asio::yield_context yield);
    bool Read(Kind kind, boost::asio::yield_context yield);
    void HandleEvents(const dbus::ResultDictionary &events, boost::asio::yield_context yield);
    void RefreshOne(Kind kind, const std::string &id, boost::asio::yield_context yield);
    Outcome Submit(const Issuer &issue, boost::asio::yield_context yield);
    bool WaitForClients(boost::asio::yield_context yield);
    void LinkLost();
    void Publish();

    std::shared_ptr<dbus::BusLoop> bus_;
    vuno_instance *instance_;
    JournalWriter journal_;
    MirrorPeriods periods_;
    CoroutineTimer timer_;
    ObjectPublisher publisher_;
    HostStorage storage_;
    Pending pending_;
    std::optional<std::string> subscription_;
};

} // namespace vuno::inventory
