// Whole exchanges between a real library instance and the simulated host,
// in one process and simulated time: the two sides' framing, checksums
// and payload encodings must agree, and the host's malformed frames must
// be what they claim to be.
#include "inventory_file.hpp"
#include "malformed_frames.hpp"
#include "mctp_service.hpp"
#include "simulator.hpp"
#include "vendor_header.hpp"
#include "vuno.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>

namespace vuno::hostsim {
namespace {

using std::chrono::seconds;

constexpr Duration kProcessPeriod{10};

// How a request operation ended: the operation's own status when it did
// not return "pending", else the completion callback's arguments.
struct Completion {
    uint32_t status;
    uint32_t ssiStatus;

    friend bool operator==(const Completion &, const Completion &) = default;
    friend std::ostream &operator<<(std::ostream &out, const Completion &completion) {
        return out << "(" << completion.status << ", " << completion.ssiStatus << ")";
    }
};

constexpr Completion kSuccess{0, 0};

// A request operation of vuno.h, bound to its argument record.
using Operation = std::function<int(vuno_instance *, vuno_completion_callback, void *)>;
// Looks at the response record during the completion callback.
using RecordInspector = std::function<void(const void *record)>;

// The library's MCTP sends go straight to the simulator's MCTP service and
// the ME's requests come back into the library, without D-Bus. Request
// processing runs every 10 ms and the library timer every second of
// simulated time, as in the daemon, so that a whole exchange runs in
// milliseconds and always the same way.
class InProcessPlatform {
  public:
    InProcessPlatform()
        : simulator_(
              Settings{}, [this](const Bytes &message) { FromMe(message); },
              [this](const std::string &line) { simulatorLines_.push_back(line); }) {
        // One thread and no re-entry: the locks only need to exist.
        static const vuno_platform_callbacks callbacks = {
            Log,
            []() -> void * {
                static int token;
                return &token;
            },
            [](void *) {},
            [](void *) { return 1; },
            [](void *) {},
            TimerCreate,
            [](void *timer) { static_cast<std::optional<Timer> *>(timer)->reset(); },
            MctpSend,
        };
        if (vuno_initialize(&instance_, this, &callbacks) != VUNO_STATUS_SUCCESS) {
            throw std::runtime_error("the library did not initialise");
        }
    }
    ~InProcessPlatform() { vuno_deinitialize(instance_); }
    InProcessPlatform(const InProcessPlatform &) = delete;
    InProcessPlatform &operator=(const InProcessPlatform &) = delete;

    Simulator &Sim() { return simulator_; }
    const std::vector<std::string> &SimulatorLines() const { return simulatorLines_; }

    // Steps until `done` holds, at most for `limit`.
    void RunUntil(const std::function<bool()> &done, Duration limit) {
        for (const Duration end = now_ + limit; !done() && now_ < end;) {
            Step();
        }
    }

    // Connects through the first candidate; the connected callback's
    // status, the operation's own when it did not go out, or nothing.
    std::optional<uint32_t> Connect() {
        const auto onConnected = [](uint32_t status, void *self) {
            static_cast<InProcessPlatform *>(self)->connected_ = status;
        };
        const int status = vuno_connect_to_host(
            instance_, 0x05000000, onConnected, this, [](uint32_t, void *) {}, nullptr);
        if (status != VUNO_STATUS_COMMAND_PENDING) {
            return static_cast<uint32_t>(status);
        }
        RunUntil([this] { return connected_.has_value(); }, Duration{60000});
        return connected_;
    }

    // Starts an operation and runs until it ends, at most for `limit`.
    std::optional<Completion> Request(const Operation &operation, Duration limit = seconds(120),
                                      RecordInspector inspect = {}) {
        Pending &pending = requests_.emplace_back(Pending{{}, std::move(inspect)});
        const int status = operation(instance_, OnCompletion, &pending);
        if (status != VUNO_STATUS_COMMAND_PENDING) {
            return Completion{static_cast<uint32_t>(status), VUNO_SSI_STATUS_NO_RESPONSE};
        }
        RunUntil([&pending] { return pending.completion.has_value(); }, limit);
        return pending.completion;
    }

  private:
    struct Delivery {
        bool request;
        uint8_t tag;
        int mctpStatus;
        Bytes data;
    };
    struct Pending {
        std::optional<Completion> completion;
        RecordInspector inspect;
    };
    struct Timer {
        void *argument;
        vuno_timer_handler handler;
        Duration period;
    };

