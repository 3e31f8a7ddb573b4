#include "bench.hpp"

#include "utils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <utility>

namespace vuno::fuzz {

void Violated(const char *promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

namespace {

// ---- the platform ----

struct Platform {
    int locksAlive = 0;
    int locksHeld = 0;
    bool timerAlive = false;
    bool finished = false; // de-initialised: nothing may reach us any more
    bool linkUp = false;
    std::deque<Bytes> outbox; // requests to the ME; replies need no answer
} platform;

// A lock is whether it is held.
bool &Held(void *lock) {
    return *static_cast<bool *>(lock);
}

void Reached() {
    Require(!platform.finished, "nothing after de-initialisation");
}

void Log(int, const char *, int, const char *format, ...) {
    Reached();
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
}

void *LockCreate() {
    Reached();
    ++platform.locksAlive;
    return new bool(false);
}

void LockDestroy(void *lock) {
    Reached();
    Require(!Held(lock), "no lock destroyed while held");
    --platform.locksAlive;
    delete &Held(lock);
}

int TakeLock(void *lock) {
    Reached();
    Require(!std::exchange(Held(lock), true), "no lock taken twice");
    ++platform.locksHeld;
    return 1;
}

void ReleaseLock(void *lock) {
    Require(std::exchange(Held(lock), false), "only held locks released");
    --platform.locksHeld;
}

void *TimerCreate(void *, void *, vuno_timer_handler, uint32_t) {
    Reached();
    platform.timerAlive = true;
    return &platform;
}

void TimerDestroy(void *) {
    Reached();
    platform.timerAlive = false;
}

int MctpSend(void *, bool request, uint8_t, const uint8_t *data, uint32_t length) {
    Reached();
    if (request) {
        platform.outbox.emplace_back(data, data + length);
    }
    return 0;
}

// Both the connection's result and the loss of the link.
void OnLink(uint32_t status, void *up) {
    Reached();
    *static_cast<bool *>(up) = status == VUNO_STATUS_SUCCESS;
}

const vuno_platform_callbacks kCallbacks{Log,         LockCreate,  LockDestroy,  TakeLock,
                                         ReleaseLock, TimerCreate, TimerDestroy, MctpSend};

constexpr size_t kFirstHeader = 13;
constexpr size_t kNextHeader = 3;

// ---- requests ----

constexpr uint8_t kGetEvents = 40;

bool HasResponseData(uint8_t code) {
    return code <= 11 || code == 22 || code == 38 || code == kGetEvents;
}

void Completed(uint32_t status, uint32_t ssiStatus, const void *record, void *context) {
    Reached();
    auto *outcome = static_cast<Bench::Outcome *>(context);
    Require(++outcome->calls == 1, "every accepted request completes exactly once");
    const bool success = status == VUNO_STATUS_SUCCESS && ssiStatus == 0;
    Require((record != nullptr) == (success && HasResponseData(outcome->code)),
            "a successful completion carries its record");
}

using Submitter = int (*)(vuno_instance *, uint32_t, Bench::Outcome *);

constexpr vuno_identifier kNoIdentifier{};
constexpr vuno_scope kScope{};

template <auto Operation> int Plain(vuno_instance *instance, uint32_t, Bench::Outcome *outcome) {
    return Operation(instance, Completed, outcome);
}

template <auto Operation, const auto &Argument>
int With(vuno_instance *instance, uint32_t, Bench::Outcome *outcome) {
    return Operation(instance, &Argument, Completed, outcome);
}

int ScopedIdentifiers(vuno_instance *instance, uint32_t size, Bench::Outcome *outcome) {
    const vuno_scope scope{size % 6, {}};
    return vuno_get_drive_identifiers(instance, &scope, Completed, outcome);
}

// A request whose arguments end in up to `Max - 1` items of `Unit` bytes,
// as many as its `Count` member says.
template <typename Args, auto Operation, auto Count, size_t Unit, uint32_t Max>
int Flexible(vuno_instance *instance, uint32_t size, Bench::Outcome *outcome) {
    const uint32_t count = size % Max;
    Bytes block(sizeof(Args) + count * Unit, 0);
    auto *args = reinterpret_cast<Args *>(block.data());
    args->*Count = static_cast<std::remove_reference_t<decltype(args->*Count)>>(count);
    return Operation(instance, args, Completed, outcome);
}

constexpr vuno_get_events_args kEvents{};

// One operation per record shape, and a few without response data.
const std::pair<uint8_t, Submitter> kSubmitters[] = {
    {0, ScopedIdentifiers},
    {4, With<vuno_get_drive_information, kScope>},
    {5, With<vuno_get_volume_information, kScope>},
    {6, With<vuno_get_volume_migration_capabilities, kNoIdentifier>},
    {7, With<vuno_get_array_information, kScope>},
    {8, With<vuno_get_controller_information, kScope>},
    {9, With<vuno_get_controller_raid_capabilities, kNoIdentifier>},
    {10, Plain<vuno_get_executor_information>},
    {11, Plain<vuno_get_firmware_slot_information>},
    {12, Flexible<vuno_send_firmware_to_slot_args, vuno_send_firmware_to_slot,
                  &vuno_send_firmware_to_slot_args::image_length, 1, 4000>}, // to four frames
    {14, With<vuno_clear_drive_metadata, kNoIdentifier>},
    {22, Flexible<vuno_create_volume_args, vuno_create_volume, &vuno_create_volume_args::count,
                  VUNO_IDENTIFIER_SIZE, 4>},
    {38, Flexible<vuno_create_event_subscription_args, vuno_create_event_subscription,
                  &vuno_create_event_subscription_args::count, sizeof(uint32_t), 3>},
    {kGetEvents, With<vuno_get_events, kEvents>},
};

} // namespace

// ---- the bench ----

uint32_t Input::Word() {
    Bytes word = Take(4);
    word.resize(4, 0);
    return get_le32(word.data());
}

Bytes Input::Take(size_t count) {
    const auto begin = data_.begin() + static_cast<long>(offset_);
    offset_ += std::min(count, data_.size() - offset_);
    return Bytes(begin, data_.begin() + static_cast<long>(offset_));
}

Bytes Bench::Refusal(uint8_t id, uint8_t) {
    return ssiResponse(id, 0x0101);
}

Bench::Bench(bool mayFail) : answer(Refusal) {
    platform = Platform{};
    const int status = vuno_initialize(&instance_, &platform, &kCallbacks);
    Require(status == VUNO_STATUS_SUCCESS || mayFail, "initialisation succeeds");
    Require(status == VUNO_STATUS_SUCCESS || instance_ == nullptr,
            "a failed initialisation leaves no instance");
    Idle();
}

Bench::~Bench() {
    if (instance_ != nullptr) {
        vuno_deinitialize(instance_);
    }
}

void Bench::Idle() const {
    Require(platform.locksHeld == 0, "every lock released when control returns");
}

void Bench::Connect() {
    vuno_connect_to_host(instance_, 0x00035B00, OnLink, &platform.linkUp, OnLink, &platform.linkUp);
    Idle();
}

void Bench::ConnectWhenDown() {
    if (!platform.linkUp) {
        Connect();
    }
}

void Bench::ConnectCooperatively() {
    Connect();
    Cooperate();
    Heartbeat(heartbeatId_);
}

void Bench::Heartbeat(uint32_t id) {
    heartbeatId_ = id;
    Bytes frame{0x00, 0, 0, 0, 0};
    put_le32(&frame[1], id);
    HostFrame(frame);
}

void Bench::Tick() {
    vuno_timer_tick(instance_);
    Idle();
}

void Bench::Process() {
    vuno_process_requests(instance_);
    Idle();
}

void Bench::FromMe(bool request, uint8_t tag, int mctpStatus, const Bytes &data) {
    bmc_me_mctp_message_received(instance_, request, tag, mctpStatus, data.data(),
                                 static_cast<uint32_t>(data.size()));
    Idle();
}

void Bench::HostFrame(const Bytes &frame) {
    FromMe(true, 0, 0, testing::transferRequest(frame));
}

void Bench::HostMessage(const Bytes &payload) {
    for (const Bytes &frame : testing::messageFrames(payload)) {
        HostFrame(frame);
    }
}

bool Bench::Submit(uint8_t which, uint32_t size) {
    const auto &[code, submit] = kSubmitters[which % std::size(kSubmitters)];
    Outcome &outcome = outcomes_.emplace_back(Outcome{code});
    const int status = submit(instance_, size, &outcome);
    Idle();
    if (status != VUNO_STATUS_COMMAND_PENDING) {
        Require(outcome.calls == 0, "a refused request has no completion");
        outcomes_.pop_back();
    }
    return status == VUNO_STATUS_COMMAND_PENDING;
}

void Bench::Step(uint8_t step, Input &input) {
    switch (step) {
    case 0:
        return Tick();
    case 1:
        return Process();
    case 2: {
        const uint8_t which = input.Byte();
        Submit(which, input.Word());
        return;
    }
    case 3:
        return Cooperate();
    default:
        return Heartbeat(input.Word());
    }
}

// The host's view of the library's Data Frames; a message received whole
// is owed a Status Frame and, when it is a request, an answer.
void Bench::Receive(const Bytes &frame) {
    if (frame.size() < kNextHeader || frame[0] != 0x01) {
        return;
    }
    if (frame[1] == 0 && frame[2] == 0) {
        if (frame.size() < kFirstHeader) {
            return;
        }
        expected_ = get_le32(&frame[5]);
        incoming_.assign(frame.begin() + kFirstHeader, frame.end());
    } else {
        incoming_.insert(incoming_.end(), frame.begin() + kNextHeader, frame.end());
    }
    if (incoming_.size() != expected_) {
        return;
    }
    if (incoming_.size() >= 6 && (incoming_[0] & 0x07) == 0) {
        owed_.emplace_back(incoming_[0] >> 3, incoming_[1]);
    }
    incoming_.clear();
    HostFrame({0x02, 0x00});
}

void Bench::AnswerOwed() {
    const auto owed = std::move(owed_);
    owed_.clear();
    for (const auto &[id, code] : owed) {
        HostMessage(answer(id, code));
    }
}

void Bench::Cooperate() {
    while (!platform.outbox.empty()) {
        const Bytes sent = std::move(platform.outbox.front());
        platform.outbox.pop_front();
        if (sent.empty()) {
            continue;
        }
        static constexpr uint8_t kSuccess[] = {0, 0x06, 0x00, 0x03, 0x03};
        const uint8_t command = sent[0];
        FromMe(false, 0, 0, {command, command < 5 ? kSuccess[command] : uint8_t{0}});
        if (command == 0x01 && sent.size() > 5) {
            Receive(Bytes(sent.begin() + 5, sent.end()));
        }
    }
    AnswerOwed();
}

bool Bench::Open(bool getEventsToo) const {
    return std::any_of(outcomes_.begin(), outcomes_.end(), [&](const Outcome &outcome) {
        return outcome.calls == 0 && (getEventsToo || outcome.code != kGetEvents);
    });
}

void Bench::RunCooperatively(int ticks) {
    for (int tick = 0; tick < ticks && Open(true); ++tick) {
        ConnectWhenDown();
        for (int step = 0; step < 16; ++step) {
            Cooperate();
            Process();
        }
        Cooperate();
        Heartbeat(heartbeatId_ < UINT32_MAX ? heartbeatId_ + 1 : heartbeatId_);
        Tick();
    }
}

// Time-outs of the BMC-ME layer (6 ticks), the Status Frame wait (21), the
// heartbeat (41) and the SSI engine (61) all fit with room to spare.
constexpr int kTickBound = 200;

void Bench::Finish() {
    RunCooperatively(kTickBound);
    Require(!Open(false), "with a cooperative host every request ends within the bound");
    // GetEvents never times out: one whose answer the input's host kept or
    // spoilt ends when the host answers every identifier.
    if (Open(true)) {
        for (uint8_t id = 0; id < 32; ++id) {
            HostMessage(Refusal(id, kGetEvents));
        }
        RunCooperatively(8);
        Require(!Open(true), "a GetEvents request ends once the host answers it");
    }
    Require(vuno_deinitialize(instance_) == VUNO_STATUS_SUCCESS, "de-initialisation succeeds");
    instance_ = nullptr;
    platform.finished = true;
    Require(platform.locksAlive == 0 && !platform.timerAlive, "locks and timer released");
}

} // namespace vuno::fuzz
