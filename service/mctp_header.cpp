#include "mctp_header.hpp"

#ifndef ME_VENDOR_ID
#error "ME_VENDOR_ID must name the PCI vendor ID that the ME expects"
#endif
static_assert(ME_VENDOR_ID >= 0 && ME_VENDOR_ID <= 0xFFFF, "ME_VENDOR_ID is a 16-bit value");

namespace vuno::mctp {

namespace {

// Set once at start-up, before the event loop runs.
uint16_t meVendorId = ME_VENDOR_ID;

} // namespace

uint16_t MeVendorId() {
    return meVendorId;
}

void SetMeVendorId(uint16_t vendorId) {
    meVendorId = vendorId;
}

uint8_t RequestControlByte(uint8_t instanceId) {
    return kRequestBit | (instanceId & kInstanceIdMask);
}

uint8_t ReplyControlByte(uint8_t tag) {
    return tag & kInstanceIdMask;
}

std::vector<uint8_t> WrapMessage(uint8_t controlByte, std::span<const uint8_t> message) {
    std::vector<uint8_t> wrapped;
    wrapped.reserve(kVendorHeaderSize + message.size());
    wrapped.push_back(kMessageTypeVendorPci);
    wrapped.push_back(static_cast<uint8_t>(meVendorId >> 8));
    wrapped.push_back(static_cast<uint8_t>(meVendorId & 0xFF));
    wrapped.push_back(controlByte);
    wrapped.push_back(kVendorHeaderLastByte);
    wrapped.insert(wrapped.end(), message.begin(), message.end());
    return wrapped;
}

std::optional<ReceivedMessage> UnwrapMessage(std::span<const uint8_t> wrapped) {
    if (wrapped.size() < kVendorHeaderSize) {
        return std::nullopt;
    }
    return ReceivedMessage{
        .instanceId = static_cast<uint8_t>(wrapped[kControlByteOffset] & kInstanceIdMask),
        .body = wrapped.subspan(kVendorHeaderSize),
    };
}

} // namespace vuno::mctp
