#include "wire.hpp"

#include <algorithm>

namespace vuno::hostsim {

uint16_t GetLe16(const uint8_t *bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t GetLe32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint32_t GetBe32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[3]) | static_cast<uint32_t>(bytes[2]) << 8 |
           static_cast<uint32_t>(bytes[1]) << 16 | static_cast<uint32_t>(bytes[0]) << 24;
}

void PutLe16(uint8_t *bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void PutBe32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[3 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t Crc32c(ByteView data, uint32_t previous) {
    uint32_t crc = ~previous;
    for (const uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

namespace sp {

uint16_t FrameIndex(ByteView frame) {
    return GetLe16(&frame[1]);
}

FirstHeader ReadFirstHeader(ByteView frame) {
    return FirstHeader{frame[3], frame[4], GetLe32(&frame[5]), GetLe32(&frame[9])};
}

namespace {

// Bytes 3..12 of Data Frame [0].
void WriteFirstFields(uint8_t *fields, const FirstHeader &header) {
    fields[0] = header.serviceId;
    fields[1] = header.reserved;
    PutLe32(&fields[2], header.total);
    PutLe32(&fields[6], header.crc);
}

} // namespace

uint32_t MessageCrc(const FirstHeader &header, ByteView payload) {
    uint8_t fields[kFirstHeaderSize - kNextHeaderSize];
    FirstHeader zeroed = header;
    zeroed.crc = 0;
    WriteFirstFields(fields, zeroed);
    return Crc32c(payload, Crc32c(fields));
}

Bytes FirstFrame(const FirstHeader &header, ByteView part) {
    Bytes frame(kFirstHeaderSize);
    frame[0] = Head(kDataFrame, 0);
    WriteFirstFields(&frame[kNextHeaderSize], header);
    frame.insert(frame.end(), part.begin(), part.end());
    return frame;
}

Bytes LaterFrame(uint16_t index, ByteView part) {
    Bytes frame(kNextHeaderSize);
    frame[0] = Head(kDataFrame, 0);
    PutLe16(&frame[1], index);
    frame.insert(frame.end(), part.begin(), part.end());
    return frame;
}

Bytes StatusFrame(uint8_t status) {
    return Bytes{Head(kStatusFrame, 0), status};
}

Bytes HeartbeatFrame(uint32_t id) {
    Bytes frame(kHeartbeatFrameSize);
    frame[0] = static_cast<uint8_t>(kHeartbeatControlType << 3 | kControlFrame);
    PutLe32(&frame[1], id);
    return frame;
}

} // namespace sp
} // namespace vuno::hostsim
