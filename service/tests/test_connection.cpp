// The host connection supervisor against a stand-in for the library, with
// its periods shortened.
#include "connection.hpp"
#include "steady_wait.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <set>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::RunFor;
using testing::RunUntil;
using testing::StdoutCapture;

vuno_instance *const kInstance = reinterpret_cast<vuno_instance *>(0x2000);

class ConnectionTest : public ::testing::Test {
  protected:
    void Start(Connection::Periods periods = {.resultPoll = 2ms, .pause = 2ms}) {
        supervisor = std::make_shared<Connection>(io, kInstance, Library(), periods);
        supervisor->Check();
    }

    ~ConnectionTest() override {
        supervisor->Stop();
        supervisor.reset();
        EXPECT_TRUE(deinitialized.empty()) << "the running coroutine still owns it";
        RunReadyHandlers(io);
        EXPECT_EQ(deinitialized, std::vector<vuno_instance *>{kInstance});
    }

    // Records each connect request; the test reports its outcome through
    // the callbacks given, with the supervisor as their context.
    Connection::Library Library() {
        return {.connectToHost =
                    [this](vuno_instance *instance, uint32_t location, vuno_link_callback connected,
                           void *context, vuno_link_callback lost, void *lostContext) {
                        EXPECT_EQ(instance, kInstance);
                        EXPECT_EQ(context, lostContext);
                        attempts.push_back(location);
                        report = [=](uint32_t status, bool link) {
                            (link ? lost : connected)(status, lostContext);
                        };
                        const int status = sendStatuses.empty() ? VUNO_STATUS_COMMAND_PENDING
                                                                : sendStatuses.front();
                        if (!sendStatuses.empty()) {
                            sendStatuses.pop_front();
                        }
                        return status;
                    },
                .deinitialize =
                    [this](vuno_instance *instance) {
                        deinitialized.push_back(instance);
                        return 0;
                    }};
    }

    bool WaitForAttempts(size_t count) {
        return RunUntil(io, [&] { return attempts.size() >= count; });
    }
    void Connected(uint32_t status) { report(status, false); }
    void Lost(uint32_t status) { report(status, true); }

    StdoutCapture capture;
    boost::asio::io_context io;
    std::shared_ptr<Connection> supervisor;
    std::vector<uint32_t> attempts;
    std::deque<int> sendStatuses;
    std::vector<vuno_instance *> deinitialized;
    std::function<void(uint32_t status, bool link)> report;
};

TEST_F(ConnectionTest, FailedAttemptsTryEveryCandidateOnceThenStartOver) {
    Start();
    while (attempts.size() < 2 || attempts.back() != attempts.front()) {
        ASSERT_TRUE(WaitForAttempts(attempts.size() + 1));
        ASSERT_LE(attempts.size(), 14u);
        Connected(VUNO_STATUS_HOST_CONNECTION_FAILED);
    }
    EXPECT_EQ(attempts.size(), 14u);
    EXPECT_EQ(std::set<uint32_t>(attempts.begin(), attempts.end()).size(), 13u);
}

TEST_F(ConnectionTest, AnEstablishedLinkIsOnlyWatchedUntilItIsLost) {
    Start();
    for (uint32_t status : {VUNO_STATUS_SUCCESS, VUNO_STATUS_HOST_ALREADY_CONNECTED}) {
        const size_t before = attempts.size();
        ASSERT_TRUE(WaitForAttempts(before + 1));
        Connected(status);
        RunFor(io, 40ms);
        // Other statuses are not a loss.
        for (uint32_t other : {0u, 7u, 9u, 11u}) {
            Lost(other);
        }
        RunFor(io, 40ms);
        EXPECT_EQ(attempts.size(), before + 1) << "attempted again while connected";
        Lost(VUNO_STATUS_HOST_NOT_CONNECTED);
    }
    ASSERT_TRUE(WaitForAttempts(3));
    EXPECT_EQ(std::set<uint32_t>(attempts.begin(), attempts.end()).size(), 3u)
        << "a lost candidate is tried again before the others";
}

TEST_F(ConnectionTest, AnAttemptWhoseRequestDidNotGoOutEndsAndItsLateResultIsIgnored) {
    sendStatuses = {VUNO_STATUS_BUSY, VUNO_STATUS_MCTP_ERROR};
    Start({.resultPoll = 2ms, .pause = 300ms});
    ASSERT_TRUE(WaitForAttempts(2)) << "waited for a result that never comes";
    // The library still times the unsent command out and reports it.
    Connected(VUNO_STATUS_TIMEOUT);
    ASSERT_TRUE(WaitForAttempts(3));
    Connected(VUNO_STATUS_SUCCESS);
    RunFor(io, 40ms);
    EXPECT_EQ(std::set<uint32_t>(attempts.begin(), attempts.end()).size(), 3u);
}

} // namespace
} // namespace vuno
