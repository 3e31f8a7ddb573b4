#include "bmc_me_over_mctp.h"
#include "fake_platform.hpp"
#include "library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

using Lines = std::vector<std::string>;

const Lines kUp{"VUNO Initialize", "BMC-ME over MCTP Initialize", "Service Protocol Initialize",
                "SSI Initialize"};
const Lines kDown{"VUNO Deinitialize", "BMC-ME over MCTP Deinitialize",
                  "Service Protocol Deinitialize", "SSI Deinitialize"};

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

TEST(Instance, LayersComeUpAndGoDownInOrderAroundOneTimer) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    EXPECT_EQ(platform.messages(), kUp);
    EXPECT_EQ(platform.locksAlive, 3);
    EXPECT_EQ(platform.timerPeriod, 1u);
    EXPECT_EQ(platform.timerArgument, instance);
    platform.tick(3);
    platform.clearLogs();
    platform.destroyInstance();
    EXPECT_EQ(platform.messages(), kDown);
    EXPECT_EQ(platform.timerDestroyCalls, 1);
}

TEST(Instance, TimeOutScansGiveUpWhatTheyCannotLock) {
    FakePlatform platform;
    platform.createInstance();
    platform.clearLogs();
    platform.failLock = true;
    platform.tick();
    platform.failLock = false;
    std::vector<std::string> files;
    for (const auto &entry : platform.logs) {
        EXPECT_EQ(entry.message, "Cannot lock");
        files.push_back(entry.file);
    }
    EXPECT_EQ(files, (Lines{"bmc_me_over_mctp", "service_protocol", "service_protocol", "ssi"}));
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
    FakePlatform platform;
    platform.failTimerCreate = true;
    vuno_instance *instance = nullptr;
    vuno_initialize(&instance, platform.userContext(), &platform.callbacks);
    Lines expected = kUp;
    expected.push_back("Error during timer create.");
    expected.insert(expected.end(), kDown.begin(), kDown.end());
    EXPECT_EQ(platform.messages(), expected);
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
