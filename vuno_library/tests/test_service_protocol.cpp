// The Service Protocol: link and heartbeats, transmission of the BMC's
// messages and reception of the host's, driven through the ME as the host
// application would.
#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

using Statuses = std::vector<uint32_t>;

void record(vuno_instance *, uint32_t status, void *statuses) {
    static_cast<Statuses *>(statuses)->push_back(status);
}

// What reception delivers up to the SSI engine.
std::vector<Bytes> delivered;
Statuses hostLost;

void onMessage(vuno_instance *, const uint8_t *message, uint32_t length) {
    delivered.emplace_back(message, message + length);
}

void onHostLost(vuno_instance *, uint32_t status) {
    hostLost.push_back(status);
}

class ServiceProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        delivered.clear();
        hostLost.clear();
        platform.createInstance();
        platform.instance->deliver.message_received = onMessage;
        platform.instance->deliver.host_lost = onHostLost;
    }

    sp_context &context() { return *platform.instance->sp_ctx; }

    int send(const Bytes &payload, Statuses &done) {
        return sp_send_message(platform.instance, 1, payload.data(),
                               static_cast<uint32_t>(payload.size()), record, &done);
    }

    void process() { vuno_process_requests(platform.instance); }

    // Link down: the Status Frames a frame causes wait in the queue; read
    // them (and a message received whole), then let processing drop them.
    Statuses receive(const Bytes &frame) {
        host.sendFrame(frame);
        Statuses statuses;
        for (const sp_message *m = context().queue_head; m != nullptr; m = m->next) {
            statuses.push_back(m->frame[1]);
            if (m->payload != nullptr) {
                completed.assign(m->payload, m->payload + m->received_size);
            }
        }
        process();
        return statuses;
    }

    size_t disconnectsSent() const {
        size_t count = 0;
        for (const auto &message : platform.sent) {
            count += message.request && message.data == Bytes{0x03};
        }
        return count;
    }

    FakePlatform platform;
    HostLink host{platform};
    Statuses done;
    Bytes completed; // the last message that left reception whole
};

// ---- link ----

TEST_F(ServiceProtocol, ConnectResultDecidesTheLinkState) {
    ASSERT_EQ(host.startConnect(8), VUNO_STATUS_COMMAND_PENDING); // ME busy
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
    EXPECT_EQ(host.connected, static_cast<int>(VUNO_STATUS_BUSY));
    host.connected = -1;
    ASSERT_EQ(host.startConnect(4), VUNO_STATUS_COMMAND_PENDING); // already connected: go on
    EXPECT_EQ(host.connected, -1);
    host.heartbeat(1);
    EXPECT_EQ(host.connected, 0);
    EXPECT_EQ(context().link_state, SP_LINK_CONNECTED);
}

TEST_F(ServiceProtocol, NoFirstHeartbeatFailsTheConnectionOnTick41) {
    ASSERT_EQ(host.startConnect(), VUNO_STATUS_COMMAND_PENDING);
    platform.tick(40);
    EXPECT_EQ(disconnectsSent(), 0u);
    platform.tick();
    ASSERT_EQ(disconnectsSent(), 1u);
    respondFromMe(platform.instance, {0x03, 0x03});
    EXPECT_EQ(host.connected, static_cast<int>(VUNO_STATUS_HOST_CONNECTION_FAILED));
    EXPECT_EQ(host.lost, -1);
    platform.tick(50);
    EXPECT_EQ(disconnectsSent(), 1u);
}

