#include "aux_timer.hpp"
#include "platform_hooks.hpp"
#include "run_until.hpp"
#include "stdout_capture.hpp"
#include "steady_wait.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::RunFor;
using testing::RunUntil;
using testing::StdoutCapture;

struct LogCase {
    int level;
    const char *file;
    std::string expected;
};

class LogLineTest : public ::testing::TestWithParam<LogCase> {};

TEST_P(LogLineTest, FormatsOneLine) {
    const LogCase &c = GetParam();
    StdoutCapture capture;
    platform::Log(c.level, c.file, 7, "x=%d", 5);
    EXPECT_EQ(capture.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Levels, LogLineTest,
                         ::testing::Values(LogCase{1, "/a/b/file",
                                                   "\033[1;31m[ERROR] (file:7): x=5\033[0m\n"},
                                           LogCase{0, "/a/b/file", "[DEBUG] (file:7): x=5\n"},
                                           LogCase{0, "file", "[DEBUG] (file:7): x=5\n"},
                                           LogCase{0, "a/dir/", "[DEBUG] (:7): x=5\n"},
                                           LogCase{3, "vuno", "[LEVEL 3] (vuno:7): x=5\n"}));

TEST(LogTest, WritesMessagesLongerThanAnyBufferWhole) {
    const std::string text(100000, 'q');
    StdoutCapture capture;
    platform::Log(0, "ssi", 1, "<%s|%s>", text.c_str(), text.c_str());
    EXPECT_EQ(capture.Text(), "[DEBUG] (ssi:1): <" + text + "|" + text + ">\n");
}

// An address as the standard streams write it.
std::string Address(const void *pointer) {
    std::ostringstream text;
    text << pointer;
    return text.str();
}

TEST(LockTest, CreateAndDestroyNameTheSameAddress) {
    StdoutCapture capture;
    void *lock = platform::LockCreate();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(platform::Lock(lock), 1);
    platform::Unlock(lock);
    EXPECT_EQ(platform::Lock(lock), 1);
    platform::Unlock(lock);
    platform::LockDestroy(lock);

    const std::string address = Address(lock);
    EXPECT_EQ(address.rfind("0x", 0), 0u) << address;
    EXPECT_EQ(capture.Text(), "Lock " + address + " init\nLock " + address + " deinit\n");
}

TEST(LockTest, NullHandles) {
    StdoutCapture capture;
    EXPECT_EQ(platform::Lock(nullptr), 0);
    platform::Unlock(nullptr);
    platform::LockDestroy(nullptr);
    EXPECT_EQ(capture.Text(), "Lock " + Address(nullptr) + " deinit\n");
}

TEST(TimerHookTest, DestroyingNullOnlyWritesTheLine) {
    StdoutCapture capture;
    platform::TimerDestroy(nullptr);
    EXPECT_EQ(capture.Text(), "Timer cancel\n");
}

TEST(TimerHookTest, CreateWithoutPlatformContextGivesNoTimer) {
    StdoutCapture capture;
    EXPECT_EQ(platform::TimerCreate(
                  nullptr, nullptr, [](void *) {}, 1),
              nullptr);
    EXPECT_EQ(capture.Text(), "Timer create\n");
}

TEST(DeadlineTest, SaturatesAtTheClocksEnd) {
    using Clock = std::chrono::steady_clock;
    EXPECT_EQ(DeadlineAfter(Clock::duration::max()), Clock::time_point::max());
    const auto before = Clock::now();
    const auto deadline = DeadlineAfter(1s);
    EXPECT_GE(deadline, before + 1s);
    EXPECT_LE(deadline, Clock::now() + 1s);
}

// Records when the timer's handler runs.
struct Ticks {
    static void Handler(void *argument) {
        static_cast<Ticks *>(argument)->at.push_back(std::chrono::steady_clock::now());
    }
    std::vector<std::chrono::steady_clock::time_point> at;
};

class AuxTimerTest : public ::testing::Test {
  protected:
    static constexpr auto kPeriod = 30ms;

    void SetUp() override {
        timer = std::make_shared<AuxTimer>(io, &ticks, Ticks::Handler, kPeriod);
        timer->Start();
    }

    void TearDown() override {
        timer->Stop();
        RunReadyHandlers(io);
    }

    boost::asio::io_context io;
    Ticks ticks;
    std::shared_ptr<AuxTimer> timer;
};

TEST_F(AuxTimerTest, FirstCallComesAsSoonAsTheLoopRuns) {
    EXPECT_TRUE(ticks.at.empty()) << "called before the loop ran";
    io.poll();
    EXPECT_EQ(ticks.at.size(), 1u);
}

TEST_F(AuxTimerTest, LaterCallsComeOncePerPeriod) {
    ASSERT_TRUE(RunUntil(io, [&] { return ticks.at.size() >= 5; }));
    for (size_t i = 1; i < ticks.at.size(); ++i) {
        EXPECT_GE(ticks.at[i] - ticks.at[i - 1], kPeriod) << "call " << i << " came early";
    }
}

TEST_F(AuxTimerTest, StopEndsTheCalls) {
    ASSERT_TRUE(RunUntil(io, [&] { return ticks.at.size() >= 2; }));
    timer->Stop();
    const size_t calls = ticks.at.size();
    RunFor(io, 4 * std::chrono::duration_cast<std::chrono::milliseconds>(kPeriod));
    EXPECT_EQ(ticks.at.size(), calls);
}

} // namespace
} // namespace vuno
