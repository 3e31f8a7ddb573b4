#include "bmc_me_over_mctp.h"
#include "fake_platform.hpp"
#include "library.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using vuno::testing::FakePlatform;
using Lines = std::vector<std::string>;
using LevelledLines = std::vector<std::pair<int, std::string>>;

// The lines this file's own layer wrote, with their levels.
LevelledLines instanceLines(const FakePlatform &platform) {
    LevelledLines lines;
    for (const auto &entry : platform.logs) {
        if (entry.file == "vuno") {
            lines.emplace_back(entry.level, entry.message);
        }
    }
    return lines;
}

TEST(Instance, RefusesIncompleteCallbackTables) {
    const struct {
        const char *entry;
        std::function<void(vuno_platform_callbacks &)> clear;
    } entries[] = {
        {"log", [](auto &c) { c.log = nullptr; }},
        {"lock_create", [](auto &c) { c.lock_create = nullptr; }},
        {"lock_destroy", [](auto &c) { c.lock_destroy = nullptr; }},
        {"lock", [](auto &c) { c.lock = nullptr; }},
        {"unlock", [](auto &c) { c.unlock = nullptr; }},
        {"timer_create", [](auto &c) { c.timer_create = nullptr; }},
        {"timer_destroy", [](auto &c) { c.timer_destroy = nullptr; }},
        {"mctp_send", [](auto &c) { c.mctp_send = nullptr; }},
    };
    FakePlatform platform;
    int sentinel = 0;
    auto *const untouched = reinterpret_cast<vuno_instance *>(&sentinel);
    for (const auto &e : entries) {
        SCOPED_TRACE(e.entry);
        vuno_platform_callbacks table = platform.callbacks;
        e.clear(table);
        vuno_instance *instance = untouched;
        EXPECT_EQ(vuno_initialize(&instance, platform.userContext(), &table),
                  VUNO_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(instance, untouched);
    }

    vuno_instance *instance = untouched;
    EXPECT_EQ(vuno_initialize(&instance, platform.userContext(), nullptr),
              VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(instance, untouched);
    EXPECT_EQ(vuno_initialize(nullptr, platform.userContext(), &platform.callbacks),
              VUNO_STATUS_INVALID_PARAMETER);

    EXPECT_TRUE(platform.logs.empty());
    EXPECT_EQ(platform.locksAlive, 0);
    EXPECT_EQ(platform.timersAlive, 0);
}

TEST(Instance, NormalLifecycle) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(platform.locksAlive, 3) << "one lock per layer";
    EXPECT_EQ(platform.timersAlive, 1);
    EXPECT_EQ(platform.timerPeriod, 1u);
    EXPECT_EQ(platform.timerArgument, instance);
    EXPECT_EQ(instance->user_context, platform.userContext());
    EXPECT_NE(instance->me_ctx, nullptr);
    EXPECT_NE(instance->sp_ctx, nullptr);
    EXPECT_NE(instance->ssi_ctx, nullptr);
    EXPECT_EQ(platform.messages(), (Lines{"VUNO Initialize", "BMC-ME over MCTP Initialize",
                                          "Service Protocol Initialize", "SSI Initialize"}));

    // An idle instance ticks without complaint.
    platform.tick(3);
    EXPECT_FALSE(platform.loggedError("Cannot lock"));

    platform.clearLogs();
    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_SUCCESS);
    platform.instance = nullptr;
    EXPECT_EQ(platform.messages(), (Lines{"VUNO Deinitialize", "BMC-ME over MCTP Deinitialize",
                                          "Service Protocol Deinitialize", "SSI Deinitialize"}));
    EXPECT_EQ(platform.timerDestroyCalls, 1);
    EXPECT_EQ(platform.timersAlive, 0);
    EXPECT_EQ(platform.locksAlive, 0);
}

TEST(Instance, KeepsItsOwnCopyOfTheCallbacks) {
    FakePlatform platform;
    vuno_platform_callbacks table = platform.callbacks;
    vuno_instance *instance = nullptr;
    ASSERT_EQ(vuno_initialize(&instance, platform.userContext(), &table), VUNO_STATUS_SUCCESS);
    table = vuno_platform_callbacks{};
    platform.clearLogs();
    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_SUCCESS);
    EXPECT_TRUE(platform.logged("VUNO Deinitialize"));
}

// Where the log stood when the timer was stopped.
void (*fakeTimerDestroy)(void *) = nullptr;
size_t linesBeforeTimerDestroy = 0;
void recordingTimerDestroy(void *timer) {
    linesBeforeTimerDestroy = FakePlatform::current()->logs.size();
    fakeTimerDestroy(timer);
}

TEST(Instance, StopsTheTimerBeforeTakingLayersDown) {
    FakePlatform platform;
    fakeTimerDestroy = platform.callbacks.timer_destroy;
    platform.callbacks.timer_destroy = recordingTimerDestroy;
    vuno_instance *instance = platform.createInstance();
    ASSERT_NE(instance, nullptr);
    platform.clearLogs();
    platform.destroyInstance();
    EXPECT_EQ(linesBeforeTimerDestroy, 1u) << "only \"VUNO Deinitialize\" precedes it";
    EXPECT_GT(platform.logs.size(), 1u);
}

