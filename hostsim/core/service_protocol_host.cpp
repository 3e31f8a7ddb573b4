#include "service_protocol_host.hpp"

#include "wire.hpp"

#include <algorithm>
#include <string>

namespace vuno::hostsim {
namespace {

std::string SizeText(size_t size) {
    return std::to_string(size) + " bytes";
}

} // namespace

ServiceProtocolHost::ServiceProtocolHost(Journal &journal, ExchangeCounters &counters,
                                         const Clock &clock, SendFrame sendFrame, Deliver deliver)
    : journal_(journal), counters_(counters), clock_(clock), sendFrame_(std::move(sendFrame)),
      deliver_(std::move(deliver)), reassembly_(counters) {}

void ServiceProtocolHost::OnFrameFromBmc(ByteView frame) {
    const int type = frame.empty() ? -1 : sp::TypeOf(frame[0]);
    if (type == sp::kDataFrame) {
        OnDataFrame(frame);
        return;
    }
    if (type == sp::kStatusFrame && frame.size() == sp::kStatusFrameSize &&
        sp::MessageIdOf(frame[0]) == 0) {
        OnStatusFrame(frame[1]);
        return;
    }
    journal_.Count(Counter::UnhandledFrames);
    journal_.Note("Host: frame of type " + std::to_string(type) + " and " + SizeText(frame.size()) +
                  " from the BMC ignored");
}

void ServiceProtocolHost::OnDataFrame(ByteView frame) {
    counters_.Count(ExchangeCounter::DataFramesReceived);
    if (auto verdict = reassembly_.Accept(frame)) {
        OnVerdict(std::move(*verdict));
    }
}

void ServiceProtocolHost::OnVerdict(Verdict verdict) {
    if (!verdict.messageComplete) {
        counters_.Count(ExchangeCounter::FrameErrors);
        journal_.Note("Host: " + verdict.problem + ", answered with Status " +
                      std::to_string(verdict.status));
        WriteStatusFrame(verdict.status);
        return;
    }
    const bool intact = verdict.status == sp::kSuccess;
    counters_.Count(intact ? ExchangeCounter::MessagesReceived : ExchangeCounter::CrcErrors);
    if (verdictsToWithhold_ > 0) {
        --verdictsToWithhold_;
        counters_.Count(ExchangeCounter::StatusFramesWithheld);
        journal_.Note("Host: message from the BMC left without a Status Frame");
        return;
    }
    uint8_t status = verdict.status;
    if (verdictsToReplace_ > 0) {
        --verdictsToReplace_;
        counters_.Count(ExchangeCounter::VerdictsReplaced);
        status = replacementStatus_;
    }
    journal_.Note("Host: " +
                  (intact ? "message of " + SizeText(verdict.message.size()) + " from the BMC"
                          : "message from the BMC with a CRC mismatch") +
                  ", answered with Status " + std::to_string(status));
    // The Status Frame goes first, so the BMC knows its message arrived
    // before any response to it.
    WriteStatusFrame(status);
    if (intact && status == sp::kSuccess) {
        deliver_(verdict.message);
    }
}

void ServiceProtocolHost::WriteStatusFrame(uint8_t status) {
    if (sendFrame_(sp::StatusFrame(status))) {
        counters_.Count(ExchangeCounter::StatusFramesSent);
    }
}

void ServiceProtocolHost::OnStatusFrame(uint8_t status) {
    counters_.Count(ExchangeCounter::StatusFramesReceived);
    if (!sending_) {
        counters_.Count(ExchangeCounter::UnexpectedStatusFrames);
        journal_.Note("Host: Status Frame " + std::to_string(status) +
                      " from the BMC while no message awaits one");
        return;
    }
    if (status == sp::kSuccess) {
        Finish(ExchangeCounter::MessagesDelivered, "delivered");
    } else if (status == sp::kCrcError) {
        Retransmit();
    } else {
        Finish(ExchangeCounter::MessagesRejected, "rejected with Status " + std::to_string(status));
    }
}

void ServiceProtocolHost::Retransmit() {
    if (sending_->retransmissions >= kMaxRetransmissions) {
        Finish(ExchangeCounter::MessagesRejected,
               "given up after " + std::to_string(kMaxRetransmissions + 1) + " CRC errors");
        return;
    }
    ++sending_->retransmissions;
    counters_.Count(ExchangeCounter::Retransmissions);
    journal_.Note("Host: the BMC reports a CRC error, message sent again");
    sending_->offset = 0;
    sending_->nextIndex = 0;
    sending_->statusDeadline.reset();
    Pump();
}

void ServiceProtocolHost::Finish(ExchangeCounter outcome, const std::string &how) {
    counters_.Count(outcome);
    journal_.Note("Host: message of " + SizeText(sending_->payload.size()) + " " + how);
    sending_.reset();
    Pump();
}

bool ServiceProtocolHost::Send(Bytes message) {
    if (message.empty() || message.size() > sp::kMaxMessageSize) {
        counters_.Count(ExchangeCounter::MessagesDropped);
        journal_.Note("Host: message of " + SizeText(message.size()) + " cannot be sent");
        return false;
    }
    queue_.push_back(std::move(message));
    Pump();
    return true;
}

void ServiceProtocolHost::Pump() {
    while (inMailbox_.empty()) {
        if (!sending_) {
            if (queue_.empty()) {
                return;
            }
            Bytes payload = std::move(queue_.front());
            queue_.pop_front();
            const auto size = static_cast<uint32_t>(payload.size());
            const uint32_t crc = sp::MessageCrc({sp::kServiceIdSsi, 0, size, 0}, payload);
            sending_.emplace(std::move(payload), crc);
            counters_.Count(ExchangeCounter::MessagesSent);
        }
        if (sending_->offset == sending_->payload.size()) {
            return; // every frame is out; the Status Frame is due
        }
        if (!WriteNextFrame()) {
            counters_.Count(ExchangeCounter::MessagesDropped);
            journal_.Note("Host: message of " + SizeText(sending_->payload.size()) +
                          " dropped, the mailbox refused a frame");
            sending_.reset();
        }
    }
}

bool ServiceProtocolHost::WriteNextFrame() {
    Outgoing &message = *sending_;
    const auto total = static_cast<uint32_t>(message.payload.size());
    const bool first = message.offset == 0;
    const uint32_t part =
        std::min(total - message.offset, first ? sp::kFirstPartMax : sp::kNextPartMax);
    const ByteView piece = ByteView(message.payload).subspan(message.offset, part);
    Bytes frame = first ? sp::FirstFrame({sp::kServiceIdSsi, 0, total, message.crc}, piece)
                        : sp::LaterFrame(message.nextIndex, piece);
    if (!sendFrame_(frame)) {
        return false;
    }
    message.offset += part;
    ++message.nextIndex;
    inMailbox_ = std::move(frame);
    return true;
}

void ServiceProtocolHost::OnFrameLeftMailbox(ByteView frame) {
    if (inMailbox_.empty() || !std::ranges::equal(frame, inMailbox_)) {
        return;
    }
    inMailbox_.clear();
    if (sending_ && sending_->offset == sending_->payload.size()) {
        sending_->statusDeadline = clock_.Now() + kStatusFrameWait;
    }
    Pump();
}

void ServiceProtocolHost::DropOutgoing() {
    const size_t dropped = queue_.size() + (sending_ ? 1 : 0);
    for (size_t i = 0; i < dropped; ++i) {
        counters_.Count(ExchangeCounter::MessagesDropped);
    }
    queue_.clear();
    sending_.reset();
}

void ServiceProtocolHost::Reset() {
    reassembly_.Abandon();
    DropOutgoing();
}

void ServiceProtocolHost::OnLinkDown() {
    Reset();
    inMailbox_.clear();
}

void ServiceProtocolHost::ReplaceVerdicts(uint8_t status, uint32_t count) {
    replacementStatus_ = status;
    verdictsToReplace_ = count;
}

void ServiceProtocolHost::WithholdVerdicts(uint32_t count) {
    verdictsToWithhold_ = count;
}

std::optional<Duration> ServiceProtocolHost::NextDeadline() const {
    return sending_ ? sending_->statusDeadline : std::nullopt;
}

void ServiceProtocolHost::OnTime() {
    if (!sending_ || !sending_->statusDeadline || clock_.Now() < *sending_->statusDeadline) {
        return;
    }
    Finish(ExchangeCounter::StatusWaitTimeouts, "given up, no Status Frame from the BMC");
}

} // namespace vuno::hostsim
