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
const std::string kInternalError = "Indicates internal VUNO error.";

TEST(Completion, LibraryStatusComesBeforeSsiStatusBeforeTheRecord) {
    struct Row {
        uint32_t status;
        uint32_t ssiStatus;
        std::string error;
        std::string message;
        std::string output;
    };
    const std::vector<Row> rows = {
        {1, 264, "VunoInternalError", kInternalError,
         "Internal error, received status pending in callback function\n"
         "Error in callback function, VUNO status: VunoInternalError\n"},
        {11, 264, "Timeout",
         "Timeout occurred during sending command to Host or waiting for response from Host.",
         "Error in callback function, VUNO status: Timeout\n"},
        {0, 264, "InvalidDrive",
         "The drive selected for command has wrong status or does not exist.",
         "Error in callback function, SSI status: InvalidDrive\n"},
        {0, 283, "UnknownSsiStatus", "Unknown SSI status.",
         "SSI status: 0x11b\nError in callback function, SSI status: UnknownSsiStatus\n"},
    };
    for (const Row &row : rows) {
        CompletionContext context;
        StdoutCapture output;
        OnRequestCompleted<ConvertNewVolumeIdentifier>(row.status, row.ssiStatus, &kNewVolume,
                                                       &context);
        EXPECT_TRUE(context.done);
        ExpectErrorDictionary(context.result, row.error, row.message);
        EXPECT_EQ(output.Text(), row.output);
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

ResultDictionary ConvertBroken(const vuno_volume_identifier *) {
    throw std::logic_error("broken converter");
}

TEST(Completion, AFailingConversionIsStoredForTheReplyAndNeverThrown) {
    CompletionContext outOfMemory;
    OnRequestCompleted<ConvertOutOfMemory>(0, 0, &kNewVolume, &outOfMemory);
    EXPECT_TRUE(outOfMemory.done);
    ASSERT_TRUE(outOfMemory.failure);
    ExpectErrorDictionary(ReplyForStoredFailure(outOfMemory.failure), "NotEnoughMemory",
                          "VUNO cannot allocate memory.");

    CompletionContext broken;
    OnRequestCompleted<ConvertBroken>(0, 0, &kNewVolume, &broken);
    EXPECT_TRUE(broken.done);
    ASSERT_TRUE(broken.failure);
    ExpectErrorDictionary(ReplyForStoredFailure(broken.failure), "VunoInternalError",
                          kInternalError);
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
    Start([](CompletionContext &) { return int{VUNO_STATUS_BUSY}; });
    ASSERT_TRUE(RunUntil(io, [this] { return replies.size() == 2; }));
    Start([](CompletionContext &) { return int{VUNO_STATUS_SUCCESS}; });
    ASSERT_TRUE(RunUntil(io, [this] { return replies.size() == 3; }));

    ExpectErrorDictionary(replies[0], "InvalidArgument", "Invalid scope type: x");
    ExpectErrorDictionary(replies[1], "Busy",
                          "The VUNO is busy. Wait until the last command has executed.");
    ExpectErrorDictionary(replies[2], "VunoInternalError", kInternalError);
    EXPECT_EQ(calls().Count(), 0u);
    EXPECT_EQ(output.Text(), "Invalid argument\n"
                             "Error during sending request, status: Busy\n"
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
