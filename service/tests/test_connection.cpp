#include "connection.hpp"
#include "run_until.hpp"
#include "stdout_capture.hpp"
#include "steady_wait.hpp"

#include <gtest/gtest.h>

#include <deque>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::RunFor;
using testing::RunUntil;
using testing::StdoutCapture;

constexpr uint32_t kCandidates[] = {
    0x05000000, 0x05005000, 0x0500C200, 0x05008900, 0x05001700, 0x05001600, 0x05003000,
    0x05004A00, 0x05006400, 0x05009701, 0x0500B001, 0x0500C901, 0x0500E201,
};

// Stands in for the library: records each connect request and lets the
// test report outcomes through the callbacks it was given.
struct FakeLibrary {
    Connection::Library Calls() {
        return {
            .connectToHost =
                [this](vuno_instance *instance, uint32_t location, vuno_link_callback connected,
                       void *connectedContext, vuno_link_callback lost, void *lostContext) {
                    EXPECT_EQ(instance, kInstance);
                    attempts.push_back(location);
                    connectedCallback = connected;
                    lostCallback = lost;
                    EXPECT_EQ(connectedContext, lostContext);
                    context = connectedContext;
                    if (connectStatuses.empty()) {
                        return int{VUNO_STATUS_COMMAND_PENDING};
                    }
                    const int status = connectStatuses.front();
                    connectStatuses.pop_front();
                    return status;
                },
            .deinitialize =
                [this](vuno_instance *instance) {
                    deinitialized.push_back(instance);
                    return 0;
                },
        };
    }

    void Connected(uint32_t status) { connectedCallback(status, context); }
    void Lost(uint32_t status) { lostCallback(status, context); }

    static inline vuno_instance *const kInstance = reinterpret_cast<vuno_instance *>(0x2000);
    std::vector<uint32_t> attempts;
    std::deque<int> connectStatuses;
    std::vector<vuno_instance *> deinitialized;
    vuno_link_callback connectedCallback = nullptr;
    vuno_link_callback lostCallback = nullptr;
    void *context = nullptr;
};

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        supervisor =
            std::make_shared<Connection>(io, FakeLibrary::kInstance, library.Calls(), periods);
        supervisor->Check();
    }

    void TearDown() override {
        if (supervisor != nullptr) {
            supervisor->Stop();
            supervisor.reset();
        }
        RunReadyHandlers(io);
        EXPECT_EQ(library.deinitialized.size(), 1u);
    }

    bool WaitForAttempts(size_t count) {
        return RunUntil(io, [&] { return library.attempts.size() >= count; });
    }

    // Lets the supervisor run for many of its periods.
    void Idle() { RunFor(io, 40ms); }

    Connection::Periods periods{.resultPoll = 2ms, .pause = 2ms};
    StdoutCapture capture;
    FakeLibrary library;
    boost::asio::io_context io;
    std::shared_ptr<Connection> supervisor;
};

// The pause is long enough for a late callback to land inside it.
class LongPauseConnectionTest : public ConnectionTest {
  protected:
    LongPauseConnectionTest() { periods.pause = 300ms; }
};

TEST_F(ConnectionTest, FailedAttemptsCycleThroughAllCandidates) {
    for (size_t attempt = 1; attempt <= 13; ++attempt) {
        ASSERT_TRUE(WaitForAttempts(attempt));
        library.Connected(VUNO_STATUS_HOST_CONNECTION_FAILED);
    }
    ASSERT_TRUE(WaitForAttempts(14));
    ASSERT_EQ(library.attempts.size(), 14u);
    for (size_t i = 0; i < 13; ++i) {
        EXPECT_EQ(library.attempts[i], kCandidates[i]) << "attempt " << i + 1;
    }
    EXPECT_EQ(library.attempts[13], kCandidates[0]);
}

