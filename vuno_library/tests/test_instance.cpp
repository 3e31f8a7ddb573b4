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

TEST(Instance, FailedInitializationTakesDownWhatWasBuilt) {
    for (int locks = 0; locks <= 3; ++locks) {
        SCOPED_TRACE(locks);
        FakePlatform platform;
        platform.failLockCreateAfter = locks < 3 ? locks : -1;
        platform.failTimerCreate = locks == 3;
        vuno_instance *instance = nullptr;
        EXPECT_EQ(vuno_initialize(&instance, platform.userContext(), &platform.callbacks),
                  locks < 3 ? VUNO_STATUS_LOCK_ERROR : VUNO_STATUS_INTERNAL_ERROR);
        EXPECT_EQ(platform.timerDestroyCalls, 1) << "called, with no timer";
        // Locks and timers are counted by the platform; the sanitizer build
        // catches a leaked instance or context.
    }
}

TEST(Instance, DeinitializeReportsTheFirstLayerErrorAndTearsDownTheRest) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    platform.instance = nullptr;
    ASSERT_EQ(bmc_me_deinitialize(instance), VUNO_STATUS_SUCCESS);
    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(platform.loggedError("BMC-ME not initialized"));
    EXPECT_TRUE(platform.logged("SSI Deinitialize"));
}

} // namespace
} // namespace vuno::testing
