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

bool WaitFor(boost::asio::steady_timer &timer, std::chrono::steady_clock::duration delay,
             boost::asio::yield_context yield) {
    boost::system::error_code error;
    timer.expires_at(DeadlineAfter(delay));
    timer.async_wait(yield[error]);
    return !error;
}

} // namespace vuno
