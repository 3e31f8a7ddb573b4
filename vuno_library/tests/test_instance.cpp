#include "bmc_me_over_mctp.h"
#include "fake_platform.hpp"
#include "library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

TEST(Instance, RefusesIncompleteCallbackTablesWithoutALine) {
    FakePlatform platform;
    vuno_instance *instance = nullptr;
    for (size_t entry = 0; entry < sizeof(vuno_platform_callbacks) / sizeof(void *); ++entry) {
        vuno_platform_callbacks table = platform.callbacks;
        std::fill_n(reinterpret_cast<char *>(&table) + entry * sizeof(void *), sizeof(void *), 0);
        EXPECT_EQ(vuno_initialize(&instance, nullptr, &table), VUNO_STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(vuno_initialize(&instance, nullptr, nullptr), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(vuno_initialize(nullptr, nullptr, &platform.callbacks),
              VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(vuno_deinitialize(nullptr), VUNO_STATUS_INVALID_PARAMETER);
    vuno_timer_tick(nullptr);
    EXPECT_EQ(instance, nullptr);
    EXPECT_TRUE(platform.logs.empty());
}

TEST(Instance, DeinitializeReportsTheFirstLayerErrorAndTearsDownTheRest) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    platform.instance = nullptr;
    ASSERT_EQ(bmc_me_deinitialize(instance), VUNO_STATUS_SUCCESS);
    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_INVALID_PARAMETER);
}

} // namespace
} // namespace vuno::testing
