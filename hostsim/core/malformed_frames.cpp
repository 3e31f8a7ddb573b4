#include "malformed_frames.hpp"

#include "wire.hpp"

#include <algorithm>
#include <array>

namespace vuno::hostsim {
namespace {

using Frames = std::vector<Bytes>;

constexpr uint8_t kFiller = 0xA5;

// Data Frame [0] carrying `part` filler bytes of a message announced with
// `total` bytes; the CRC is right when the part is the whole message.
Bytes FirstFrame(uint32_t total, uint32_t part, uint8_t serviceId = sp::kServiceIdSsi) {
    const Bytes payload(part, kFiller);
    sp::FirstHeader header{serviceId, 0, total, 0};
    header.crc = sp::MessageCrc(header, payload);
    return sp::FirstFrame(header, payload);
}

Bytes LaterFrame(uint16_t index, uint32_t part) {
    return sp::LaterFrame(index, Bytes(part, kFiller));
}

Bytes Shortened(Bytes frame) {
    frame.pop_back();
    return frame;
}

Bytes WithMessageId(Bytes frame) {
    frame[0] = sp::Head(sp::TypeOf(frame[0]), 1);
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
    Bytes frame = sp::HeartbeatFrame(1);
    frame[0] = static_cast<uint8_t>(type << 3 | sp::kControlFrame);
    return frame;
}

// A message of two full frames (the most Data Frame [0] can start).
constexpr uint32_t kTwoFrames = sp::kFirstPartMax + sp::kNextPartMax;

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
             return Frames{FirstFrame(kTwoFrames, sp::kFirstPartMax), LaterFrame(1, 0)};
         }},
    Kind{"data-message-id", [] { return Frames{WithMessageId(FirstFrame(1, 1))}; }},
    Kind{"service-id-2", [] { return Frames{FirstFrame(1, 1, 2)}; }},
    Kind{"total-zero", [] { return Frames{FirstFrame(0, 0)}; }},
    Kind{"total-too-large",
         [] { return Frames{FirstFrame(sp::kMaxMessageSize + 1, sp::kFirstPartMax)}; }},
    Kind{"later-without-first", [] { return Frames{LaterFrame(1, 1)}; }},
    Kind{"wrong-sequence",
         [] {
             return Frames{FirstFrame(kTwoFrames, sp::kFirstPartMax),
                           LaterFrame(2, sp::kNextPartMax)};
         }},
    Kind{"size-exceeds-total",
         [] {
             return Frames{FirstFrame(sp::kFirstPartMax + 1, sp::kFirstPartMax), LaterFrame(1, 2)};
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
