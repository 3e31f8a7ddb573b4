// Whole exchanges between a real library instance and the simulated host,
// in simulated time: connection, requests and their outcomes under the
// faults the host can inject.
#include "default_command_handler.hpp"
#include "in_process_platform.hpp"
#include "malformed_frames.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace vuno::hostsim::testing {

std::ostream &operator<<(std::ostream &out, const Completion &completion) {
    return out << "(" << completion.status << ", 0x" << std::hex << completion.ssiStatus << std::dec
               << ")";
}

namespace {

using std::chrono::seconds;

constexpr uint8_t kMarkDriveAsSpare = 15;
constexpr uint8_t kGetExecutorInformation = 10;

Operation MarkDriveAsSpare() {
    return [](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        vuno_identifier drive{};
        std::memset(&drive, 0x5A, sizeof drive);
        return vuno_mark_drive_as_spare(instance, &drive, callback, context);
    };
}

Operation GetExecutorInformation() {
    return [](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        return vuno_get_executor_information(instance, callback, context);
    };
}

Bytes Image(size_t size) {
    Bytes image(size);
    std::iota(image.begin(), image.end(), uint8_t{0x31});
    return image;
}

Operation SendFirmwareToSlot(const Bytes &image) {
    return [image](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        std::vector<uint8_t> storage(sizeof(vuno_send_firmware_to_slot_args) + image.size());
        auto *args = reinterpret_cast<vuno_send_firmware_to_slot_args *>(storage.data());
        args->slot = 2;
        args->image_length = static_cast<uint32_t>(image.size());
        std::memcpy(args->revision, "REV-0042", 8);
        std::memcpy(args->image, image.data(), image.size());
        return vuno_send_firmware_to_slot(instance, args, callback, context);
    };
}

// Keeps what reached it and answers every command with success.
class RecordingHandler : public CommandHandler {
  public:
    void Handle(uint8_t commandCode, ByteView payload, Responder respond) override {
        codes.push_back(commandCode);
        payloads.emplace_back(payload.begin(), payload.end());
        respond(answer);
    }
    std::vector<uint8_t> codes;
    std::vector<Bytes> payloads;
    SsiAnswer answer;
};

class ExchangeTest : public ::testing::Test {
  protected:
    // These exchanges are about the link, not the storage: every command
    // succeeds unless a test says otherwise.
    void SetUp() override {
        platform_.Sim().SetCommandHandler(std::make_unique<DefaultCommandHandler>());
        ASSERT_EQ(platform_.Connect(), 0u);
    }

    RecordingHandler &InstallRecorder() {
        auto handler = std::make_unique<RecordingHandler>();
        RecordingHandler &recorder = *handler;
        platform_.Sim().SetCommandHandler(std::move(handler));
        return recorder;
    }

    uint64_t Count(ExchangeCounter counter) {
        return platform_.Sim().Host().Counters().Value(counter);
    }

    void TearDown() override {
        EXPECT_EQ(platform_.LockErrors(), 0);
        EXPECT_EQ(platform_.DuplicateCompletions(), 0);
    }

    InProcessPlatform platform_;
    const Completion success_{0, 0};
};

TEST_F(ExchangeTest, RequestAnsweredWithSuccessCompletesWithSuccess) {
    const Duration start = platform_.Now();
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), success_);
    EXPECT_LT(platform_.Now() - start, Duration{100}) << "a prompt host answers within steps";
    EXPECT_EQ(Count(ExchangeCounter::MessagesReceived), 1u);
    EXPECT_EQ(Count(ExchangeCounter::ResponsesSent), 1u);
    EXPECT_EQ(Count(ExchangeCounter::MessagesDelivered), 1u);
}

TEST_F(ExchangeTest, ConfiguredSsiStatusComesBackUnchanged) {
    platform_.Sim().Host().Executor().OverrideStatus(kMarkDriveAsSpare, 264);
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), (Completion{0, 264}));
    // Set on the handler rather than the executor, for a command with
    // response data: a failure has none to decode.
    auto handler = std::make_unique<DefaultCommandHandler>();
    handler->SetStatus(kGetExecutorInformation, 0x0108);
    platform_.Sim().SetCommandHandler(std::move(handler));
    EXPECT_EQ(platform_.Request(GetExecutorInformation()), (Completion{0, 0x0108}));
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), (Completion{0, 264}))
        << "the executor's setting outlives the handler";
}

TEST_F(ExchangeTest, OneCrcErrorIsRecoveredByTheBmcsResend) {
    RecordingHandler &recorder = InstallRecorder();
    platform_.Sim().Host().Protocol().ReplaceVerdicts(7, 1);
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), success_);
    EXPECT_TRUE(platform_.Logged("Received Status Frame with CRC error"));
    EXPECT_EQ(Count(ExchangeCounter::MessagesReceived), 2u);
    EXPECT_EQ(recorder.codes.size(), 1u) << "the first copy went no further";
}

