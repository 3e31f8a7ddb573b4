// Waits of the daemon's coroutines on steady-clock timers.
#pragma once

#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>

namespace vuno {

// `delay` from now, or the clock's last point when that lies beyond it.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::steady_clock::duration delay);

// Suspends the calling coroutine for `delay` on `timer`; false when the wait
// was cancelled instead of running out.
bool WaitFor(boost::asio::steady_timer &timer, std::chrono::steady_clock::duration delay,
             boost::asio::yield_context yield);

} // namespace vuno
