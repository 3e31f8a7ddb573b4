// The loop that moves the library's outgoing messages on: one processing
// step, then 10 ms from the end of that step, for as long as it runs.
#pragma once

#include "steady_wait.hpp"
#include "vuno.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>

#include <chrono>

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
    void Stop() { timer_.Stop(); }

  private:
    void ProcessRequests(boost::asio::yield_context yield);

    boost::asio::io_context &io_;
    vuno_instance *instance_;
    CoroutineTimer timer_;
};

} // namespace vuno
