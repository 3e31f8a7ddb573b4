// Host connection supervisor: works through the candidate VMD devices until
// the host link is up, watches it, and moves on to the next candidate after
// a failure or a loss. Its destruction ends the library's life.
#pragma once

#include "steady_wait.hpp"
#include "vuno.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vuno {

// The library entry points the supervisor calls; fakes in tests.
struct SupervisorLibrary {
    std::function<int(vuno_instance *instance, uint32_t vmdLocation,
                      vuno_link_callback connectedCallback, void *connectedContext,
                      vuno_link_callback lostCallback, void *lostContext)>
        connectToHost = vuno_connect_to_host;
    std::function<int(vuno_instance *instance)> deinitialize = vuno_deinitialize;
};

struct SupervisorPeriods {
    std::chrono::steady_clock::duration resultPoll = std::chrono::seconds(1);
    std::chrono::steady_clock::duration pause = std::chrono::seconds(5);
};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    using Library = SupervisorLibrary;
    using Periods = SupervisorPeriods;

    Connection(boost::asio::io_context &io, vuno_instance *instance, Library library = {},
               Periods periods = {});
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Starts the supervision coroutine, which shares ownership of this object.
    void Check();
    // Ends the supervision: the coroutine returns at its next resumption
    // and lets go of the object.
    void Stop() { timer_.Stop(); }

    // Callbacks given to vuno_connect_to_host; the context is the supervisor.
    static void OnConnectResult(uint32_t status, void *context);
    static void OnConnectionLost(uint32_t status, void *context);

  private:
    void Supervise(boost::asio::yield_context yield);
    // False when the supervision was stopped while waiting for the result.
    bool Attempt(boost::asio::yield_context yield);
    void StartAttempt();
    void HandleConnectResult(uint32_t status);
    void HandleConnectionLost(uint32_t status);
    void AdvanceCandidate();

    std::vector<uint32_t> vmdLocations_;
    // The candidate for the next attempt; the end of the list wraps to its
    // start.
    size_t current_;
    bool resultReceived_ = false;
    bool connected_ = false;
    boost::asio::io_context &io_;
    CoroutineTimer timer_;
    vuno_instance *instance_;
    Library library_;
    Periods periods_;
};

} // namespace vuno
