#include "in_process_platform.hpp"

#include "mctp_service.hpp"
#include "vendor_header.hpp"

#include <stdexcept>

namespace vuno::hostsim::testing {
namespace {

// Rounds of delivery in one go before the platform stops and lets time
// move: far more than any exchange needs, but a bound all the same.
constexpr int kMaxDeliveryRounds = 10000;

} // namespace

struct InProcessPlatform::Timer {
    InProcessPlatform *owner;
    void *argument;
    vuno_timer_handler handler;
    Duration period;
};

InProcessPlatform::InProcessPlatform(const Settings &settings) {
    simulator_ = std::make_unique<Simulator>(
        settings, [this](const Bytes &message) { FromMe(message); },
        [this](const std::string &line) { simulatorLines_.push_back(line); });
    static const vuno_platform_callbacks callbacks = {
        Log, LockCreate, LockDestroy, Lock, Unlock, TimerCreate, TimerDestroy, MctpSend,
    };
    if (vuno_initialize(&instance_, this, &callbacks) != VUNO_STATUS_SUCCESS) {
        throw std::runtime_error("the library did not initialise");
    }
}

InProcessPlatform::~InProcessPlatform() {
    vuno_deinitialize(instance_);
}

void InProcessPlatform::Log(int, const char *, int, const char *, ...) {}

// One thread and no re-entry: the locks only need to exist.
void *InProcessPlatform::LockCreate() {
    static int token;
    return &token;
}

void InProcessPlatform::LockDestroy(void *) {}

int InProcessPlatform::Lock(void *) {
    return 1;
}

void InProcessPlatform::Unlock(void *) {}

void *InProcessPlatform::TimerCreate(void *context, void *argument, vuno_timer_handler handler,
                                     uint32_t periodSeconds) {
    auto &self = *static_cast<InProcessPlatform *>(context);
    if (periodSeconds == 0 || self.timer_) {
        return nullptr;
    }
    self.timer_ =
        std::make_unique<Timer>(Timer{&self, argument, handler, kTickPeriod * periodSeconds});
    return self.timer_.get();
}

void InProcessPlatform::TimerDestroy(void *timer) {
    if (timer != nullptr) {
        static_cast<Timer *>(timer)->owner->timer_.reset();
    }
}

int InProcessPlatform::MctpSend(void *context, bool request, uint8_t tag, const uint8_t *data,
                                uint32_t length) {
    auto &self = *static_cast<InProcessPlatform *>(context);
    self.SendToMe(request, tag, data == nullptr ? ByteView{} : ByteView{data, length});
    return 0;
}

// Outcomes are queued rather than handed back at once: the library is in
// the middle of a call and, as with the daemon, hears of them afterwards.
void InProcessPlatform::SendToMe(bool request, uint8_t tag, ByteView message) {
    const auto instanceId =
        static_cast<uint8_t>((request ? nextInstanceId_++ : tag) & kInstanceIdMask);
    simulator_->Mctp().SendMessage(
        kMeEndpointId, request ? 1 : 0, WithVendorHeader(request, instanceId, message),
        [this, request](const MctpResult &result) { QueueAnswer(request, result); });
}

void InProcessPlatform::QueueAnswer(bool request, const MctpResult &result) {
    if (result.status != kMctpSuccess || (request && result.message.size() < kVendorHeaderSize)) {
        deliveries_.push_back({false, 0, 1, {}});
        return;
    }
    if (request) {
        deliveries_.push_back(
            {false, 0, 0, Bytes(result.message.begin() + kVendorHeaderSize, result.message.end())});
    }
}

void InProcessPlatform::FromMe(const Bytes &message) {
    deliveries_.push_back(
        {true, InstanceId(message), 0, Bytes(message.begin() + kVendorHeaderSize, message.end())});
}

// The ME sends its next request as soon as the library has answered the
// last one, so whole chains of frames pass within one step.
void InProcessPlatform::DeliverPending() {
    for (int round = 0; round < kMaxDeliveryRounds; ++round) {
        while (!deliveries_.empty()) {
            const Delivery delivery = std::move(deliveries_.front());
            deliveries_.pop_front();
            bmc_me_mctp_message_received(instance_, delivery.request, delivery.tag,
                                         delivery.mctpStatus,
                                         delivery.data.empty() ? nullptr : delivery.data.data(),
                                         static_cast<uint32_t>(delivery.data.size()));
        }
        simulator_->Advance(Duration{0});
        if (deliveries_.empty()) {
            return;
        }
    }
}

void InProcessPlatform::Step() {
    now_ += kProcessPeriod;
    simulator_->Advance(kProcessPeriod);
    DeliverPending();
    if (timer_ && now_ % timer_->period == Duration{0}) {
        timer_->handler(timer_->argument);
        DeliverPending();
    }
    vuno_process_requests(instance_);
    DeliverPending();
}

void InProcessPlatform::RunFor(Duration duration) {
    for (const Duration end = now_ + duration; now_ < end;) {
        Step();
    }
}

bool InProcessPlatform::RunUntil(const std::function<bool()> &done, Duration limit) {
    for (const Duration end = now_ + limit; !done(); Step()) {
        if (now_ >= end) {
            return false;
        }
    }
    return true;
}

std::optional<uint32_t> InProcessPlatform::Connect(Duration limit) {
    connected_.reset();
    const int status =
        vuno_connect_to_host(instance_, kFirstCandidate, OnConnected, this, OnLost, this);
    if (status != VUNO_STATUS_COMMAND_PENDING) {
        return static_cast<uint32_t>(status);
    }
    RunUntil([this] { return connected_.has_value(); }, limit);
    return connected_;
}

void InProcessPlatform::OnConnected(uint32_t status, void *context) {
    static_cast<InProcessPlatform *>(context)->connected_ = status;
}

void InProcessPlatform::OnLost(uint32_t, void *) {}

std::optional<Completion> InProcessPlatform::Request(const Operation &operation, Duration limit,
                                                     RecordInspector inspect) {
    Pending &pending = requests_.emplace_back();
    pending.inspect = std::move(inspect);
    const int status = operation(instance_, OnCompletion, &pending);
    if (status != VUNO_STATUS_COMMAND_PENDING) {
        return Completion{static_cast<uint32_t>(status), VUNO_SSI_STATUS_NO_RESPONSE};
    }
    RunUntil([&pending] { return pending.completion.has_value(); }, limit);
    return pending.completion;
}

void InProcessPlatform::OnCompletion(uint32_t status, uint32_t ssiStatus, const void *record,
                                     void *context) {
    auto &pending = *static_cast<Pending *>(context);
    pending.completion = Completion{status, ssiStatus};
    if (pending.inspect) {
        pending.inspect(record);
    }
}

} // namespace vuno::hostsim::testing
