#include "management_engine.hpp"

#include "me_messages.hpp"
#include "vendor_header.hpp"

#include <algorithm>

namespace vuno::hostsim {

std::optional<ResponseMode> ParseResponseMode(std::string_view name) {
    if (name == "normal") {
        return ResponseMode::Normal;
    }
    if (name == "drop") {
        return ResponseMode::Drop;
    }
    if (name == "refuse") {
        return ResponseMode::Refuse;
    }
    return std::nullopt;
}

ManagementEngine::ManagementEngine(Journal &journal, const Clock &clock, MailboxPeer &host,
                                   ToBmc toBmc, std::set<uint32_t> liveLocations)
    : journal_(journal), clock_(clock), host_(host), toBmc_(std::move(toBmc)),
      liveLocations_(std::move(liveLocations)) {}

void ManagementEngine::HandleBmcRequest(ByteView request, const Answer &answer) {
    Record(request);
    auto response = Respond(request);
    const bool transfer = !request.empty() && request[0] == me::kTransferData;
    if (!response || !transfer || answerDelay_ == Duration{0} ||
        heldAnswers_.size() >= kMaxQueuedRequests) {
        answer(std::move(response));
        return;
    }
    heldAnswers_.emplace(clock_.Now() + answerDelay_, HeldAnswer{std::move(*response), answer});
}

std::optional<Bytes> ManagementEngine::Respond(ByteView request) {
    const uint8_t command = request.empty() ? 0 : request[0];
    if (modeCount_ > 0) {
        --modeCount_;
        if (mode_ == ResponseMode::Drop) {
            journal_.Count(Counter::DroppedRequests);
            return std::nullopt;
        }
        journal_.Count(Counter::RefusedRequests);
        return MeResponse(command, me::kBusy);
    }
    return MeResponse(command, Execute(request));
}

// Counted before any fault mode applies: these are requests that reached
// the ME, whatever became of them.
void ManagementEngine::Record(ByteView request) {
    const uint8_t command = request.empty() ? 0 : request[0];
    switch (command) {
    case me::kConnect:
        journal_.Count(Counter::ConnectRequests);
        if (request.size() == kConnectRequestSize) {
            connectAttempts_.push_back(ConnectLocation(request));
        }
        break;
    case me::kDisconnect:
    case me::kForceDisconnect:
        journal_.Count(Counter::DisconnectRequests);
        break;
    case me::kTransferData:
        journal_.Count(Counter::TransferDataRequests);
        break;
    default:
        journal_.Count(Counter::UnknownMeCommands);
        break;
    }
}

uint8_t ManagementEngine::Execute(ByteView request) {
    switch (request.empty() ? 0 : request[0]) {
    case me::kConnect:
        return Connect(request);
    case me::kDisconnect:
    case me::kForceDisconnect:
        return Disconnect(request);
    case me::kTransferData:
        return TransferData(request);
    default:
        return me::kUnexpectedCommand;
    }
}

uint8_t ManagementEngine::Connect(ByteView request) {
    if (request.size() != kConnectRequestSize) {
        journal_.Count(Counter::InvalidMeRequests);
        return me::kInvalidLength;
    }
    const uint32_t location = ConnectLocation(request);
    if (connected_) {
        return me::kAlreadyConnected;
    }
    if (!liveLocations_.contains(location)) {
        journal_.Note("ME: connect to VMD " + Hex32(location) + " failed, no host behind it");
        return me::kConnectFailed;
    }
    connected_ = true;
    location_ = location;
    journal_.Note("ME: connected to VMD " + Hex32(location));
    host_.OnLinkUp();
    return me::kConnected;
}

uint8_t ManagementEngine::Disconnect(ByteView request) {
    if (request.size() != kDisconnectRequestSize) {
        journal_.Count(Counter::InvalidMeRequests);
        return me::kInvalidLength;
    }
    if (!connected_) {
        return me::kNotConnected;
    }
    Disconnected(request[0] == me::kForceDisconnect);
    return me::kDisconnected;
}

uint8_t ManagementEngine::TransferData(ByteView request) {
    if (!TransferDataLengthValid(request)) {
        journal_.Count(Counter::InvalidMeRequests);
        return me::kInvalidLength;
    }
    if (!connected_) {
        return me::kNotConnected;
    }
    journal_.Count(Counter::FramesToHost);
    host_.OnFrameFromBmc(request.subspan(kTransferDataHeaderSize));
    return me::kDataSent;
}

void ManagementEngine::Disconnected(bool forced) {
    journal_.Note("ME: disconnected from VMD " + Hex32(location_) + (forced ? " (forced)" : ""));
    connected_ = false;
    location_ = 0;
    const auto dropped = std::erase_if(queue_, [](const Outgoing &item) { return item.fromHost; });
    for (size_t i = 0; i < dropped; ++i) {
        journal_.Count(Counter::HostFramesDropped);
    }
    host_.OnLinkDown();
}

void ManagementEngine::HandleBmcReply(uint8_t instanceId, ByteView reply) {
    if (!outstanding_ || outstanding_->instanceId != instanceId) {
        journal_.Count(Counter::UnmatchedMeReplies);
        return;
    }
    journal_.Count(Counter::MeRepliesReceived);
    const Bytes expected = MeResponse(me::kTransferData, outstanding_->expectedReply);
    if (!std::ranges::equal(reply, expected)) {
        journal_.Count(Counter::BadMeReplies);
        journal_.Note("ME: unexpected reply from the BMC to request " + std::to_string(instanceId));
    }
    outstanding_.reset();
}

bool ManagementEngine::RelayFromHost(ByteView frame) {
    if (!connected_) {
        journal_.Count(Counter::HostFramesDropped);
        return false;
    }
    Bytes message = TransferDataRequest(frame);
    const uint8_t expected = ExpectedBmcReplyStatus(message);
    return Enqueue({std::move(message), expected, true});
}

bool ManagementEngine::InjectFrame(ByteView frame) {
    if (frame.size() > kMaxInjectedSize) {
        return false;
    }
    return InjectMessage(TransferDataRequest(frame));
}

bool ManagementEngine::InjectMessage(ByteView message) {
    if (message.size() > kMaxInjectedSize + kTransferDataHeaderSize) {
        return false;
    }
    return Enqueue({Bytes(message.begin(), message.end()), ExpectedBmcReplyStatus(message), false});
}

bool ManagementEngine::Enqueue(Outgoing outgoing) {
    if (queue_.size() >= kMaxQueuedRequests) {
        if (outgoing.fromHost) {
            journal_.Count(Counter::HostFramesDropped);
        }
        return false;
    }
    queue_.push_back(std::move(outgoing));
    return true;
}

void ManagementEngine::SetVmdLive(uint32_t location, bool live) {
    if (live) {
        liveLocations_.insert(location);
    } else {
        liveLocations_.erase(location);
    }
}

void ManagementEngine::SetResponseMode(ResponseMode mode, uint32_t count) {
    mode_ = mode;
    modeCount_ = mode == ResponseMode::Normal ? 0 : count;
}

std::optional<Duration> ManagementEngine::NextDeadline() const {
    std::optional<Duration> next;
    if (outstanding_) {
        next = outstanding_->deadline;
    } else if (!queue_.empty()) {
        next = clock_.Now();
    }
    if (!heldAnswers_.empty() && (!next || heldAnswers_.begin()->first < *next)) {
        next = heldAnswers_.begin()->first;
    }
    return next;
}

void ManagementEngine::AnswerDue() {
    while (!heldAnswers_.empty() && heldAnswers_.begin()->first <= clock_.Now()) {
        auto held = std::move(heldAnswers_.extract(heldAnswers_.begin()).mapped());
        held.answer(std::move(held.response));
    }
}

void ManagementEngine::OnTime() {
    AnswerDue();
    if (outstanding_ && clock_.Now() >= outstanding_->deadline) {
        journal_.Count(Counter::MissingMeReplies);
        journal_.Note("ME: no reply from the BMC to request " +
                      std::to_string(outstanding_->instanceId));
        outstanding_.reset();
    }
    if (!outstanding_) {
        SendNext();
    }
}

void ManagementEngine::SendNext() {
    if (queue_.empty()) {
        return;
    }
    Outgoing next = std::move(queue_.front());
    queue_.pop_front();
    const uint8_t instanceId = nextInstanceId_;
    nextInstanceId_ = (nextInstanceId_ + 1) & kInstanceIdMask;
    outstanding_ = Outstanding{instanceId, next.expectedReply, clock_.Now() + kBmcReplyWait};
    journal_.Count(Counter::MeRequestsSent);
    toBmc_(instanceId, next.message);
}

} // namespace vuno::hostsim
