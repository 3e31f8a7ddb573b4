#include "argument_parsing.hpp"
#include "method_call.hpp"
#include "run_until.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using namespace std::chrono_literals;
using testing::ExpectErrorDictionary;
using testing::StdoutCapture;
using vuno::testing::RunFor;
using vuno::testing::RunUntil;

// Stands in for the library (the issuer keeps the context of a request it
// accepted) and for the bus (replies are collected).
class MethodCallsTest : public ::testing::Test {
  protected:
    ~MethodCallsTest() override {
        // Suspended coroutines must end by themselves before the io_context
        // goes.
        StopMethodCalls(io);
        io.restart();
        io.run();
    }

    // A call whose request is accepted; returns the index of its context.
    size_t StartPending() {
        calls().Handle(
            [this](CompletionContext &context) {
                contexts.push_back(&context);
                return int{VUNO_STATUS_COMMAND_PENDING};
            },
            Recorder());
        return contexts.size() - 1;
    }

    void StartRefused(RequestIssuer issue) { calls().Handle(issue, Recorder()); }

    ReplySender Recorder() {
        const size_t call = started++;
        return [this, call](const ResultDictionary &reply) { replies.push_back({call, reply}); };
    }

    void Complete(size_t request, uint32_t status, uint32_t ssiStatus) {
        OnRequestCompleted<ConvertNothing>(status, ssiStatus, nullptr, contexts[request]);
    }

    bool RunUntilReplies(size_t count) {
        return RunUntil(io, [this, count] { return replies.size() >= count; });
    }

    MethodCalls &calls() { return boost::asio::use_service<MethodCalls>(io); }

    struct Reply {
        size_t call;
        ResultDictionary dictionary;
    };

    boost::asio::io_context io;
    std::vector<CompletionContext *> contexts;
    std::vector<Reply> replies;
    size_t started = 0;
};

TEST_F(MethodCallsTest, APendingRequestIsAnsweredOnceAfterItsCompletion) {
    StartPending();
    RunFor(io, 120ms);
    EXPECT_TRUE(replies.empty()) << "answered before the library completed the request";

    Complete(0, 0, 0);
    ASSERT_TRUE(RunUntilReplies(1));
    EXPECT_TRUE(replies[0].dictionary.empty());
    EXPECT_EQ(calls().Count(), 0u);

    RunFor(io, 120ms);
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(MethodCallsTest, CallsInFlightAreAnsweredIndependently) {
    StartPending();
    StartPending();
    StartPending();
    Complete(2, 0, 264);
    ASSERT_TRUE(RunUntilReplies(1));
    EXPECT_EQ(replies[0].call, 2u);
    ExpectErrorDictionary(replies[0].dictionary, "InvalidDrive",
                          "The drive selected for command has wrong status or does not exist.");

    Complete(0, VUNO_STATUS_TIMEOUT, VUNO_SSI_STATUS_NO_RESPONSE);
    ASSERT_TRUE(RunUntilReplies(2));
    EXPECT_EQ(replies[1].call, 0u);
    ExpectErrorDictionary(
        replies[1].dictionary, "Timeout",
        "Timeout occurred during sending command to Host or waiting for response from Host.");
    EXPECT_EQ(calls().Count(), 1u);

    Complete(1, 0, 0);
    ASSERT_TRUE(RunUntilReplies(3));
    EXPECT_EQ(replies[2].call, 1u);
    EXPECT_TRUE(replies[2].dictionary.empty());
}

TEST_F(MethodCallsTest, OutcomesKnownAtOnceAreAnsweredWithoutTheLibrary) {
    StdoutCapture output;
    StartRefused(
        [](CompletionContext &) -> int { throw ValidationError("Invalid scope type: x"); });
    StartRefused([](CompletionContext &) { return int{VUNO_STATUS_HOST_NOT_CONNECTED}; });
    StartRefused([](CompletionContext &) { return int{VUNO_STATUS_SUCCESS}; });
    ASSERT_TRUE(RunUntilReplies(3));

    std::vector<ResultDictionary> byCall(3);
    for (const Reply &reply : replies) {
        byCall.at(reply.call) = reply.dictionary;
    }
    ExpectErrorDictionary(byCall[0], "InvalidArgument", "Invalid scope type: x");
    ExpectErrorDictionary(byCall[1], "HostNotConnected", "The host is not connected.");
    ExpectErrorDictionary(byCall[2], "VunoInternalError", "Indicates internal VUNO error.");
    EXPECT_EQ(calls().Count(), 0u);
    EXPECT_EQ(output.Text(), "Invalid argument\n"
                             "Error during sending request, status: HostNotConnected\n"
                             "Error during sending request, status: VunoInternalError\n");
}

TEST_F(MethodCallsTest, AReplyThatCannotBeSentIsReportedAndForgotten) {
    StdoutCapture output;
    calls().Handle([](CompletionContext &) { return int{VUNO_STATUS_BUSY}; },
                   [](const ResultDictionary &) { throw std::runtime_error("connection closed"); });
    ASSERT_TRUE(RunUntil(io, [this] { return calls().Count() == 0; }));
    EXPECT_NE(output.Text().find("Cannot send the reply of a method call: connection closed"),
              std::string::npos);
}

TEST_F(MethodCallsTest, StoppedCallsEndWithoutReplyAndKeepTheirContextForTheLibrary) {
    StartPending();
    StartPending();
    Complete(1, 0, 0);
    StopMethodCalls(io);

    // Nothing is left to run: both coroutines returned by themselves.
    io.restart();
    io.run();
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(calls().Count(), 2u);

    // The library still owes the first completion, as when it is torn down.
    Complete(0, VUNO_STATUS_HOST_NOT_CONNECTED, VUNO_SSI_STATUS_NO_RESPONSE);
    EXPECT_TRUE(contexts[0]->done);
    io.restart();
    io.run();
    EXPECT_TRUE(replies.empty());
}

} // namespace
} // namespace vuno::dbus