    static void Log(int, const char *, int, const char *, ...) {}

    static void *TimerCreate(void *context, void *argument, vuno_timer_handler handler,
                             uint32_t periodSeconds) {
        auto &timer = static_cast<InProcessPlatform *>(context)->timer_;
        if (periodSeconds == 0 || timer) {
            return nullptr;
        }
        timer = Timer{argument, handler, seconds(periodSeconds)};
        return &timer;
    }

    // Outcomes are queued rather than handed back at once: the library is
    // in the middle of a call and, as with the daemon, hears of them
    // afterwards.
    static int MctpSend(void *context, bool request, uint8_t tag, const uint8_t *data,
                        uint32_t length) {
        auto &self = *static_cast<InProcessPlatform *>(context);
        const auto instanceId =
            static_cast<uint8_t>((request ? self.nextInstanceId_++ : tag) & kInstanceIdMask);
        const ByteView message = data == nullptr ? ByteView{} : ByteView{data, length};
        self.simulator_.Mctp().SendMessage(
            kMeEndpointId, request ? 1 : 0, WithVendorHeader(request, instanceId, message),
            [&self, request](const MctpResult &result) { self.QueueAnswer(request, result); });
        return 0;
    }

    void QueueAnswer(bool request, const MctpResult &result) {
        if (result.status != kMctpSuccess ||
            (request && result.message.size() < kVendorHeaderSize)) {
            deliveries_.push_back({false, 0, 1, {}});
        } else if (request) {
            deliveries_.push_back(
                {false, 0, 0,
                 Bytes(result.message.begin() + kVendorHeaderSize, result.message.end())});
        }
    }

    void FromMe(const Bytes &message) {
        deliveries_.push_back({true, InstanceId(message), 0,
                               Bytes(message.begin() + kVendorHeaderSize, message.end())});
    }

    // The ME sends its next request as soon as the library has answered the
    // last one, so whole chains of frames pass within one step; the rounds
    // are bounded all the same.
    void DeliverPending() {
        for (int round = 0; round < 10000; ++round) {
            while (!deliveries_.empty()) {
                const Delivery delivery = std::move(deliveries_.front());
                deliveries_.pop_front();
                bmc_me_mctp_message_received(instance_, delivery.request, delivery.tag,
                                             delivery.mctpStatus,
                                             delivery.data.empty() ? nullptr : delivery.data.data(),
                                             static_cast<uint32_t>(delivery.data.size()));
            }
            simulator_.Advance(Duration{0});
            if (deliveries_.empty()) {
                return;
            }
        }
    }

    void Step() {
        now_ += kProcessPeriod;
        simulator_.Advance(kProcessPeriod);
        DeliverPending();
        if (timer_ && now_ % timer_->period == Duration{0}) {
            timer_->handler(timer_->argument);
            DeliverPending();
        }
        vuno_process_requests(instance_);
        DeliverPending();
    }

    static void OnCompletion(uint32_t status, uint32_t ssiStatus, const void *record,
                             void *context) {
        auto &pending = *static_cast<Pending *>(context);
        pending.completion = Completion{status, ssiStatus};
        if (pending.inspect) {
            pending.inspect(record);
        }
    }

    // Before the simulator, which may report from its constructor on.
    std::deque<Delivery> deliveries_;
    std::vector<std::string> simulatorLines_;
    Simulator simulator_;
    vuno_instance *instance_ = nullptr;
    std::optional<Timer> timer_;
    Duration now_{0};
    uint8_t nextInstanceId_ = 0;
    std::deque<Pending> requests_;
    std::optional<uint32_t> connected_;
};

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
        platform.RunUntil([] { return false; }, Duration{100});
        const std::string answered = "Host: Status Frame " + std::to_string(status) +
                                     " from the BMC while no message awaits one";
        const auto &printed = platform.SimulatorLines();
        EXPECT_EQ(std::ranges::find(printed, answered) != printed.end(), status >= 0);
        EXPECT_EQ(platform.Request(MarkDriveAsSpare(), seconds(10)), kSuccess);
    }
    EXPECT_EQ(MalformedFrameKinds(), tested);
}

} // namespace
} // namespace vuno::hostsim
