// Helpers shared by the tests of the daemon and of its storage interface.
#pragma once

#include "result_dictionary.hpp"
#include "status_mapping.hpp"
#include "stdout_capture.hpp"

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <string>

namespace vuno::testing {

// Runs `io` until `done` holds; false when `timeout` ran out first.
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

// "Error: ErrorMessage" of an error reply, which holds these two strings
// and nothing else.
inline std::string ErrorText(const dbus::ResultDictionary &reply) {
    if (reply.size() != 2 ||
        reply.count(dbus::kErrorKey) + reply.count(dbus::kErrorMessageKey) != 2) {
        return "not an error reply";
    }
    return reply.at(dbus::kErrorKey).get<std::string>() + ": " +
           reply.at(dbus::kErrorMessageKey).get<std::string>();
}

} // namespace vuno::testing
