// Helpers shared by the tests of the daemon and of its storage interface.
#pragma once

#include "result_dictionary.hpp"
#include "status_mapping.hpp"
#include "stdout_capture.hpp"

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

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

// An error reply holds the two string entries and nothing else.
inline void ExpectErrorDictionary(const dbus::ResultDictionary &reply, const std::string &name,
                                  const std::string &message) {
    ASSERT_EQ(reply.size(), 2u);
    ASSERT_EQ(reply.count(dbus::kErrorKey), 1u);
    ASSERT_EQ(reply.count(dbus::kErrorMessageKey), 1u);
    ASSERT_TRUE(reply.at(dbus::kErrorKey).containsValueOfType<std::string>());
    ASSERT_TRUE(reply.at(dbus::kErrorMessageKey).containsValueOfType<std::string>());
    EXPECT_EQ(reply.at(dbus::kErrorKey).get<std::string>(), name);
    EXPECT_EQ(reply.at(dbus::kErrorMessageKey).get<std::string>(), message);
}

} // namespace vuno::testing
