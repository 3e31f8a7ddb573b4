// The five bytes in front of every message exchanged with the ME: the
// vendor-defined MCTP message type, the PCI vendor ID the ME expects, the
// request bit with the instance ID, and a fixed last byte.
#pragma once

#include "bytes.hpp"

#ifndef ME_VENDOR_ID
#error "ME_VENDOR_ID must be defined by the build"
#endif

namespace vuno::hostsim {

constexpr size_t kVendorHeaderSize = 5;
constexpr uint8_t kVendorDefinedMessageType = 0x7E;
constexpr uint8_t kVendorHeaderLastByte = 0x07;
constexpr uint16_t kMeVendorId = ME_VENDOR_ID;
constexpr uint8_t kRequestBit = 0x80;
constexpr uint8_t kReservedInstanceBits = 0x60;
constexpr uint8_t kInstanceIdMask = 0x1F;

// The header followed by the message.
Bytes WithVendorHeader(bool request, uint8_t instanceId, ByteView message);

// Why a payload does not start with a header of the given direction, or
// nullptr when it does.
const char *VendorHeaderProblem(ByteView payload, bool request);

inline uint8_t InstanceId(ByteView payload) {
    return payload[3] & kInstanceIdMask;
}

} // namespace vuno::hostsim
