#include "malformed_frames.hpp"

#include "frames.h"
#include "utils.h"

#include <algorithm>
#include <array>

namespace vuno::hostsim {
namespace {

using Frames = std::vector<Bytes>;

constexpr uint8_t kFiller = 0xA5;

// Data Frame [0] carrying `part` filler bytes of a message announced with
// `total` bytes; the CRC is right when the part is the whole message.
Bytes FirstFrame(uint32_t total, uint32_t part, uint8_t serviceId = SP_SERVICE_ID_SSI) {
    Bytes frame(SP_FIRST_HEADER_SIZE + part, kFiller);
    const uint32_t crc = sp_message_crc(serviceId, 0, total, &frame[SP_FIRST_HEADER_SIZE], part);
    const sp_first_header header{serviceId, 0, total, crc};
    sp_write_first_header(frame.data(), &header);
    return frame;
}

Bytes LaterFrame(uint16_t index, uint32_t part) {
    Bytes frame(SP_NEXT_HEADER_SIZE + part, kFiller);
    sp_write_next_header(frame.data(), index);
    return frame;
}

Bytes Shortened(Bytes frame) {
    frame.pop_back();
    return frame;
}

Bytes WithMessageId(Bytes frame) {
    set_bits(&frame[0], SP_MESSAGE_ID_MASK, 1);
    return frame;
}

Bytes WrongCrc() {
    Bytes frame = FirstFrame(1, 1);
    ++frame[9];
    return frame;
}

Bytes Heartbeat(size_t size) {
    Bytes frame(size, 0);
    frame[1] = 1;
    return frame;
}

Bytes ControlType(uint8_t type) {
    Bytes frame = Heartbeat(SP_HEARTBEAT_FRAME_SIZE);
    set_bits(&frame[0], SP_CONTROL_TYPE_MASK, type);
    return frame;
}

// A message of two full frames (the most Data Frame [0] can start).
constexpr uint32_t kTwoFrames = SP_FIRST_PART_MAX + SP_NEXT_PART_MAX;

struct Kind {
    std::string_view name;
    Frames (*frames)();
};

const std::array kKinds = {
    Kind{"bad-control-type", [] { return Frames{ControlType(1)}; }},
    Kind{"heartbeat-4-bytes", [] { return Frames{Heartbeat(4)}; }},
    Kind{"heartbeat-6-bytes", [] { return Frames{Heartbeat(6)}; }},
    Kind{"status-3-bytes",
         [] {
             return Frames{Bytes{0x02, 0x00, 0x00}};
         }},
    Kind{"status-message-id",
         [] {
             return Frames{WithMessageId(Bytes{0x02, 0x00})};
         }},
    Kind{"frame-type-3",
         [] {
             return Frames{Bytes{0x03, 0x00, 0x00, 0x00}};
         }},
    Kind{"data-frame-2-bytes",
         [] {
             return Frames{Bytes{0x01, 0x00}};
         }},
    Kind{"first-frame-12-bytes", [] { return Frames{Shortened(FirstFrame(1, 0))}; }},
    Kind{"first-frame-over-total", [] { return Frames{FirstFrame(4, 5)}; }},
    Kind{"later-frame-empty",
         [] {
             return Frames{FirstFrame(kTwoFrames, SP_FIRST_PART_MAX), LaterFrame(1, 0)};
         }},
    Kind{"data-message-id", [] { return Frames{WithMessageId(FirstFrame(1, 1))}; }},
    Kind{"service-id-2", [] { return Frames{FirstFrame(1, 1, 2)}; }},
    Kind{"total-zero", [] { return Frames{FirstFrame(0, 0)}; }},
    Kind{"total-too-large",
         [] { return Frames{FirstFrame(SP_MAX_MESSAGE_SIZE + 1, SP_FIRST_PART_MAX)}; }},
    Kind{"later-without-first", [] { return Frames{LaterFrame(1, 1)}; }},
    Kind{"wrong-sequence",
         [] {
             return Frames{FirstFrame(kTwoFrames, SP_FIRST_PART_MAX),
                           LaterFrame(2, SP_NEXT_PART_MAX)};
         }},
    Kind{"size-exceeds-total",
         [] {
             return Frames{FirstFrame(SP_FIRST_PART_MAX + 1, SP_FIRST_PART_MAX), LaterFrame(1, 2)};
         }},
    Kind{"wrong-crc", [] { return Frames{WrongCrc()}; }},
};

} // namespace

std::optional<std::vector<Bytes>> MalformedFrames(std::string_view kind) {
    const auto found =
        std::ranges::find_if(kKinds, [kind](const Kind &entry) { return entry.name == kind; });
    if (found == kKinds.end()) {
        return std::nullopt;
    }
    return found->frames();
}

std::vector<std::string_view> MalformedFrameKinds() {
    std::vector<std::string_view> names;
    for (const Kind &kind : kKinds) {
        names.push_back(kind.name);
    }
    return names;
}

} // namespace vuno::hostsim
