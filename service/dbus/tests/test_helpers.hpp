// Helpers shared by the tests of the storage interface's values.
#pragma once

#include "result_dictionary.hpp"
#include "status_mapping.hpp"
#include "stdout_capture.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vuno::dbus::testing {

using vuno::testing::StdoutCapture;

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
