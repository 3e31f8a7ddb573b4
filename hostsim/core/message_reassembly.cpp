#include "message_reassembly.hpp"

#include "wire.hpp"

namespace vuno::hostsim {
namespace {

Verdict Reject(uint8_t status, std::string problem) {
    return Verdict{status, {}, false, std::move(problem)};
}

std::string Size(size_t size) {
    return std::to_string(size) + " bytes";
}

} // namespace

std::optional<Verdict> MessageReassembly::Accept(ByteView frame) {
    if (frame.size() < sp::kNextHeaderSize) {
        return Reject(sp::kInvalidFrameSize, "Data Frame of " + Size(frame.size()));
    }
    if (const uint8_t id = sp::MessageIdOf(frame[0]); id != 0) {
        return Reject(sp::kInvalidMessageId, "message ID " + std::to_string(id));
    }
    if (sp::FrameIndex(frame) == 0) {
        return AcceptFirst(frame);
    }
    return AcceptLater(frame);
}

std::optional<Verdict> MessageReassembly::AcceptFirst(ByteView frame) {
    if (frame.size() < sp::kFirstHeaderSize) {
        return Reject(sp::kInvalidFrameSize, "Data Frame [0] of " + Size(frame.size()));
    }
    const sp::FirstHeader header = sp::ReadFirstHeader(frame);
    if (header.serviceId != sp::kServiceIdSsi) {
        return Reject(sp::kInvalidServiceId, "Service ID " + std::to_string(header.serviceId));
    }
    if (header.total == 0 || header.total > sp::kMaxMessageSize) {
        return Reject(sp::kInvalidTotalBytes,
                      "Total number of bytes " + std::to_string(header.total));
    }
    const ByteView part = frame.subspan(sp::kFirstHeaderSize);
    if (part.size() > header.total) {
        return Reject(sp::kInvalidFrameSize, "Data Frame [0] part of " + Size(part.size()) +
                                                 " for a message of " + Size(header.total));
    }
    Abandon();
    // The buffer grows with the parts that arrive rather than trusting the
    // announced total up front.
    receiving_ = Reception{header, 0, Bytes(part.begin(), part.end())};
    return Completion();
}

std::optional<Verdict> MessageReassembly::AcceptLater(ByteView frame) {
    const uint16_t index = sp::FrameIndex(frame);
    if (!receiving_) {
        return Reject(sp::kNoResources,
                      "Data Frame [" + std::to_string(index) + "] without a Data Frame [0]");
    }
    const ByteView part = frame.subspan(sp::kNextHeaderSize);
    if (part.empty()) {
        return Reject(sp::kInvalidFrameSize,
                      "Data Frame [" + std::to_string(index) + "] without payload");
    }
    if (part.size() > receiving_->header.total - receiving_->payload.size()) {
        return Reject(sp::kSizeExceedsTotal, "Data Frame [" + std::to_string(index) +
                                                 "] beyond the total of " +
                                                 Size(receiving_->header.total));
    }
    if (index != receiving_->lastIndex + 1) {
        return Reject(sp::kInvalidSequence, "Data Frame [" + std::to_string(index) + "] after [" +
                                                std::to_string(receiving_->lastIndex) + "]");
    }
    receiving_->payload.insert(receiving_->payload.end(), part.begin(), part.end());
    receiving_->lastIndex = index;
    return Completion();
}

std::optional<Verdict> MessageReassembly::Completion() {
    if (receiving_->payload.size() < receiving_->header.total) {
        return std::nullopt;
    }
    Reception done = std::move(*receiving_);
    receiving_.reset();
    if (sp::MessageCrc(done.header, done.payload) != done.header.crc) {
        return Verdict{sp::kCrcError, {}, true, "message CRC mismatch"};
    }
    return Verdict{sp::kSuccess, std::move(done.payload), true, {}};
}

void MessageReassembly::Abandon() {
    if (receiving_) {
        counters_.Count(ExchangeCounter::MessagesAbandoned);
        receiving_.reset();
    }
}

} // namespace vuno::hostsim
