// The loop that moves the library's outgoing messages on: one processing
// step, then 10 ms from the end of that step while the library has more to
// do. With nothing to send or hand over it sleeps until something that
// entered the library gave it work, and the next step still comes no
// sooner than 10 ms after the last one.
#pragma once

#include "vuno.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>

namespace vuno {

class RequestProcessing {
  public:
    static constexpr auto kPeriod = std::chrono::milliseconds(10);

    RequestProcessing(boost::asio::io_context &io, vuno_instance *instance)
        : io_(io), instance_(instance), timer_(io) {}
    RequestProcessing(const RequestProcessing &) = delete;
    RequestProcessing &operator=(const RequestProcessing &) = delete;

    // Spawns the ProcessRequests coroutine, which uses this object until it
    // returns.
    void Start();
    // Call after anything that entered the library: ends the sleep if the
    // library now has work. Cheap enough to call after every handler.
    void WakeIfWorkPending();
    // The coroutine returns at its next resumption.
    void Stop();

    // Runs `io` until it stops, looking for new work after each handler
    // (work can only appear inside one), and calls `afterEachHandler` too.
    void RunLoop(const std::function<void()> &afterEachHandler = {});

  private:
    void ProcessRequests(boost::asio::yield_context yield);
    void WaitUntil(std::chrono::steady_clock::time_point deadline,
                   boost::asio::yield_context yield);

    boost::asio::io_context &io_;
    vuno_instance *instance_;
    boost::asio::steady_timer timer_;
    bool sleeping_ = false;
    bool stopped_ = false;
};

} // namespace vuno
