// The five-byte vendor-defined header in front of every BMC-ME message
// exchanged with the ME, in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vuno::mctp {

inline constexpr size_t kVendorHeaderSize = 5;
// Vendor-defined message identified by a PCI vendor ID.
inline constexpr uint8_t kMessageTypeVendorPci = 0x7E;
inline constexpr uint8_t kVendorHeaderLastByte = 0x07;
inline constexpr size_t kControlByteOffset = 3;
inline constexpr uint8_t kRequestBit = 0x80;
inline constexpr uint8_t kInstanceIdMask = 0x1F;

// The PCI vendor ID that the ME expects in bytes 1 and 2; the build's
// ME_VENDOR_ID until the command line names another platform's.
uint16_t MeVendorId();
void SetMeVendorId(uint16_t vendorId);

// Byte 3 of a request from the BMC: the request bit and the instance ID.
uint8_t RequestControlByte(uint8_t instanceId);
// Byte 3 of a reply to an ME request: the request's instance ID echoed.
uint8_t ReplyControlByte(uint8_t tag);

// The header with the given byte 3, followed by `message`.
std::vector<uint8_t> WrapMessage(uint8_t controlByte, std::span<const uint8_t> message);

// A message as it came from the ME, split into the instance ID of its
// header and the BMC-ME message behind it.
struct ReceivedMessage {
    uint8_t instanceId;
    std::span<const uint8_t> body;
};

// Nothing when `wrapped` is too short to hold the header.
std::optional<ReceivedMessage> UnwrapMessage(std::span<const uint8_t> wrapped);

} // namespace vuno::mctp
