#include "message_reassembly.hpp"

#include "frames.h"

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
    if (frame.size() < SP_NEXT_HEADER_SIZE) {
        return Reject(SP_STATUS_INVALID_FRAME_SIZE, "Data Frame of " + Size(frame.size()));
    }
    if (sp_frame_message_id(frame.data()) != 0) {
        return Reject(SP_STATUS_INVALID_MESSAGE_ID,
                      "message ID " + std::to_string(sp_frame_message_id(frame.data())));
    }
    if (sp_frame_index(frame.data()) == 0) {
        return AcceptFirst(frame);
    }
    return AcceptLater(frame);
}

std::optional<Verdict> MessageReassembly::AcceptFirst(ByteView frame) {
    if (frame.size() < SP_FIRST_HEADER_SIZE) {
        return Reject(SP_STATUS_INVALID_FRAME_SIZE, "Data Frame [0] of " + Size(frame.size()));
    }
    sp_first_header header{};
    sp_read_first_header(frame.data(), &header);
    if (header.service_id != SP_SERVICE_ID_SSI) {
        return Reject(SP_STATUS_INVALID_SERVICE_ID,
                      "Service ID " + std::to_string(header.service_id));
    }
    if (header.total == 0 || header.total > SP_MAX_MESSAGE_SIZE) {
        return Reject(SP_STATUS_INVALID_TOTAL_BYTES,
                      "Total number of bytes " + std::to_string(header.total));
    }
    const ByteView part = frame.subspan(SP_FIRST_HEADER_SIZE);
    if (part.size() > header.total) {
        return Reject(SP_STATUS_INVALID_FRAME_SIZE, "Data Frame [0] part of " + Size(part.size()) +
                                                        " for a message of " + Size(header.total));
    }
    Abandon();
    // The buffer grows with the parts that arrive rather than trusting the
    // announced total up front.
    receiving_ = Reception{header.service_id,
                           header.reserved,
                           header.total,
                           header.crc,
                           0,
                           Bytes(part.begin(), part.end())};
    return Completion();
}

std::optional<Verdict> MessageReassembly::AcceptLater(ByteView frame) {
    const uint16_t index = sp_frame_index(frame.data());
    if (!receiving_) {
        return Reject(SP_STATUS_NO_RESOURCES,
                      "Data Frame [" + std::to_string(index) + "] without a Data Frame [0]");
    }
    const ByteView part = frame.subspan(SP_NEXT_HEADER_SIZE);
    if (part.empty()) {
        return Reject(SP_STATUS_INVALID_FRAME_SIZE,
                      "Data Frame [" + std::to_string(index) + "] without payload");
    }
    if (part.size() > receiving_->total - receiving_->payload.size()) {
        return Reject(SP_STATUS_SIZE_EXCEEDS_TOTAL, "Data Frame [" + std::to_string(index) +
                                                        "] beyond the total of " +
                                                        Size(receiving_->total));
    }
    if (index != receiving_->lastIndex + 1) {
        return Reject(SP_STATUS_INVALID_SEQUENCE, "Data Frame [" + std::to_string(index) +
                                                      "] after [" +
                                                      std::to_string(receiving_->lastIndex) + "]");
    }
    receiving_->payload.insert(receiving_->payload.end(), part.begin(), part.end());
    receiving_->lastIndex = index;
    return Completion();
}

std::optional<Verdict> MessageReassembly::Completion() {
    if (receiving_->payload.size() < receiving_->total) {
        return std::nullopt;
    }
    Reception done = std::move(*receiving_);
    receiving_.reset();
    const uint32_t crc =
        sp_message_crc(done.serviceId, done.reserved, done.total, done.payload.data(), done.total);
    if (crc != done.crc) {
        return Verdict{SP_STATUS_CRC_ERROR, {}, true, "message CRC mismatch"};
    }
    return Verdict{SP_STATUS_SUCCESS, std::move(done.payload), true, {}};
}

void MessageReassembly::Abandon() {
    if (receiving_) {
        counters_.Count(ExchangeCounter::MessagesAbandoned);
        receiving_.reset();
    }
}

} // namespace vuno::hostsim
