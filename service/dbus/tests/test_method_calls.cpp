// The life of a method call without a bus: the library stands in as the
// issuer that keeps the context of an accepted request, and replies are
// collected.
#include "argument_parsing.hpp"
#include "completion.hpp"
#include "method_call.hpp"
#include "result_conversion.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace vuno::dbus {
namespace {

using namespace std::chrono_literals;
using vuno::testing::ExpectErrorDictionary;
using vuno::testing::RunFor;
using vuno::testing::RunUntil;
using vuno::testing::StdoutCapture;

const vuno_volume_identifier kNewVolume{{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
                                         0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f}};

TEST(Completion, LibraryStatusComesBeforeSsiStatusBeforeTheRecord) {
    const std::vector<std::tuple<uint32_t, uint32_t, std::string, std::string>> rows = {
        {1, 264, "VunoInternalError",
         "Internal error, received status pending in callback function\n"
         "Error in callback function, VUNO status: VunoInternalError\n"},
        {11, 264, "Timeout", "Error in callback function, VUNO status: Timeout\n"},
        {0, 264, "InvalidDrive", "Error in callback function, SSI status: InvalidDrive\n"},
    };
    for (const auto &[status, ssiStatus, error, lines] : rows) {
        CompletionContext context;
        StdoutCapture output;
        OnRequestCompleted<ConvertNewVolumeIdentifier>(status, ssiStatus, &kNewVolume, &context);
        EXPECT_TRUE(context.done);
        ASSERT_EQ(context.result.size(), 2u);
        EXPECT_EQ(context.result.at(kErrorKey).get<std::string>(), error);
        EXPECT_EQ(output.Text(), lines);
    }

    CompletionContext created;
    OnRequestCompleted<ConvertNewVolumeIdentifier>(0, 0, &kNewVolume, &created);
    ASSERT_EQ(created.result.size(), 1u);
    EXPECT_EQ(created.result.at("VolumeId").get<std::string>(),
              "10111213-1415-1617-1819-1a1b1c1d1e1f");
}

ResultDictionary ConvertOutOfMemory(const vuno_volume_identifier *) {
    throw std::bad_alloc();
}

TEST(Completion, AFailingConversionIsStoredForTheReplyAndNeverThrown) {
    CompletionContext context;
    OnRequestCompleted<ConvertOutOfMemory>(0, 0, &kNewVolume, &context);
    EXPECT_TRUE(context.done);
    ASSERT_TRUE(context.failure);
    ExpectErrorDictionary(ReplyForStoredFailure(context.failure), "NotEnoughMemory",
                          "VUNO cannot allocate memory.");
}

class MethodCallsTest : public ::testing::Test {
  protected:
    ~MethodCallsTest() override {
        // Suspended coroutines must end by themselves before the io_context
        // goes.
        StopMethodCalls(io);
        io.restart();
        io.run();
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

    MethodCalls &calls() { return boost::asio::use_service<MethodCalls>(io); }

    boost::asio::io_context io;
    std::vector<CompletionContext *> contexts;
    std::vector<ResultDictionary> replies;
};

TEST_F(MethodCallsTest, APendingRequestIsAnsweredOnceAfterItsCompletion) {
    StartPending();
    RunFor(io, 120ms);
    EXPECT_TRUE(replies.empty()) << "answered before the library completed the request";

    Complete(0, 0);
    ASSERT_TRUE(RunUntil(io, [this] { return !replies.empty(); }));
    EXPECT_TRUE(replies[0].empty());
    EXPECT_EQ(calls().Count(), 0u);
    RunFor(io, 120ms);
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(MethodCallsTest, OutcomesKnownAtOnceAreAnsweredWithoutTheLibrary) {
    StdoutCapture output;
    Start([](CompletionContext &) -> int { throw ValidationError("Invalid scope type: x"); });
    ASSERT_TRUE(RunUntil(io, [this] { return replies.size() == 1; }));
    // Every operation answers asynchronously: success here is the library's fault.
    Start([](CompletionContext &) { return int{VUNO_STATUS_SUCCESS}; });
    ASSERT_TRUE(RunUntil(io, [this] { return replies.size() == 2; }));
    ExpectErrorDictionary(replies[0], "InvalidArgument", "Invalid scope type: x");
    ExpectErrorDictionary(replies[1], "VunoInternalError", "Indicates internal VUNO error.");
    EXPECT_EQ(calls().Count(), 0u);
    EXPECT_EQ(output.Text(), "Invalid argument\n"
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
    Complete(1, 0);
    StopMethodCalls(io);

    // Nothing is left to run: both coroutines returned by themselves.
    io.restart();
    io.run();
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(calls().Count(), 2u);

    // The library still owes the first completion, as when it is torn down.
    Complete(0, VUNO_STATUS_HOST_NOT_CONNECTED);
    EXPECT_TRUE(contexts[0]->done);
    io.restart();
    io.run();
    EXPECT_TRUE(replies.empty());
}

} // namespace
} // namespace vuno::dbus
