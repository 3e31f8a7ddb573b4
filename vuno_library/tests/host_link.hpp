// The ME and the host application as the outgoing path sees them: connects
// the link, keeps heartbeats coming, answers Transfer Data commands and
// sends frames and whole messages to the BMC.
#pragma once

#include "fake_platform.hpp"
#include "host_messages.hpp"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vuno::testing {

class HostLink {
  public:
    explicit HostLink(FakePlatform &platform) : platform_(platform) {}

    // Connect and the ME's answer; then the first heartbeat.
    int startConnect(uint8_t meStatus = 0x00) {
        const int status =
            vuno_connect_to_host(platform_.instance, 0x00035B00, onLink, &connected, onLink, &lost);
        respondFromMe(platform_.instance, {0x02, meStatus});
        return status;
    }

    void connect() {
        ASSERT_EQ(startConnect(), VUNO_STATUS_COMMAND_PENDING);
        heartbeat(heartbeatId);
        ASSERT_EQ(connected, 0);
    }

    void heartbeat(uint32_t id) {
        heartbeatId = id;
        Bytes frame{0x00, 0, 0, 0, 0};
        put_le32(&frame[1], id);
        sendFrame(frame);
    }

    // One frame, carried by a Transfer Data request of the ME.
    void sendFrame(const Bytes &frame) {
        deliverFromMe(platform_.instance, transferRequest(frame));
    }

    void sendStatus(uint8_t status) { sendFrame({0x02, status}); }

    void sendMessage(const Bytes &payload) {
        for (const auto &frame : messageFrames(payload)) {
            sendFrame(frame);
        }
    }

    // The ME's answer to the outstanding Transfer Data (0x06: delivered).
    void answerTransfer(uint8_t status = 0x06) {
        respondFromMe(platform_.instance, {0x01, status});
    }

    // Frames carried by Transfer Data commands since the last call.
    std::vector<Bytes> takeFrames() {
        std::vector<Bytes> frames;
        for (; seen_ < platform_.sent.size(); ++seen_) {
            const auto &message = platform_.sent[seen_];
            if (message.request && message.data.size() > 5 && message.data[0] == 0x01) {
                frames.emplace_back(message.data.begin() + 5, message.data.end());
            }
        }
        return frames;
    }

    // Processing steps, each transfer answered with success, until three
    // steps in a row send nothing. Returns the frames sent.
    std::vector<Bytes> pump() {
        std::vector<Bytes> frames;
        for (int idle = 0, step = 0; idle < 3 && step < 10000; ++step) {
            vuno_process_requests(platform_.instance);
            auto sent = takeFrames();
            idle = sent.empty() ? idle + 1 : 0;
            for (auto &frame : sent) {
                answerTransfer();
                frames.push_back(std::move(frame));
            }
        }
        return frames;
    }

    // Timer ticks with a heartbeat before each, so the link stays up.
    void tick(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            heartbeat(heartbeatId);
            platform_.tick();
        }
    }

    int connected = -1;
    int lost = -1;
    uint32_t heartbeatId = 5;

    static void onLink(uint32_t status, void *context) {
        *static_cast<int *>(context) = static_cast<int>(status);
    }

  private:
    FakePlatform &platform_;
    size_t seen_ = 0;
};

} // namespace vuno::testing
