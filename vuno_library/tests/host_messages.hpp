// Messages from the host application as the BMC receives them: SSI
// responses, cut into Data Frames the way the host does it, with their
// checksum worked out apart from the library's framing code. The fuzz
// bench's host frames its messages with these too.
#pragma once

#include "utils.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vuno::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes patterned(size_t size, uint8_t seed = 3) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + seed);
    }
    return data;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// An SSI response: identifier and direction, status, length, payload.
inline Bytes ssiResponse(uint8_t id, uint16_t status, const Bytes &payload = {}) {
    Bytes message{static_cast<uint8_t>(id << 3 | 1), 0, 0, 0, 0, 0, 0};
    put_le16(&message[1], status);
    put_le32(&message[3], static_cast<uint32_t>(payload.size()));
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

// A frame as carried by the ME's Transfer Data request.
inline Bytes transferRequest(const Bytes &frame) {
    Bytes request{0x01, 0, 0, 0, 0};
    put_be32(&request[1], static_cast<uint32_t>(frame.size()));
    request.insert(request.end(), frame.begin(), frame.end());
    return request;
}

// Data Frame [0] with the first `part` bytes of the payload.
inline Bytes firstFrame(const Bytes &payload, size_t part) {
    Bytes frame{0x01, 0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    put_le32(&frame[5], static_cast<uint32_t>(payload.size()));
    // CRC-32C of bytes 3..12 with the CRC field still zero, then the payload.
    const uint32_t header = crc32c(nullptr, &frame[3], 10);
    put_le32(&frame[9], crc32c(&header, payload.data(), static_cast<uint32_t>(payload.size())));
    frame.insert(frame.end(), payload.begin(), payload.begin() + static_cast<long>(part));
    return frame;
}

inline Bytes nextFrame(uint16_t index, const Bytes &part) {
    Bytes frame{0x01, 0x00, 0x00};
    put_le16(&frame[1], index);
    frame.insert(frame.end(), part.begin(), part.end());
    return frame;
}

// All Data Frames of a message: 1001 payload bytes first, then 1011 each.
inline std::vector<Bytes> messageFrames(const Bytes &payload) {
    const size_t first = std::min<size_t>(payload.size(), 1001);
    std::vector<Bytes> frames{firstFrame(payload, first)};
    uint16_t index = 1;
    for (size_t offset = first; offset < payload.size(); offset += 1011) {
        const auto begin = payload.begin() + static_cast<long>(offset);
        const auto end =
            payload.begin() + static_cast<long>(std::min(payload.size(), offset + 1011));
        frames.push_back(nextFrame(index++, Bytes(begin, end)));
    }
    return frames;
}

} // namespace vuno::testing
