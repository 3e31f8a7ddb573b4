// The bytes the host and the ME put on the wire, written from the formats
// themselves rather than borrowed from the BMC's side: a framing or
// checksum mistake shared by both peers would pass every exchange unseen.
#pragma once

#include "bytes.hpp"

#include <cstdint>

namespace vuno::hostsim {

// Fields at any alignment; the caller checks the size.
uint16_t GetLe16(const uint8_t *bytes);
uint32_t GetLe32(const uint8_t *bytes);
uint32_t GetBe32(const uint8_t *bytes);
void PutLe16(uint8_t *bytes, uint16_t value);
void PutLe32(uint8_t *bytes, uint32_t value);
void PutBe32(uint8_t *bytes, uint32_t value);

// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78). Passing the
// result for one piece as `previous` for the next gives the CRC of both
// pieces together.
uint32_t Crc32c(ByteView data, uint32_t previous = 0);

namespace sp {

enum FrameType : uint8_t {
    kControlFrame = 0,
    kDataFrame = 1,
    kStatusFrame = 2,
};

enum Status : uint8_t {
    kSuccess = 0,
    kInvalidServiceId = 1,
    kInvalidTotalBytes = 2,
    kInvalidMessageId = 3,
    kInvalidSequence = 4,
    kInvalidFrameSize = 5,
    kSizeExceedsTotal = 6,
    kCrcError = 7,
    kNoResources = 8,
};

constexpr uint8_t kServiceIdSsi = 1;
constexpr uint8_t kHeartbeatControlType = 0;

constexpr size_t kMaxFrameSize = 1014;
constexpr size_t kFirstHeaderSize = 13;
constexpr size_t kNextHeaderSize = 3;
constexpr size_t kStatusFrameSize = 2;
constexpr size_t kHeartbeatFrameSize = 5;
constexpr uint32_t kFirstPartMax = kMaxFrameSize - kFirstHeaderSize;
constexpr uint32_t kNextPartMax = kMaxFrameSize - kNextHeaderSize;
// The index of the last frame must still fit in 16 bits.
constexpr uint32_t kMaxMessageSize = kFirstPartMax + 0xFFFF * kNextPartMax;

// Byte 0: the frame type in bits 1..0, and either the message ID in bits
// 7..2 or, in a control frame, the control type in bits 7..3.
inline uint8_t TypeOf(uint8_t head) {
    return head & 0x03;
}
inline uint8_t MessageIdOf(uint8_t head) {
    return head >> 2;
}
inline uint8_t ControlTypeOf(uint8_t head) {
    return head >> 3;
}
inline uint8_t Head(uint8_t type, uint8_t messageId) {
    return static_cast<uint8_t>(messageId << 2 | type);
}

struct FirstHeader {
    uint8_t serviceId = kServiceIdSsi;
    uint8_t reserved = 0;
    uint32_t total = 0;
    uint32_t crc = 0;
};

// The frame must hold at least a later frame's header.
uint16_t FrameIndex(ByteView frame);
// The frame must hold at least Data Frame [0]'s header.
FirstHeader ReadFirstHeader(ByteView frame);

// Covers the header fields of Data Frame [0] (with the CRC field taken as
// zero) and then the whole payload.
uint32_t MessageCrc(const FirstHeader &header, ByteView payload);

Bytes FirstFrame(const FirstHeader &header, ByteView part);
Bytes LaterFrame(uint16_t index, ByteView part);
Bytes StatusFrame(uint8_t status);
Bytes HeartbeatFrame(uint32_t id);

} // namespace sp
} // namespace vuno::hostsim
