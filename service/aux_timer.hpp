// The library's periodic timer: a coroutine on the event loop that calls
// the library's handler, then waits one period from the end of that call.
#pragma once

#include "steady_wait.hpp"
#include "vuno.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>

#include <chrono>
#include <memory>

namespace vuno {

class AuxTimer : public std::enable_shared_from_this<AuxTimer> {
  public:
    AuxTimer(boost::asio::io_context &io, void *argument, vuno_timer_handler handler,
             std::chrono::steady_clock::duration period);
    AuxTimer(const AuxTimer &) = delete;
    AuxTimer &operator=(const AuxTimer &) = delete;

    // Starts the coroutine; its first call comes as soon as the loop runs it.
    void Start();
    // After this returns the handler is not called again.
    void Stop() { timer_.Stop(); }

  private:
    void TimerHandler(boost::asio::yield_context yield);

    boost::asio::io_context &io_;
    void *argument_;
    std::chrono::steady_clock::duration period_;
    vuno_timer_handler handler_;
    CoroutineTimer timer_;
};

} // namespace vuno
