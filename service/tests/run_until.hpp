// Runs an io_context until a condition holds, for a bounded time.
#pragma once

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>

namespace vuno::testing {

// True when `done` held before `timeout` ran out.
inline bool RunUntil(boost::asio::io_context &io, const std::function<bool()> &done,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        io.restart();
        io.run_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs whatever becomes due during `duration`.
inline void RunFor(boost::asio::io_context &io, std::chrono::milliseconds duration) {
    RunUntil(
        io, [] { return false; }, duration);
}

} // namespace vuno::testing
