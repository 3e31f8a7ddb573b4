#include "storage_executor.hpp"

#include "storage_commands.hpp"
#include "storage_encoding.hpp"

#include <algorithm>
#include <utility>

namespace vuno::hostsim {
namespace {

const SsiAnswer kBadLength = Reply(SsiStatus::RequestDataLengthInvalid);

} // namespace

StorageExecutor::StorageExecutor(RaidModel &model) : model_(model) {
    model_.SetEventsQueued(
        [this](const Identifier &subscription) { OnEventsQueued(subscription); });
}

StorageExecutor::~StorageExecutor() {
    model_.SetEventsQueued(nullptr);
}

void StorageExecutor::Handle(uint8_t commandCode, ByteView payload, Responder respond) {
    handling_ = true;
    std::vector<Responder> cancelled;
    std::optional<SsiAnswer> answer;
    if (commandCode < kCreateEventSubscription) {
        answer = RunModelCommand(model_, commandCode, payload);
    } else if (commandCode == kCreateEventSubscription) {
        answer = CreateSubscription(payload);
    } else if (commandCode == kCancelEventSubscription) {
        answer = CancelSubscription(payload, cancelled);
    } else if (commandCode == kGetEvents) {
        answer = GetEvents(payload, respond);
    } else {
        answer = Reply(SsiStatus::InvalidCommandCode);
    }
    handling_ = false;
    if (answer) {
        respond(std::move(*answer));
    }
    for (Responder &held : cancelled) {
        held(Reply(SsiStatus::InvalidSubscription));
    }
    for (const Identifier &subscription : std::exchange(queuedMeanwhile_, {})) {
        AnswerHeld(subscription);
    }
}

void StorageExecutor::Restart() {
    held_.clear();
    queuedMeanwhile_.clear();
    model_.ClearSubscriptions();
}

SsiAnswer StorageExecutor::CreateSubscription(ByteView payload) {
    ByteReader reader(payload);
    const uint8_t scopeField = reader.U8();
    const Identifier scopeId = reader.Id();
    const uint8_t count = reader.U8();
    const ByteView codes = reader.Take(count);
    if (!reader.Complete()) {
        return kBadLength;
    }
    Scope scope;
    if (const SsiStatus status = DecodeScope(scopeField, scopeId, scope);
        status != SsiStatus::Success) {
        return Reply(status);
    }
    std::vector<EventType> types;
    for (uint8_t code : codes) {
        if (!IsEventType(code)) {
            return Reply(SsiStatus::InvalidEventType);
        }
        types.push_back(static_cast<EventType>(code));
    }
    Identifier created{};
    const SsiStatus status = model_.Subscribe(scope, types, created);
    return status == SsiStatus::Success ? Data(EncodeSubscription(created, kEventQueueDepth))
                                        : Reply(status);
}

SsiAnswer StorageExecutor::CancelSubscription(ByteView payload, std::vector<Responder> &orphaned) {
    ByteReader reader(payload);
    const Identifier subscription = reader.Id();
    if (!reader.Complete()) {
        return kBadLength;
    }
    const SsiStatus status = model_.Unsubscribe(subscription);
    if (status != SsiStatus::Success) {
        return Reply(status);
    }
    for (auto held = held_.begin(); held != held_.end();) {
        if (held->subscription != subscription) {
            ++held;
            continue;
        }
        orphaned.push_back(std::move(held->respond));
        held = held_.erase(held);
    }
    return Reply(status);
}

std::optional<SsiAnswer> StorageExecutor::GetEvents(ByteView payload, Responder &respond) {
    ByteReader reader(payload);
    const Identifier subscription = reader.Id();
    const uint32_t limit = reader.U32();
    if (!reader.Complete()) {
        return kBadLength;
    }
    if (!model_.HasSubscription(subscription)) {
        return Reply(SsiStatus::InvalidSubscription);
    }
    const bool othersWaiting =
        std::any_of(held_.begin(), held_.end(), [&subscription](const HeldRequest &held) {
            return held.subscription == subscription;
        });
    if (model_.QueuedEvents(subscription) == 0 || othersWaiting) {
        held_.push_back({subscription, limit, std::move(respond)});
        return std::nullopt;
    }
    return Data(EncodeEvents(model_.TakeEvents(subscription, limit)));
}

void StorageExecutor::OnEventsQueued(const Identifier &subscription) {
    if (handling_) {
        queuedMeanwhile_.push_back(subscription);
        return;
    }
    AnswerHeld(subscription);
}

// Oldest request first, while events last.
void StorageExecutor::AnswerHeld(const Identifier &subscription) {
    for (;;) {
        const auto held =
            std::find_if(held_.begin(), held_.end(), [&subscription](const HeldRequest &request) {
                return request.subscription == subscription;
            });
        if (held == held_.end() || model_.QueuedEvents(subscription) == 0) {
            return;
        }
        HeldRequest request = std::move(*held);
        held_.erase(held);
        request.respond(Data(EncodeEvents(model_.TakeEvents(subscription, request.limit))));
    }
}

} // namespace vuno::hostsim
