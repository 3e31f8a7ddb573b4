#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vuno::testing {
namespace {

using Statuses = std::vector<uint8_t>;

// An SSI response header for command identifier `id`, `size` bytes in all.
Bytes ssiResponse(uint8_t id, size_t size) {
    Bytes message = patterned(size);
    message[0] = static_cast<uint8_t>(id << 3 | 1);
    put_le32(&message[3], static_cast<uint32_t>(size - 7));
    return message;
}

Bytes withTotal(Bytes frame, uint32_t total) {
    put_le32(&frame[5], total);
    return frame;
}

class Reception : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.createInstance();
        platform.clearLogs();
    }

    sp_context &context() { return *platform.instance->sp_ctx; }

    // With the link down the Status Frames a frame causes wait in the
    // queue; read them, then let request processing discard them.
    Statuses receive(const Bytes &frame) {
        host.sendFrame(frame);
        Statuses statuses;
        for (const sp_message *m = context().queue_head; m != nullptr; m = m->next) {
            statuses.push_back(m->frame[1]);
            if (m->payload != nullptr) {
                completed.assign(m->payload, m->payload + m->received_size);
            }
        }
        vuno_process_requests(platform.instance);
        return statuses;
    }

    // With the link up: the Status Frames that processing sends to the ME.
    Statuses sentStatuses() {
        Statuses statuses;
        for (const auto &sent : host.pump()) {
            EXPECT_EQ(sent.size(), 2u);
            statuses.push_back(sent.at(1));
        }
        return statuses;
    }

    Statuses acknowledge(const Bytes &frame) {
        host.sendFrame(frame);
        return sentStatuses();
    }

    std::vector<std::string> ssiLines() const {
        std::vector<std::string> lines;
        for (const auto &entry : platform.logs) {
            if (entry.file == "ssi") {
                lines.push_back(entry.message);
            }
        }
        return lines;
    }

    FakePlatform platform;
    HostLink host{platform};
    // The last message that left reception whole with its Status Frame.
    Bytes completed;
};

