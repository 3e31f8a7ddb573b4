// Whole exchanges between a real library instance and the simulated host,
// in one process and simulated time: the two sides' framing, checksums
// and payload encodings must agree, and the host's malformed frames must
// be what they claim to be.
#include "in_process_platform.hpp"
#include "inventory_file.hpp"
#include "malformed_frames.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

namespace vuno::hostsim::testing {

std::ostream &operator<<(std::ostream &out, const Completion &completion) {
    return out << "(" << completion.status << ", " << completion.ssiStatus << ")";
}

namespace {

using std::chrono::seconds;

constexpr Completion kSuccess{0, 0};

Operation MarkDriveAsSpare() {
    return [](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        const Identifier drive = LabelIdentifier("drive", "nvme4");
        vuno_identifier target{};
        std::memcpy(target.identifier, drive.data(), drive.size());
        return vuno_mark_drive_as_spare(instance, &target, callback, context);
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

// Keeps what reached it and answers with `answer`.
class RecordingHandler : public CommandHandler {
  public:
    void Handle(uint8_t, ByteView payload, Responder respond) override {
        payloads.emplace_back(payload.begin(), payload.end());
        respond(answer);
    }
    std::vector<Bytes> payloads;
    SsiAnswer answer;
};

class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform_.Connect(), 0u); }

    RecordingHandler &InstallRecorder() {
        auto handler = std::make_unique<RecordingHandler>();
        RecordingHandler &recorder = *handler;
        platform_.Sim().SetCommandHandler(std::move(handler));
        return recorder;
    }

    uint64_t Count(ExchangeCounter counter) {
        return platform_.Sim().Host().Counters().Value(counter);
    }

    InProcessPlatform platform_;
};

TEST_F(ExchangeTest, LargeRequestIsReassembledWhole) {
    RecordingHandler &recorder = InstallRecorder();
    const Bytes image = Image(100 * 1024);
    EXPECT_EQ(platform_.Request(SendFirmwareToSlot(image)), kSuccess);
    ASSERT_EQ(recorder.payloads.size(), 1u);
    const Bytes &payload = recorder.payloads[0];
    ASSERT_EQ(payload.size(), 14 + image.size());
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 14),
              (Bytes{2, 0, 0x00, 0x90, 0x01, 0x00, 'R', 'E', 'V', '-', '0', '0', '4', '2'}));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), payload.begin() + 14));
    EXPECT_EQ(Count(ExchangeCounter::DataFramesReceived), 102u);
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
    EXPECT_EQ(outcome, kSuccess);
    EXPECT_EQ(received, IdentifierList(kDrives));
}

// Each malformed kind and the status value of the Status Frame the library
// answers it with, if any.
const std::pair<std::string_view, int> kMalformed[] = {
    {"bad-control-type", -1},  {"heartbeat-4-bytes", -1},   {"heartbeat-6-bytes", -1},
    {"status-3-bytes", -1},    {"status-message-id", -1},   {"frame-type-3", -1},
    {"data-frame-2-bytes", 5}, {"first-frame-12-bytes", 5}, {"first-frame-over-total", 5},
    {"later-frame-empty", 5},  {"data-message-id", 3},      {"service-id-2", 1},
    {"total-zero", 2},         {"total-too-large", 2},      {"later-without-first", 8},
    {"wrong-sequence", 4},     {"size-exceeds-total", 6},   {"wrong-crc", 7},
};

// Each on a fresh link, so that one kind cannot hide behind another.
TEST(MalformedFrameTest, EveryKindIsRefusedForWhatItIsAndTheBmcCarriesOn) {
    std::vector<std::string_view> tested;
    for (const auto &[kind, status] : kMalformed) {
        SCOPED_TRACE(kind);
        tested.push_back(kind);
        InProcessPlatform platform;
        ASSERT_EQ(platform.Connect(), 0u);
        ASSERT_TRUE(platform.Sim().SendMalformedFrame(kind));
        platform.RunFor(Duration{100});
        const std::string answered = "Host: Status Frame " + std::to_string(status) +
                                     " from the BMC while no message awaits one";
        const auto &printed = platform.SimulatorLines();
        EXPECT_EQ(std::ranges::find(printed, answered) != printed.end(), status >= 0);
        EXPECT_EQ(platform.Request(MarkDriveAsSpare(), seconds(10)), kSuccess);
    }
    EXPECT_EQ(MalformedFrameKinds(), tested);
}

} // namespace
} // namespace vuno::hostsim::testing
