#include "steady_wait.hpp"

namespace vuno {

std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::steady_clock::duration delay) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    if (delay > Clock::time_point::max() - now) {
        return Clock::time_point::max();
    }
    return now + delay;
}

bool CoroutineTimer::Wait(std::chrono::steady_clock::duration delay,
                          boost::asio::yield_context yield) {
    if (stopped_) {
        return false;
    }
    boost::system::error_code ignored;
    timer_.expires_at(DeadlineAfter(delay));
    timer_.async_wait(yield[ignored]);
    return !stopped_;
}

void CoroutineTimer::Stop() {
    stopped_ = true;
    timer_.cancel();
}

void RunReadyHandlers(boost::asio::io_context &io) {
    io.restart();
    while (io.poll() > 0) {
        io.restart();
    }
}

} // namespace vuno