TEST_F(ConnectionTest, WritesTheDeviceAndTheOutcomeOfEachAttempt) {
    ASSERT_TRUE(WaitForAttempts(1));
    library.Connected(VUNO_STATUS_TIMEOUT);
    ASSERT_TRUE(WaitForAttempts(2));
    library.Connected(VUNO_STATUS_SUCCESS);
    Idle();
    library.Lost(VUNO_STATUS_HOST_NOT_CONNECTED);
    ASSERT_TRUE(WaitForAttempts(3));
    EXPECT_EQ(capture.Text(), "Trying connect to VMD: 0x0 0x0 0x5\n"
                              "Error, Host not connected, error code: 11, try another VMD "
                              "device BDF.\n"
                              "Trying connect to VMD: 0x50 0x0 0x5\n"
                              "BMC to Host successfully connected.\n"
                              "Host connection lost.\n"
                              "Trying connect to VMD: 0xc2 0x0 0x5\n");
}

class ConnectedResultTest : public ConnectionTest,
                            public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ConnectedResultTest, SuccessStopsTheAttemptsUntilTheLinkIsLost) {
    for (size_t attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(WaitForAttempts(attempt));
        library.Connected(VUNO_STATUS_HOST_CONNECTION_FAILED);
    }
    ASSERT_TRUE(WaitForAttempts(4));
    library.Connected(GetParam());
    Idle();
    EXPECT_EQ(library.attempts.size(), 4u) << "attempted again while connected";

    library.Lost(VUNO_STATUS_HOST_NOT_CONNECTED);
    ASSERT_TRUE(WaitForAttempts(5));
    EXPECT_EQ(library.attempts[3], kCandidates[3]);
    EXPECT_EQ(library.attempts[4], kCandidates[4]);
}

INSTANTIATE_TEST_SUITE_P(SuccessStatuses, ConnectedResultTest,
                         ::testing::Values(VUNO_STATUS_SUCCESS,
                                           VUNO_STATUS_HOST_ALREADY_CONNECTED));

TEST_F(ConnectionTest, LossWithAnotherStatusChangesNothing) {
    ASSERT_TRUE(WaitForAttempts(1));
    library.Connected(VUNO_STATUS_SUCCESS);
    Idle();
    const std::string before = capture.Text();
    for (uint32_t status : {0u, 7u, 9u, 11u}) {
        library.Lost(status);
    }
    Idle();
    EXPECT_EQ(library.attempts.size(), 1u);
    EXPECT_EQ(capture.Text(), before);
}

TEST_F(ConnectionTest, RequestThatDidNotGoOutEndsTheAttempt) {
    library.connectStatuses = {VUNO_STATUS_BUSY, VUNO_STATUS_LOCK_ERROR};
    ASSERT_TRUE(WaitForAttempts(3)) << "waited for a result that never comes";
    EXPECT_EQ(library.attempts[0], kCandidates[0]);
    EXPECT_EQ(library.attempts[1], kCandidates[1]);
    EXPECT_EQ(library.attempts[2], kCandidates[2]);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("Cannot connect to host, error code: 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Cannot connect to host, error code: 12\n"), std::string::npos) << text;
}

TEST_F(LongPauseConnectionTest, LateResultOfAnAbandonedAttemptIsIgnored) {
    library.connectStatuses = {VUNO_STATUS_MCTP_ERROR};
    ASSERT_TRUE(WaitForAttempts(1));
    // The library still times the unsent command out and reports it.
    library.Connected(VUNO_STATUS_TIMEOUT);
    ASSERT_TRUE(WaitForAttempts(2));
    EXPECT_EQ(library.attempts[1], kCandidates[1]);
    EXPECT_NE(capture.Text().find("Ignoring late connect result, error code: 11\n"),
              std::string::npos);
    library.Connected(VUNO_STATUS_HOST_CONNECTION_FAILED);
    ASSERT_TRUE(WaitForAttempts(3));
    EXPECT_EQ(library.attempts[2], kCandidates[2]);
}

TEST_F(ConnectionTest, LastOwnerDeinitializesTheLibrary) {
    ASSERT_TRUE(WaitForAttempts(1));
    supervisor->Stop();
    supervisor.reset();
    EXPECT_TRUE(library.deinitialized.empty()) << "the running coroutine still owns it";
    RunReadyHandlers(io);
    EXPECT_EQ(library.deinitialized, std::vector<vuno_instance *>{FakeLibrary::kInstance});
}

} // namespace
} // namespace vuno
