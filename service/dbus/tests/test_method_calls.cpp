// The life of a method call without a bus: the test stands in for the
// library, which keeps the context of an accepted request, and for the bus,
// which collects the replies.
#include "argument_parsing.hpp"
#include "completion.hpp"
#include "method_call.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using namespace std::chrono_literals;
using vuno::testing::ErrorText;
using vuno::testing::RunUntil;
using vuno::testing::StdoutCapture;

ResultDictionary ConvertOutOfMemory(const vuno_volume_identifier *) {
    throw std::bad_alloc();
}

TEST(Completion, TheLibraryStatusHidesTheSsiStatusAndNothingIsThrownIntoTheLibrary) {
    CompletionContext pending;
    StdoutCapture quiet;
    OnRequestCompleted<ConvertOutOfMemory>(1, 264, nullptr, &pending);
    EXPECT_EQ(ErrorText(pending.result), "VunoInternalError: Indicates internal VUNO error.");
    CompletionContext timeout;
    OnRequestCompleted<ConvertOutOfMemory>(11, 264, nullptr, &timeout);
    EXPECT_EQ(timeout.result.at(kErrorKey).get<std::string>(), "Timeout");

    CompletionContext failed;
    OnRequestCompleted<ConvertOutOfMemory>(0, 0, nullptr, &failed);
    EXPECT_TRUE(pending.done && timeout.done && failed.done);
    ASSERT_TRUE(failed.failure);
    EXPECT_EQ(ErrorText(ReplyForStoredFailure(failed.failure)),
              "NotEnoughMemory: VUNO cannot allocate memory.");
}

class MethodCallsTest : public ::testing::Test {
  protected:
    ~MethodCallsTest() override {
        // Suspended coroutines must end by themselves before the io_context
        // goes.
        StopMethodCalls(io);
        io.restart();
        io.run_for(1s);
    }

    // A call whose request the library accepts and completes later.
    void StartPending() {
        Start([this](CompletionContext &context) {
            contexts.push_back(&context);
            return int{VUNO_STATUS_COMMAND_PENDING};
        });
    }

    void Start(const RequestIssuer &issue) {
        calls().Handle(issue, [this](const ResultDictionary &reply) { replies.push_back(reply); });
    }

    void Complete(size_t request, uint32_t status) {
        OnRequestCompleted<ConvertNothing>(status, 0, nullptr, contexts.at(request));
    }

    bool WaitForReplies(size_t count) {
        return RunUntil(io, [this, count] { return replies.size() == count; });
    }

    MethodCalls &calls() { return boost::asio::use_service<MethodCalls>(io); }

    boost::asio::io_context io;
    std::vector<CompletionContext *> contexts;
    std::vector<ResultDictionary> replies;
};

TEST_F(MethodCallsTest, ACompletedCallIsAnsweredByTheLoopsNextTurnAndOnlyThen) {
    StartPending();
    io.poll();
    ASSERT_EQ(contexts.size(), 1u);
    Complete(0, VUNO_STATUS_SUCCESS);
    EXPECT_TRUE(replies.empty()) << "answered from inside the library's callback";
    io.restart();
    io.poll(); // only what is ready: no timer may have to expire first
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(MethodCallsTest, OutcomesKnownAtOnceAreAnsweredWithoutTheLibrary) {
    StdoutCapture output;
    Start([](CompletionContext &) -> int { throw ValidationError("Invalid scope type: x"); });
    ASSERT_TRUE(WaitForReplies(1));
    // Every operation answers asynchronously: success here is the library's
    // fault.
    Start([](CompletionContext &) { return int{VUNO_STATUS_SUCCESS}; });
    ASSERT_TRUE(WaitForReplies(2));
    EXPECT_EQ(ErrorText(replies[0]), "InvalidArgument: Invalid scope type: x");
    EXPECT_EQ(ErrorText(replies[1]), "VunoInternalError: Indicates internal VUNO error.");

    calls().Handle([](CompletionContext &) { return int{VUNO_STATUS_BUSY}; },
                   [](const ResultDictionary &) { throw std::runtime_error("connection closed"); });
    ASSERT_TRUE(RunUntil(io, [this] { return calls().Count() == 0; }));
    EXPECT_NE(output.Text().find("Cannot send the reply of a method call: connection closed"),
              std::string::npos);
}

TEST_F(MethodCallsTest, StoppedCallsEndWithoutReplyAndKeepTheirContextForTheLibrary) {
    StartPending();
    StartPending();
    Complete(1, 0);
    StopMethodCalls(io);

    // Nothing is left to run: both coroutines returned by themselves.
    io.restart();
    io.run_for(1s);
    EXPECT_TRUE(io.stopped()) << "a stopped call still waits";
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(calls().Count(), 2u);

    // The library still owes the first completion, as when it is torn down.
    Complete(0, VUNO_STATUS_HOST_NOT_CONNECTED);
    EXPECT_TRUE(contexts[0]->done);
    io.restart();
    io.run_for(1s);
    EXPECT_TRUE(replies.empty());
}

} // namespace
} // namespace vuno::dbus