TEST_F(ServiceProtocol, SilentHostIsDisconnectedEveryTickUntilTheMeAgreesThenTheQueueEnds) {
    host.connect();
    ASSERT_EQ(send({0x41}, done), VUNO_STATUS_COMMAND_PENDING);
    ASSERT_EQ(send({0x42}, done), VUNO_STATUS_COMMAND_PENDING);
    host.sendMessage({0x43}); // and a Status Frame queued
    platform.tick(40);
    host.heartbeat(5); // equal IDs keep the link alive
    platform.tick(41);
    respondFromMe(platform.instance, {0x03, 0x08}); // ME busy
    platform.tick();
    EXPECT_EQ(disconnectsSent(), 2u);
    EXPECT_EQ(host.lost, -1);
    respondFromMe(platform.instance, {0x03, 0x02}); // not connected is as good
    EXPECT_EQ(host.lost, static_cast<int>(VUNO_STATUS_HOST_NOT_CONNECTED));
    EXPECT_EQ(hostLost, Statuses{VUNO_STATUS_HOST_NOT_CONNECTED});
    host.heartbeat(6);
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
    process();
    EXPECT_EQ(done, (Statuses{VUNO_STATUS_HOST_NOT_CONNECTED, VUNO_STATUS_HOST_NOT_CONNECTED}));
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(context().queue_head, nullptr);
}

TEST_F(ServiceProtocol, LowerHeartbeatIdFailsTheMessageInTransfer) {
    host.connect();
    ASSERT_EQ(send({0x41}, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.heartbeat(3);
    EXPECT_EQ(hostLost, Statuses{VUNO_STATUS_HOST_RESET});
    process();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TIMEOUT});
    host.heartbeat(4); // 3 is the reference from now on
    EXPECT_EQ(hostLost.size(), 1u);
}

// ---- transmission ----

TEST_F(ServiceProtocol, StatusFrameOvertakesAWaitingMessageWhichKeepsItsTicks) {
    host.connect();
    const Bytes payload = patterned(1002);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer();
    host.sendMessage({0x41}); // the BMC owes the host a Status Frame now
    process();
    EXPECT_EQ(host.takeFrames(), (std::vector<Bytes>{messageFrames(payload)[0], {0x02, 0x00}}));
    host.answerTransfer();
    EXPECT_EQ(host.pump(), std::vector<Bytes>{messageFrames(payload)[1]});

    host.tick(5);
    host.sendMessage({0x42});
    process();
    host.tick(3); // not counted: the Status Frame is current meanwhile
    host.answerTransfer();
    host.pump();
    host.tick(15);
    host.pump();
    EXPECT_TRUE(done.empty());
    host.tick(1);
    host.pump();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TIMEOUT});
}

TEST_F(ServiceProtocol, FrameIsSentAtMostFourTimesAfterMeTimeouts) {
    host.connect();
    const Bytes payload = patterned(2013);
    const auto expected = messageFrames(payload);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer();
    process();
    host.tick(6); // frame 1 once unanswered: the retries start afresh on frame 2
    process();
    host.answerTransfer();
    EXPECT_EQ(host.takeFrames(), (std::vector<Bytes>{expected[0], expected[1], expected[1]}));
    for (int attempt = 1; attempt <= 4; ++attempt) {
        process();
        EXPECT_EQ(host.takeFrames(), std::vector<Bytes>{expected[2]});
        host.tick(6);
    }
    process();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TIMEOUT});
}

TEST_F(ServiceProtocol, HostsVerdictRetransmitsOnCrcErrorsAndFailsOnOthers) {
    host.connect();
    const Bytes payload = patterned(2013);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    host.pump();
    for (int retry = 0; retry < 6; ++retry) {
        host.sendStatus(7);
        EXPECT_EQ(host.pump(), messageFrames(payload));
    }
    host.sendStatus(7);
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(done, Statuses{VUNO_STATUS_INTERNAL_ERROR});
    for (uint8_t status : {1, 8, 0xFF}) {
        Statuses sent;
        ASSERT_EQ(send({0x41}, sent), VUNO_STATUS_COMMAND_PENDING);
        host.pump();
        host.sendStatus(status);
        host.pump();
        EXPECT_EQ(sent, Statuses{VUNO_STATUS_INTERNAL_ERROR});
    }
    host.sendStatus(0); // for no message
    EXPECT_TRUE(host.pump().empty());
}

