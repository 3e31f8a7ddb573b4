// The library's platform callbacks that need no bus: log lines, locks and
// the deadlines of the timer waits.
#include "platform_hooks.hpp"
#include "steady_wait.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::StdoutCapture;

TEST(PlatformHooks, LogWritesOneLineWithTheFilesLastComponent) {
    const std::vector<std::pair<int, std::string>> cases{
        {1, "\033[1;31m[ERROR] (file:7): x=5\033[0m\n"},
        {0, "[DEBUG] (file:7): x=5\n"},
    };
    for (const auto &[level, line] : cases) {
        StdoutCapture capture;
        platform::Log(level, "/a/b/file", 7, "x=%d", 5);
        EXPECT_EQ(capture.Text(), line);
    }
    const std::string text(100000, 'q');
    StdoutCapture capture;
    platform::Log(0, "a/dir/", 1, "<%s|%s>", text.c_str(), text.c_str());
    EXPECT_EQ(capture.Text(), "[DEBUG] (:1): <" + text + "|" + text + ">\n");
}

TEST(PlatformHooks, LocksNameTheirAddressAndNullHandlesAreHarmless) {
    StdoutCapture capture;
    void *lock = platform::LockCreate();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(platform::Lock(lock), 1);
    platform::Unlock(lock);
    platform::LockDestroy(lock);
    EXPECT_EQ(platform::Lock(nullptr), 0);
    platform::Unlock(nullptr);
    platform::LockDestroy(nullptr);
    platform::TimerDestroy(nullptr);
    EXPECT_EQ(platform::TimerCreate(
                  nullptr, nullptr, [](void *) {}, 1),
              nullptr);

    std::ostringstream address;
    address << lock;
    std::ostringstream none;
    none << static_cast<void *>(nullptr);
    EXPECT_EQ(capture.Text(), "Lock " + address.str() + " init\nLock " + address.str() +
                                  " deinit\nLock " + none.str() +
                                  " deinit\nTimer cancel\nTimer create\n");
}

TEST(PlatformHooks, DeadlinesSaturateAtTheClocksEnd) {
    using Clock = std::chrono::steady_clock;
    EXPECT_EQ(DeadlineAfter(Clock::duration::max()), Clock::time_point::max());
    const auto before = Clock::now();
    const auto deadline = DeadlineAfter(1s);
    EXPECT_GE(deadline, before + 1s);
    EXPECT_LE(deadline, Clock::now() + 1s);
}

} // namespace
} // namespace vuno