TEST_F(Reception, FaultyDataFramesAreAnsweredWithTheirStatus) {
    const Bytes single = messageFrames({0x41})[0];
    Bytes otherMessageId = single, serviceTwo = single, partBeyondTotal = single;
    otherMessageId[0] = 0x05;
    serviceTwo[3] = 2;
    partBeyondTotal.push_back(0x42);
    const struct {
        Bytes frame;
        uint8_t status;
        std::string error;
    } cases[] = {
        {{0x01, 0x00}, 5, "Data Frame size = 2"},
        {otherMessageId, 3, "Received Data Frame with invalid message ID 1."},
        {Bytes(single.begin(), single.begin() + 12), 5,
         "Invalid Data Frame [0] size = 12, expected minimum value = 13."},
        {serviceTwo, 1, "Received Data Frame 0 with Service ID 2."},
        {withTotal(single, 0), 2, "Received Data Frame 0 with Total number of bytes equal 0."},
        {withTotal(single, 66256887), 2,
         "Received Data Frame 0 with Total number of bytes equal 66256887."},
        {partBeyondTotal, 5,
         "Invalid Data Frame [0] size = 15, mismatch between Total Number of Bytes and Message "
         "Payload part size."},
        {nextFrame(1, {0x41}), 8, "Memory for payload not allocated - lack of Data Frame [0]."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        platform.clearLogs();
        EXPECT_EQ(receive(c.frame), Statuses{c.status});
        EXPECT_TRUE(platform.loggedError(c.error));
        EXPECT_EQ(platform.loggedError("Invalid Message Header"), c.status == 1 || c.status == 2);
        EXPECT_EQ(context().rx_payload, nullptr);
    }
}

TEST_F(Reception, FramesOfNoMessageAreOnlyLogged) {
    const struct {
        Bytes frame;
        std::string error;
    } cases[] = {
        {{0x08, 1, 0, 0, 0}, "Received Control Frame with invalid control type 1."},
        {{0x00, 1, 0, 0}, "Received heartbeat with invalid size 4."},
        {{0x00, 1, 0, 0, 0, 0}, "Received heartbeat with invalid size 6."},
        {{0x02, 0x00, 0x00}, "Received Status Frame with invalid size 3."},
        {{0x06, 0x00}, "Received Status Frame with invalid message ID 1."},
        {{0x03, 0x00}, "Received Frame with invalid type 3."},
        // Bit 2 of a control frame is not examined: this is a heartbeat.
        {{0x04, 1, 0, 0, 0}, "Heartbeat received but connection with host is not established"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(receive(c.frame), Statuses{});
        EXPECT_TRUE(platform.loggedError(c.error));
    }
    const Bytes oversized(1015, 0x01);
    platform.clearLogs();
    sp_frame_received(platform.instance, oversized.data(), 1015);
    sp_frame_received(platform.instance, nullptr, 5);
    EXPECT_EQ(platform.messages(), (std::vector<std::string>(2, "Invalid Parameter")));
}

TEST_F(Reception, RejectedLaterFramesLeaveTheReceptionIntact) {
    const Bytes payload = patterned(3000);
    const auto frames = messageFrames(payload); // 1001 + 1011 + 988 bytes
    Bytes otherMessageId = frames[1];
    otherMessageId[0] = 0x09;

    EXPECT_EQ(receive(frames[0]), Statuses{});
    EXPECT_EQ(receive(nextFrame(2, Bytes(1011, 0))), Statuses{4});
    EXPECT_EQ(receive({0x01, 0x01, 0x00}), Statuses{5});
    EXPECT_TRUE(
        platform.loggedError("Invalid Data Frame [1], size = 3, expected minimum value = 4."));
    EXPECT_EQ(receive(otherMessageId), Statuses{3});
    EXPECT_EQ(receive(frames[1]), Statuses{});
    EXPECT_EQ(receive(nextFrame(1, {1, 2, 3, 4})), Statuses{4});
    EXPECT_TRUE(platform.loggedError(
        "Invalid Data Frames sequence, last Data Frame ID: 1, received Data Frame ID: 1."));
    EXPECT_EQ(receive(nextFrame(2, Bytes(989, 0))), Statuses{6});
    EXPECT_TRUE(platform.loggedError("Invalid Data Frame [2] size = 992, Message Payload part size "
                                     "exceeds Total number of bytes."));
    EXPECT_EQ(receive(frames[2]), Statuses{0});
    EXPECT_EQ(completed, payload);
}

TEST_F(Reception, FirstFrameMayCarryNoPayloadAndTotalsUpToTheMaximum) {
    const Bytes payload{1, 2, 3, 4, 5};
    EXPECT_EQ(receive(firstFrame(payload, 0)), Statuses{});
    EXPECT_EQ(receive(nextFrame(1, payload)), Statuses{0});
    EXPECT_EQ(completed, payload);

    EXPECT_EQ(receive(withTotal(firstFrame(patterned(1001), 1001), 66256886)), Statuses{});
    EXPECT_TRUE(
        platform.logged("Waiting for next Data Frame, received bytes 1001, total bytes 66256886"));
}

TEST_F(Reception, AnyNewFirstFrameAbandonsTheMessageInReception) {
    const auto older = messageFrames(patterned(2012));
    EXPECT_EQ(receive(older[0]), Statuses{});
    EXPECT_EQ(receive(messageFrames({0x5A})[0]), Statuses{0});
    EXPECT_EQ(completed, Bytes{0x5A});
    EXPECT_EQ(receive(older[1]), Statuses{8}); // the new message has left reception whole

    // A refused first frame ends it too: its later frames must not be
    // appended to an older message.
    Bytes refused = older[0];
    refused[3] = 7;
    EXPECT_EQ(receive(older[0]), Statuses{});
    EXPECT_EQ(receive(refused), Statuses{1});
    EXPECT_EQ(receive(older[1]), Statuses{8});
}

TEST_F(Reception, WrongCrcIsAnsweredAndTheMessageDropped) {
    auto frames = messageFrames(patterned(1500));
    frames[0][9] ^= 0x01;
    EXPECT_EQ(receive(frames[0]), Statuses{});
    EXPECT_EQ(receive(frames[1]), Statuses{7});
    EXPECT_TRUE(platform.loggedError("Received message with incorrect CRC."));
    EXPECT_EQ(receive(frames[1]), Statuses{8});
}

TEST_F(Reception, OneByteMessageReachesSsiOnceItsStatusFrameIsSent) {
    host.connect();
    const Bytes frame = messageFrames({0x41})[0];
    ASSERT_EQ(frame.size(), 14u);
    host.sendFrame(frame);
    EXPECT_TRUE(ssiLines().empty());
    EXPECT_EQ(sentStatuses(), Statuses{0});
    EXPECT_EQ(ssiLines(), std::vector<std::string>{"SSI Response size in bytes: 1 is too small."});
}

TEST_F(Reception, AcknowledgedRefusalKeepsTheMessageGoing) {
    host.connect();
    const auto frames = messageFrames(ssiResponse(3, 2012));
    Bytes wrongIndex = frames[1];
    wrongIndex[1] = 2;
    EXPECT_EQ(acknowledge(frames[0]), Statuses{});
    EXPECT_EQ(acknowledge(wrongIndex), Statuses{4});
    EXPECT_EQ(acknowledge(frames[1]), Statuses{0});
    EXPECT_EQ(ssiLines(), std::vector<std::string>{"Invalid SSI Response command identifier: 3."});
}

TEST_F(Reception, OnlyWholeMessagesWithTheirCrcReachSsi) {
    host.connect();
    auto corrupted = messageFrames(ssiResponse(4, 1200));
    corrupted[1].back() ^= 0x80;
    EXPECT_EQ(acknowledge(corrupted[0]), Statuses{});
    EXPECT_EQ(acknowledge(corrupted[1]), Statuses{7});
}

TEST_F(Reception, NextMessageDoesNotCostOneWhoseStatusFrameIsInTransfer) {
    host.connect();
    host.sendMessage(ssiResponse(5, 20));
    vuno_process_requests(platform.instance);
    ASSERT_EQ(host.takeFrames(), (std::vector<Bytes>{{0x02, 0x00}}));

    // The host took its Status Frame as done and starts the next message
    // before the ME has answered the transfer.
    const auto newer = messageFrames(ssiResponse(6, 2012));
    host.sendFrame(newer[0]);
    host.answerTransfer();
    EXPECT_EQ(acknowledge(newer[1]), Statuses{0});
    EXPECT_EQ(ssiLines(),
              (std::vector<std::string>{"Invalid SSI Response command identifier: 5.",
                                        "Invalid SSI Response command identifier: 6."}));
}

} // namespace
} // namespace vuno::testing