TEST_F(ServiceProtocol, LateTransferReportsNeverReviveOrCrossMessages) {
    host.connect();
    ASSERT_EQ(send({0x41}, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer(0x07); // the ME could not deliver it
    process();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TRANSFER_TO_HOST_FAILED});
    // Refused by MCTP: the BMC-ME layer stays busy and reports a time-out
    // later, which must not revive the failed message.
    done.clear();
    platform.mctpSendResult = 1;
    ASSERT_EQ(send({0x42}, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    platform.mctpSendResult = 0;
    host.takeFrames();
    host.tick(6);
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TRANSFER_TO_HOST_FAILED});

    done.clear();
    const Bytes payload = patterned(1002);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process(); // Data Frame [0] with the ME
    response_status_frame_received_cb(platform.instance, VUNO_STATUS_SUCCESS);
    host.answerTransfer();
    host.sendMessage({0x41});
    process(); // Status Frame with the ME
    response_data_frame_received_cb(platform.instance, VUNO_STATUS_SUCCESS);
    host.answerTransfer();
    EXPECT_EQ(host.takeFrames(), (std::vector<Bytes>{messageFrames(payload)[0], {0x02, 0x00}}));
    EXPECT_EQ(host.pump(), std::vector<Bytes>{messageFrames(payload)[1]});
}

// ---- reception ----

TEST_F(ServiceProtocol, RejectedLaterFramesLeaveTheReceptionIntact) {
    const Bytes payload = patterned(3000);
    const auto frames = messageFrames(payload); // 1001 + 1011 + 988 bytes
    EXPECT_EQ(receive(frames[0]), Statuses{});
    EXPECT_EQ(receive(nextFrame(2, Bytes(1011, 0))), Statuses{4});
    EXPECT_EQ(receive({0x01, 0x01, 0x00}), Statuses{5});
    EXPECT_EQ(receive(frames[1]), Statuses{});
    EXPECT_EQ(receive(nextFrame(2, Bytes(989, 0))), Statuses{6});
    EXPECT_EQ(receive(frames[2]), Statuses{0});
    EXPECT_EQ(completed, payload);
}

TEST_F(ServiceProtocol, NewFirstFrameAbandonsAnIncompleteMessageAndWrongCrcDropsIt) {
    const auto older = messageFrames(patterned(2012));
    EXPECT_EQ(receive(older[0]), Statuses{});
    EXPECT_EQ(receive(firstFrame(patterned(5), 0)), Statuses{}); // may carry no payload
    EXPECT_EQ(receive(nextFrame(1, patterned(5))), Statuses{0});
    EXPECT_EQ(completed, patterned(5));
    // A refused first frame ends the message in reception too.
    Bytes refused = older[0];
    refused[3] = 7;
    EXPECT_EQ(receive(older[0]), Statuses{});
    EXPECT_EQ(receive(refused), Statuses{1});
    EXPECT_EQ(receive(older[1]), Statuses{8});

    auto corrupted = messageFrames(patterned(1500));
    corrupted[0][9] ^= 0x01;
    EXPECT_EQ(receive(corrupted[0]), Statuses{});
    EXPECT_EQ(receive(corrupted[1]), Statuses{7});
    EXPECT_EQ(receive(corrupted[1]), Statuses{8});
}

// A message received whole leaves reception with its Status Frame: the
// host's next message cannot cost it, even when it starts before the ME
// has answered that Status Frame's transfer.
TEST_F(ServiceProtocol, NextMessageDoesNotCostOneWhoseStatusFrameIsInTransfer) {
    host.connect();
    host.sendMessage(patterned(20));
    process();
    ASSERT_EQ(host.takeFrames(), (std::vector<Bytes>{{0x02, 0x00}}));
    const auto newer = messageFrames(patterned(2012, 4));
    host.sendFrame(newer[0]);
    host.answerTransfer();
    host.sendFrame(newer[1]);
    host.pump();
    EXPECT_EQ(delivered, (std::vector<Bytes>{patterned(20), patterned(2012, 4)}));
}

TEST_F(ServiceProtocol, TeardownReleasesEveryQueuedMessage) {
    host.connect();
    const Bytes payload = patterned(40);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.sendFrame({0x01, 0x00, 0x00}); // answered with a queued Status Frame
    host.sendMessage({0x41});
    host.sendFrame(messageFrames(patterned(1500))[0]);
    platform.destroyInstance(); // the sanitizer build reports what is left
    EXPECT_TRUE(done.empty());
}

} // namespace
} // namespace vuno::testing
