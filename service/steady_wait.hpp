// Waits of the daemon's coroutines on steady-clock timers.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>

namespace vuno {

// `delay` from now, or the clock's last point when that lies beyond it.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::steady_clock::duration delay);

// The timer behind one coroutine's waits. Stopping it ends the wait in
// progress at once and refuses every later one, so that the coroutine
// returns by itself: a coroutine torn down while suspended would have its
// stack unwound by an exception, which the daemon never relies on.
class CoroutineTimer {
  public:
    explicit CoroutineTimer(boost::asio::io_context &io) : timer_(io) {}

    // Suspends the calling coroutine for `delay`; false once stopped.
    bool Wait(std::chrono::steady_clock::duration delay, boost::asio::yield_context yield);
    void Stop();
    bool Stopped() const { return stopped_; }

  private:
    boost::asio::steady_timer timer_;
    bool stopped_ = false;
};

// Runs the handlers that are ready, and those they make ready, without
// waiting for anything else.
void RunReadyHandlers(boost::asio::io_context &io);

} // namespace vuno
