// Bytes from outside the BMC, thrown at every entry point that takes them:
// ME messages and responses, host frames, whole host messages and SSI
// response payloads. Nothing they contain may crash the library, read or
// write outside a buffer (the sanitizer build watches), or leak; and the
// link keeps working afterwards.
#include "fake_platform.hpp"
#include "host_link.hpp"
#include "ssi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace vuno::testing {
namespace {

class Noise {
  public:
    explicit Noise(uint32_t seed) : engine_(seed) {}

    uint32_t Below(uint32_t bound) {
        return std::uniform_int_distribution<uint32_t>(0, bound - 1)(engine_);
    }

    Bytes Random(size_t length) {
        Bytes bytes(length);
        for (auto &byte : bytes) {
            byte = static_cast<uint8_t>(Below(256));
        }
        return bytes;
    }

    // Mostly well-shaped frames with a few damaged fields, so that the
    // checks past the first ones are reached too.
    Bytes Frame() {
        const uint32_t kind = Below(4);
        Bytes frame = Random(1 + Below(kind == 3 ? 1014 : 40));
        frame[0] = static_cast<uint8_t>((frame[0] & 0xFC) * (Below(4) == 0) | kind);
        if (kind == 1 && frame.size() >= 13 && Below(2) == 0) {
            frame[1] = frame[2] = 0;              // Data Frame [0]
            frame[3] = 1;                         // SSI
            put_le32(&frame[5], 1 + Below(3000)); // a total near the frame sizes
        }
        return frame;
    }

  private:
    std::mt19937 engine_;
};

TEST(Robustness, RandomMeTrafficNeverBreaksTheLink) {
    FakePlatform platform;
    platform.createInstance();
    HostLink host(platform);
    host.connect();
    Noise noise(20261205);

    for (int i = 0; i < 20000; ++i) {
        switch (noise.Below(4)) {
        case 0: // raw ME request of any length
            deliverFromMe(platform.instance, noise.Random(noise.Below(1100)), 0);
            break;
        case 1: // raw response to whatever command is outstanding
            respondFromMe(platform.instance, noise.Random(noise.Below(6)));
            break;
        default: // a frame from the host inside a well-formed Transfer Data
            host.sendFrame(noise.Frame());
            break;
        }
        if (i % 16 == 0) {
            vuno_process_requests(platform.instance);
        }
        if (i % 512 == 0) {
            host.heartbeat(host.heartbeatId + 1);
            platform.tick();
        }
    }

    // The noise reached the checks past the first ones.
    const auto reached = [&](const std::string &prefix) {
        return std::count_if(
            platform.logs.begin(), platform.logs.end(),
            [&](const LogEntry &entry) { return entry.message.rfind(prefix, 0) == 0; });
    };
    for (const char *deepCheck :
         {"Received Data Frame [0] with Message size", "Invalid Data Frames sequence",
          "Received message with incorrect CRC.", "MCTP Request data length",
          "Received heartbeat with invalid size"}) {
        EXPECT_GT(reached(deepCheck), 0) << deepCheck;
    }

    // A well-formed message still gets through and is acknowledged.
    platform.clearLogs();
    host.heartbeat(host.heartbeatId + 1);
    host.sendMessage({0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
    host.pump();
    EXPECT_TRUE(platform.logged("Message successfully received."));
}

TEST(Robustness, RandomResponsePayloadsDecodeOrFailCleanly) {
    FakePlatform platform;
    platform.createInstance();
    Noise noise(41);

    for (int code = 0; code <= 41; ++code) {
        for (int i = 0; i < 400; ++i) {
            // Lengths around the count-derived sizes matter most: make the
            // count small and the length near what it implies.
            Bytes payload = noise.Random(noise.Below(900));
            if (payload.size() >= 2 && noise.Below(2) == 0) {
                payload[0] = static_cast<uint8_t>(noise.Below(4));
                payload[1] = 0;
            }
            void *record = nullptr;
            wire_reader reader;
            wire_reader_init(&reader, payload.data(), static_cast<uint32_t>(payload.size()));
            const int status = ssi_decode_response(platform.instance, static_cast<uint8_t>(code),
                                                   &reader, &record);
            if (status != 0) {
                EXPECT_EQ(record, nullptr);
            }
            sized_free(&record);
        }
    }
}

} // namespace
} // namespace vuno::testing