TEST_F(ExchangeTest, SevenCrcErrorsInARowFailTheRequest) {
    platform_.Sim().Host().Protocol().ReplaceVerdicts(7, 7);
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), (Completion{5, 0xFFFF}));
    EXPECT_TRUE(platform_.Logged("Reached maximum Message retransmissions"));
    EXPECT_EQ(Count(ExchangeCounter::VerdictsReplaced), 7u);
    EXPECT_EQ(Count(ExchangeCounter::ResponsesSent), 0u);
}

TEST_F(ExchangeTest, WithheldStatusFrameFailsTheRequestAfterTheStatusWait) {
    platform_.Sim().Host().Protocol().WithholdVerdicts(1);
    const auto &outcome = platform_.Start(MarkDriveAsSpare());
    platform_.RunFor(seconds(20));
    EXPECT_FALSE(outcome) << "the BMC waits 21 ticks";
    EXPECT_TRUE(platform_.RunUntil([&outcome] { return outcome.has_value(); }, seconds(2)));
    EXPECT_EQ(outcome, (Completion{11, 0xFFFF}));
    EXPECT_TRUE(platform_.Logged("Waiting for status timeout occurred."));
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), success_) << "the next one goes through";
}

TEST_F(ExchangeTest, UnansweredRequestTimesOutAfterSixtyOneTicks) {
    platform_.Sim().Host().Executor().LeaveUnanswered(1);
    const auto &outcome = platform_.Start(MarkDriveAsSpare());
    platform_.RunFor(seconds(60));
    EXPECT_FALSE(outcome);
    EXPECT_TRUE(platform_.RunUntil([&outcome] { return outcome.has_value(); }, seconds(2)));
    EXPECT_EQ(outcome, (Completion{11, 0xFFFF}));
    EXPECT_EQ(Count(ExchangeCounter::RequestsLeftUnanswered), 1u);
    EXPECT_FALSE(platform_.LinkLost()) << "heartbeats kept the link up all along";
}

TEST_F(ExchangeTest, LargeRequestIsReassembledWhole) {
    RecordingHandler &recorder = InstallRecorder();
    const Bytes image = Image(100 * 1024);
    EXPECT_EQ(platform_.Request(SendFirmwareToSlot(image)), success_);
    ASSERT_EQ(recorder.payloads.size(), 1u);
    const Bytes &payload = recorder.payloads[0];
    ASSERT_EQ(payload.size(), 14 + image.size());
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 14),
              (Bytes{2, 0, 0x00, 0x90, 0x01, 0x00, 'R', 'E', 'V', '-', '0', '0', '4', '2'}));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), payload.begin() + 14));
    EXPECT_EQ(Count(ExchangeCounter::DataFramesReceived), 102u);
}

TEST_F(ExchangeTest, HostRestartMidTransferEndsTheRequestWithHostReset) {
    platform_.Sim().Host().RestartAfterDataFrames(10);
    EXPECT_EQ(platform_.Request(SendFirmwareToSlot(Image(100 * 1024))), (Completion{9, 0xFFFF}));
    EXPECT_TRUE(platform_.Logged("Received Heartbeat with lower ID"));
    EXPECT_EQ(Count(ExchangeCounter::MessagesAbandoned), 1u);
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare()), success_) << "the link survives the restart";
}

// An identifier list of `count` identifiers, for GetDriveIdentifiers.
Bytes IdentifierList(uint16_t count) {
    Bytes payload{uint8_t(count), uint8_t(count >> 8)};
    for (uint16_t i = 0; i < count; ++i) {
        Bytes identifier(16, uint8_t(i));
        identifier[15] = uint8_t(i >> 8);
        payload.insert(payload.end(), identifier.begin(), identifier.end());
    }
    return payload;
}

TEST_F(ExchangeTest, LargeResponseReachesTheLibraryWhole) {
    RecordingHandler &recorder = InstallRecorder();
    constexpr uint16_t kDrives = 300; // 4802 bytes of payload, five frames
    recorder.answer = {0, IdentifierList(kDrives)};
    Bytes received;
    const auto outcome = platform_.Request(
        [](vuno_instance *instance, vuno_completion_callback callback, void *context) {
            const vuno_scope scope{};
            return vuno_get_drive_identifiers(instance, &scope, callback, context);
        },
        seconds(10),
        [&received](const void *record) {
            const auto &list = *static_cast<const vuno_identifier_list_record *>(record);
            received.push_back(uint8_t(list.Count));
            received.push_back(uint8_t(list.Count >> 8));
            const auto *ids = reinterpret_cast<const uint8_t *>(list.Ids);
            received.insert(received.end(), ids, ids + list.Count * VUNO_IDENTIFIER_SIZE);
        });
    EXPECT_EQ(outcome, success_);
    EXPECT_EQ(received, IdentifierList(kDrives));
}

