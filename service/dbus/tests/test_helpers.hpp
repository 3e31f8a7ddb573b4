// Helpers shared by the tests of the storage interface's values.
#pragma once

#include "result_dictionary.hpp"
#include "status_mapping.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

namespace vuno::dbus::testing {

// Collects what the code under test writes to std::cout while in scope.
class StdoutCapture {
  public:
    StdoutCapture() : previous_(std::cout.rdbuf(captured_.rdbuf())) {}
    ~StdoutCapture() { std::cout.rdbuf(previous_); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string Text() const { return captured_.str(); }

  private:
    std::ostringstream captured_;
    std::streambuf *previous_;
};

// An error reply holds the two string entries and nothing else.
inline void ExpectErrorDictionary(const ResultDictionary &reply, const std::string &name,
                                  const std::string &message) {
    ASSERT_EQ(reply.size(), 2u);
    ASSERT_EQ(reply.count(kErrorKey), 1u);
    ASSERT_EQ(reply.count(kErrorMessageKey), 1u);
    ASSERT_TRUE(reply.at(kErrorKey).containsValueOfType<std::string>());
    ASSERT_TRUE(reply.at(kErrorMessageKey).containsValueOfType<std::string>());
    EXPECT_EQ(reply.at(kErrorKey).get<std::string>(), name);
    EXPECT_EQ(reply.at(kErrorMessageKey).get<std::string>(), message);
}

} // namespace vuno::dbus::testing
