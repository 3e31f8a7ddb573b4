#include "completion.hpp"
#include "result_conversion.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using testing::ExpectErrorDictionary;
using testing::StdoutCapture;

const vuno_volume_identifier kNewVolume{{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
                                         0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f}};

struct PrecedenceRow {
    const char *situation;
    uint32_t status;
    uint32_t ssiStatus;
    std::string error;
    std::string message;
    std::string output;
};

TEST(CompletionCallback, LibraryStatusComesBeforeSsiStatusBeforeTheRecord) {
    const std::vector<PrecedenceRow> rows = {
        {"pending reported as a completion", 1, 264, "VunoInternalError",
         "Indicates internal VUNO error.",
         "Internal error, received status pending in callback function\n"
         "Error in callback function, VUNO status: VunoInternalError\n"},
        {"library failure hides the executor's", 11, 264, "Timeout",
         "Timeout occurred during sending command to Host or waiting for response from Host.",
         "Error in callback function, VUNO status: Timeout\n"},
        {"no response at all", 8, VUNO_SSI_STATUS_NO_RESPONSE, "HostNotConnected",
         "The host is not connected.",
         "Error in callback function, VUNO status: HostNotConnected\n"},
        {"unknown library status", 14, 0, "UnknownVunoStatus", "Unknown VUNO status.",
         "Vuno status: 0xe\nError in callback function, VUNO status: UnknownVunoStatus\n"},
        {"executor refusal", 0, 264, "InvalidDrive",
         "The drive selected for command has wrong status or does not exist.",
         "Error in callback function, SSI status: InvalidDrive\n"},
        {"unknown executor status", 0, 283, "UnknownSsiStatus", "Unknown SSI status.",
         "SSI status: 0x11b\nError in callback function, SSI status: UnknownSsiStatus\n"},
    };
    const vuno_completion_callback callback = OnRequestCompleted<ConvertNewVolumeIdentifier>;
    for (const PrecedenceRow &row : rows) {
        SCOPED_TRACE(row.situation);
        CompletionContext context;
        StdoutCapture output;
        callback(row.status, row.ssiStatus, &kNewVolume, &context);
        EXPECT_TRUE(context.done);
        EXPECT_FALSE(context.failure);
        ExpectErrorDictionary(context.result, row.error, row.message);
        EXPECT_EQ(output.Text(), row.output);
    }
}

TEST(CompletionCallback, ConvertsTheRecordOnlyWhenBothStatusesAreZero) {
    CompletionContext created;
    StdoutCapture output;
    OnRequestCompleted<ConvertNewVolumeIdentifier>(0, 0, &kNewVolume, &created);
    EXPECT_TRUE(created.done);
    ASSERT_EQ(created.result.size(), 1u);
    EXPECT_EQ(created.result.at("VolumeId").get<std::string>(),
              "10111213-1415-1617-1819-1a1b1c1d1e1f");
    EXPECT_EQ(output.Text(), "");

    CompletionContext action;
    action.result = {{"stale", sdbus::Variant(true)}};
    OnRequestCompleted<ConvertNothing>(0, 0, nullptr, &action);
    EXPECT_TRUE(action.done);
    EXPECT_TRUE(action.result.empty());
}

ResultDictionary ConvertOutOfMemory(const vuno_volume_identifier *) {
    throw std::bad_alloc();
}

ResultDictionary ConvertBroken(const vuno_volume_identifier *) {
    throw std::logic_error("broken converter");
}

TEST(CompletionCallback, AFailingConversionIsStoredForTheReplyAndNeverThrown) {
    CompletionContext outOfMemory;
    OnRequestCompleted<ConvertOutOfMemory>(0, 0, &kNewVolume, &outOfMemory);
    EXPECT_TRUE(outOfMemory.done);
    ASSERT_TRUE(outOfMemory.failure);
    {
        StdoutCapture output;
        ExpectErrorDictionary(ReplyForStoredFailure(outOfMemory.failure), "NotEnoughMemory",
                              "VUNO cannot allocate memory.");
        EXPECT_EQ(output.Text(), "Out of memory\n");
    }

    CompletionContext broken;
    OnRequestCompleted<ConvertBroken>(0, 0, &kNewVolume, &broken);
    EXPECT_TRUE(broken.done);
    ASSERT_TRUE(broken.failure);
    ExpectErrorDictionary(ReplyForStoredFailure(broken.failure), "VunoInternalError",
                          "Indicates internal VUNO error.");
}

TEST(SendStatus, EveryStatusButPendingIsAnErrorWithItsLine) {
    struct Row {
        int status;
        std::string error;
        std::string message;
    };
    const std::vector<Row> rows = {
        {0, "VunoInternalError", "Indicates internal VUNO error."},
        {2, "Busy", "The VUNO is busy. Wait until the last command has executed."},
        {8, "HostNotConnected", "The host is not connected."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.status);
        StdoutCapture output;
        ExpectErrorDictionary(ReplyForSendStatus(row.status), row.error, row.message);
        EXPECT_EQ(output.Text(), "Error during sending request, status: " + row.error + "\n");
    }
}

} // namespace
} // namespace vuno::dbus