TEST_F(ExchangeTest, HeartbeatsKeepFlowingDuringALongTransfer) {
    const auto before = platform_.Sim().Records().Value(Counter::HeartbeatsSent);
    const auto &outcome = platform_.Start(SendFirmwareToSlot(Image(2 * 1024 * 1024)));
    EXPECT_TRUE(platform_.RunUntil([&outcome] { return outcome.has_value(); }, seconds(60)));
    EXPECT_EQ(outcome, success_);
    EXPECT_GT(platform_.Sim().Records().Value(Counter::HeartbeatsSent), before + 5);
    EXPECT_FALSE(platform_.Logged("Received Heartbeat with lower ID"));
}

// What the library logs for each malformed kind, and the status value of
// the Status Frame it answers with, if any.
struct MalformedCase {
    const char *kind;
    const char *logged;
    int status;
};

const MalformedCase kMalformed[] = {
    {"bad-control-type", "Received Control Frame with invalid control type 1.", -1},
    {"heartbeat-4-bytes", "Received heartbeat with invalid size 4.", -1},
    {"heartbeat-6-bytes", "Received heartbeat with invalid size 6.", -1},
    {"status-3-bytes", "Received Status Frame with invalid size 3.", -1},
    {"status-message-id", "Received Status Frame with invalid message ID 1.", -1},
    {"frame-type-3", "Received Frame with invalid type 3.", -1},
    {"data-frame-2-bytes", "Data Frame size = 2", 5},
    {"first-frame-12-bytes", "Invalid Data Frame [0] size = 12, expected minimum value = 13.", 5},
    {"first-frame-over-total",
     "Invalid Data Frame [0] size = 18, mismatch between Total Number of Bytes and Message "
     "Payload part size.",
     5},
    {"later-frame-empty", "Invalid Data Frame [1], size = 3, expected minimum value = 4.", 5},
    {"data-message-id", "Received Data Frame with invalid message ID 1.", 3},
    {"service-id-2", "Received Data Frame 0 with Service ID 2.", 1},
    {"total-zero", "Received Data Frame 0 with Total number of bytes equal 0.", 2},
    {"total-too-large", "Received Data Frame 0 with Total number of bytes equal 66256887.", 2},
    {"later-without-first", "Memory for payload not allocated - lack of Data Frame [0].", 8},
    {"wrong-sequence",
     "Invalid Data Frames sequence, last Data Frame ID: 0, received Data Frame ID: 2.", 4},
    {"size-exceeds-total",
     "Invalid Data Frame [1] size = 5, Message Payload part size exceeds Total number of bytes.",
     6},
    {"wrong-crc", "Received message with incorrect CRC.", 7},
};

class MalformedFrameTest : public ExchangeTest,
                           public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedFrameTest, BmcRefusesItAndCarriesOn) {
    const MalformedCase &test = GetParam();
    ASSERT_TRUE(platform_.Sim().SendMalformedFrame(test.kind));
    platform_.RunFor(Duration{100});
    EXPECT_TRUE(platform_.Logged(test.logged));
    const std::string answered = "Host: Status Frame " + std::to_string(test.status) +
                                 " from the BMC while no message awaits one";
    const auto &printed = platform_.SimulatorLines();
    EXPECT_EQ(std::ranges::find(printed, answered) != printed.end(), test.status >= 0) << answered;
    EXPECT_EQ(Count(ExchangeCounter::UnexpectedStatusFrames), test.status >= 0 ? 1u : 0u);
    EXPECT_EQ(platform_.Request(MarkDriveAsSpare(), seconds(10)), success_);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, MalformedFrameTest, ::testing::ValuesIn(kMalformed),
                         [](const auto &info) {
                             std::string name = info.param.kind;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(MalformedFrameKindsTest, EveryKindIsExercised) {
    std::vector<std::string_view> tested;
    for (const MalformedCase &test : kMalformed) {
        tested.push_back(test.kind);
    }
    EXPECT_EQ(MalformedFrameKinds(), tested);
    EXPECT_FALSE(MalformedFrames("no-such-kind"));
}

TEST(InProcessPlatformTest, ConnectWithoutAHostFailsAfterTheHeartbeatTimeout) {
    Settings settings;
    settings.heartbeats.enabled = false;
    InProcessPlatform platform(settings);
    EXPECT_EQ(platform.Connect(seconds(50)), 7u);
    EXPECT_GE(platform.Now(), seconds(41));
    EXPECT_EQ(platform.Request(MarkDriveAsSpare()), (Completion{8, 0xFFFF}))
        << "refused at once without a link";
}

} // namespace
} // namespace vuno::hostsim::testing
