#include "vendor_header.hpp"

#include <algorithm>

namespace vuno::hostsim {

Bytes WithVendorHeader(bool request, uint8_t instanceId, ByteView message) {
    Bytes payload(kVendorHeaderSize + message.size());
    payload[0] = kVendorDefinedMessageType;
    payload[1] = static_cast<uint8_t>(kMeVendorId >> 8);
    payload[2] = static_cast<uint8_t>(kMeVendorId & 0xFF);
    payload[3] = static_cast<uint8_t>((request ? kRequestBit : 0) | (instanceId & kInstanceIdMask));
    payload[4] = kVendorHeaderLastByte;
    std::copy(message.begin(), message.end(), payload.begin() + kVendorHeaderSize);
    return payload;
}

const char *VendorHeaderProblem(ByteView payload, bool request) {
    if (payload.size() < kVendorHeaderSize) {
        return "shorter than the vendor header";
    }
    if (payload[0] != kVendorDefinedMessageType) {
        return "not a vendor-defined message";
    }
    const uint16_t vendor = static_cast<uint16_t>(payload[1] << 8 | payload[2]);
    if (vendor != kMeVendorId) {
        return "wrong vendor ID";
    }
    if ((payload[3] & kRequestBit) != (request ? kRequestBit : 0)) {
        return "request bit does not match the request flag";
    }
    if ((payload[3] & kReservedInstanceBits) != 0) {
        return "reserved bits set in the instance byte";
    }
    if (payload[4] != kVendorHeaderLastByte) {
        return "wrong last header byte";
    }
    return nullptr;
}

} // namespace vuno::hostsim