struct FailureCase {
    const char *what;
    int locksBeforeFailure; // -1: locks never fail
    bool timerFails;
    int status;
    Lines lines;
    LevelledLines ownLines;
};

void PrintTo(const FailureCase &c, std::ostream *os) {
    *os << c.what;
}

const LevelledLines kInitThenDeinit{{VUNO_LOG_DEBUG, "VUNO Initialize"},
                                    {VUNO_LOG_DEBUG, "VUNO Deinitialize"}};

class InitializationFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(InitializationFailure, TearsDownEverythingItBuilt) {
    const FailureCase &c = GetParam();
    FakePlatform platform;
    platform.failLockCreateAfter = c.locksBeforeFailure;
    platform.failTimerCreate = c.timerFails;

    vuno_instance *instance = nullptr;
    EXPECT_EQ(vuno_initialize(&instance, platform.userContext(), &platform.callbacks), c.status);

    EXPECT_EQ(instanceLines(platform), c.ownLines);
    EXPECT_EQ(platform.messages(), c.lines);
    EXPECT_EQ(platform.timerDestroyCalls, 1) << "timer_destroy is called, with no timer";
    EXPECT_EQ(platform.timersAlive, 0);
    EXPECT_EQ(platform.locksAlive, 0);
    // Leaks of the instance or a layer context show up in the sanitizer build.
}

INSTANTIATE_TEST_SUITE_P(
    Instance, InitializationFailure,
    ::testing::Values(
        FailureCase{"bmc_me_lock",
                    0,
                    false,
                    VUNO_STATUS_LOCK_ERROR,
                    {"VUNO Initialize", "BMC-ME over MCTP Initialize", "Lock not initialized",
                     "VUNO Deinitialize", "BMC-ME over MCTP Deinitialize",
                     "Service Protocol Deinitialize", "Service Protocol not initialized",
                     "SSI Deinitialize"},
                    kInitThenDeinit},
        FailureCase{"sp_lock",
                    1,
                    false,
                    VUNO_STATUS_LOCK_ERROR,
                    {"VUNO Initialize", "BMC-ME over MCTP Initialize",
                     "Service Protocol Initialize", "Lock not initialized", "VUNO Deinitialize",
                     "BMC-ME over MCTP Deinitialize", "Service Protocol Deinitialize",
                     "SSI Deinitialize"},
                    kInitThenDeinit},
        FailureCase{"ssi_lock",
                    2,
                    false,
                    VUNO_STATUS_LOCK_ERROR,
                    {"VUNO Initialize", "BMC-ME over MCTP Initialize",
                     "Service Protocol Initialize", "SSI Initialize", "Lock not initialized",
                     "VUNO Deinitialize", "BMC-ME over MCTP Deinitialize",
                     "Service Protocol Deinitialize", "SSI Deinitialize"},
                    kInitThenDeinit},
        FailureCase{"timer",
                    -1,
                    true,
                    VUNO_STATUS_INTERNAL_ERROR,
                    {"VUNO Initialize", "BMC-ME over MCTP Initialize",
                     "Service Protocol Initialize", "SSI Initialize", "Error during timer create.",
                     "VUNO Deinitialize", "BMC-ME over MCTP Deinitialize",
                     "Service Protocol Deinitialize", "SSI Deinitialize"},
                    {{VUNO_LOG_DEBUG, "VUNO Initialize"},
                     {VUNO_LOG_ERROR, "Error during timer create."},
                     {VUNO_LOG_DEBUG, "VUNO Deinitialize"}}}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return info.param.what; });

TEST(Instance, DeinitializeReportsFirstLayerErrorAndStillTearsDownTheRest) {
    FakePlatform platform;
    vuno_instance *instance = nullptr;
    ASSERT_EQ(vuno_initialize(&instance, platform.userContext(), &platform.callbacks),
              VUNO_STATUS_SUCCESS);
    // Take the first layer down early so that its second tear-down fails.
    ASSERT_EQ(bmc_me_deinitialize(instance), VUNO_STATUS_SUCCESS);
    platform.clearLogs();

    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(platform.messages(),
              (Lines{"VUNO Deinitialize", "BMC-ME over MCTP Deinitialize", "BMC-ME not initialized",
                     "Service Protocol Deinitialize", "SSI Deinitialize"}));
    EXPECT_EQ(platform.locksAlive, 0);
    EXPECT_EQ(platform.timersAlive, 0);
}

TEST(Instance, NullInstanceEntries) {
    FakePlatform platform;
    EXPECT_EQ(vuno_deinitialize(nullptr), VUNO_STATUS_INVALID_PARAMETER);
    vuno_timer_tick(nullptr);
    EXPECT_TRUE(platform.logs.empty());
}

} // namespace
