#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vuno::testing {
namespace {

using Statuses = std::vector<uint32_t>;

void record(vuno_instance *, uint32_t status, void *statuses) {
    static_cast<Statuses *>(statuses)->push_back(status);
}

void ignoreLinkEvent(uint32_t, void *) {}

uint16_t frameIndex(const Bytes &frame) {
    return get_le16(&frame[1]);
}

class Transmission : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.createInstance();
        host.connect();
        platform.clearLogs();
    }

    int send(const Bytes &payload, Statuses &done) {
        return sp_send_message(platform.instance, 1, payload.data(),
                               static_cast<uint32_t>(payload.size()), record, &done);
    }

    void process() { vuno_process_requests(platform.instance); }

    FakePlatform platform;
    HostLink host{platform};
    Statuses done;
};

TEST_F(Transmission, PayloadIsCutIntoIndexedFramesOfAtMost1014Bytes) {
    const struct {
        uint32_t size;
        std::vector<size_t> frameSizes;
    } cases[] = {
        {1, {14}}, {1001, {1014}}, {1002, {1014, 4}}, {2012, {1014, 1014}}, {2013, {1014, 1014, 4}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes payload = patterned(c.size);
        Statuses sent;
        ASSERT_EQ(send(payload, sent), VUNO_STATUS_COMMAND_PENDING);
        const auto frames = host.pump();
        ASSERT_EQ(frames.size(), c.frameSizes.size());
        EXPECT_EQ(frames, messageFrames(payload)); // header, checksum and parts
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].size(), c.frameSizes[i]);
            EXPECT_EQ(frameIndex(frames[i]), i);
        }
        EXPECT_TRUE(platform.logged("Message has been sent. Waiting for Status Frame."));
        EXPECT_TRUE(sent.empty());
        host.sendStatus(0);
        host.pump();
        EXPECT_EQ(sent, Statuses{VUNO_STATUS_SUCCESS});
    }
}

TEST_F(Transmission, SubmissionRefusals) {
    const Bytes payload = patterned(8);
    const struct {
        const char *name;
        const uint8_t *payload;
        uint32_t size;
        uint32_t serviceId;
        sp_message_callback callback;
        std::string log;
    } cases[] = {
        {"no payload", nullptr, 8, 1, record, "Invalid Parameter"},
        {"no callback", payload.data(), 8, 1, nullptr, "Invalid Parameter"},
        {"empty", payload.data(), 0, 1, record, "Invalid Message size: 0"},
        {"too long", payload.data(), 66256887, 1, record, "Invalid Message size: 66256887"},
        {"service", payload.data(), 8, 2, record, "Invalid Service ID: 2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        platform.clearLogs();
        EXPECT_EQ(
            sp_send_message(platform.instance, c.serviceId, c.payload, c.size, c.callback, &done),
            VUNO_STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(platform.loggedError(c.log));
    }
    const Bytes largest(66256886);
    EXPECT_EQ(send(largest, done), VUNO_STATUS_COMMAND_PENDING);
    EXPECT_TRUE(done.empty());
}

TEST(TransmissionWithoutLink, IsRefusedWithTheLinkState) {
    FakePlatform platform;
    platform.createInstance();
    HostLink host{platform};
    const Bytes payload{0x41};
    Statuses done;
    EXPECT_EQ(sp_send_message(platform.instance, 1, payload.data(), 1, record, &done),
              VUNO_STATUS_HOST_NOT_CONNECTED);
    EXPECT_TRUE(platform.loggedError("Host not connected, state 0"));

    // Connected to the mailbox, still waiting for the first heartbeat.
    ASSERT_EQ(vuno_connect_to_host(platform.instance, 0x00035B00, ignoreLinkEvent, nullptr,
                                   ignoreLinkEvent, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    respondFromMe(platform.instance, {0x02, 0x00});
    EXPECT_EQ(sp_send_message(platform.instance, 1, payload.data(), 1, record, &done),
              VUNO_STATUS_HOST_NOT_CONNECTED);
    EXPECT_TRUE(platform.loggedError("Host not connected, state 1"));
    EXPECT_TRUE(host.pump().empty());
    EXPECT_TRUE(done.empty());
}

TEST_F(Transmission, StatusFrameOvertakesAMessageBetweenItsFrames) {
    const Bytes payload = patterned(1002);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer();
    host.sendMessage({0x41}); // the BMC owes the host a Status Frame now
    process();
    EXPECT_EQ(host.takeFrames(), (std::vector<Bytes>{messageFrames(payload)[0], {0x02, 0x00}}));
    host.answerTransfer();
    EXPECT_EQ(host.pump(), std::vector<Bytes>{messageFrames(payload)[1]});
}

TEST_F(Transmission, MessageWaitingForItsStatusResumesWithItsTicksAfterAStatusFrame) {
    ASSERT_EQ(send({0x41}, done), VUNO_STATUS_COMMAND_PENDING);
    host.pump();
    host.tick(5);
    host.sendMessage({0x42});
    process();
    EXPECT_EQ(host.takeFrames(), std::vector<Bytes>{Bytes({0x02, 0x00})});
    host.tick(3); // not counted: the Status Frame is current meanwhile
    host.answerTransfer();
    host.pump();
    EXPECT_TRUE(platform.loggedError("SSI Response size in bytes: 1 is too small."));

    host.tick(15);
    host.pump();
    EXPECT_TRUE(done.empty());
    host.tick(1);
    host.pump();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TIMEOUT});
    EXPECT_TRUE(platform.loggedError("Waiting for status timeout occurred."));
}

TEST_F(Transmission, FrameIsSentAtMostFourTimesAfterMeTimeouts) {
    const Bytes payload = patterned(2013);
    const auto expected = messageFrames(payload);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer();
    process();
    host.tick(6); // frame 1 once unanswered: its retries start afresh on frame 2
    process();
    host.answerTransfer();
    EXPECT_EQ(host.takeFrames(), (std::vector<Bytes>{expected[0], expected[1], expected[1]}));

    for (int attempt = 1; attempt <= 4; ++attempt) {
        SCOPED_TRACE(attempt);
        process();
        EXPECT_EQ(host.takeFrames(), std::vector<Bytes>{expected[2]});
        host.tick(6);
        EXPECT_EQ(
            platform.logged("Frame will be retransmitted " + std::to_string(attempt) + " time."),
            attempt < 4);
    }
    process();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TIMEOUT});
    EXPECT_TRUE(platform.loggedError("Error during transferring Data Frame [2], status: 11."));
}

TEST_F(Transmission, CrcErrorsResendTheWholeMessageSixTimes) {
    const Bytes payload = patterned(2013);
    ASSERT_EQ(send(payload, done), VUNO_STATUS_COMMAND_PENDING);
    host.pump();
    for (int retry = 0; retry < 6; ++retry) {
        SCOPED_TRACE(retry);
        host.sendStatus(7);
        EXPECT_EQ(host.pump(), messageFrames(payload));
        EXPECT_TRUE(platform.logged("Message retransmission, times " + std::to_string(retry)));
    }
    host.sendStatus(7);
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(done, Statuses{VUNO_STATUS_INTERNAL_ERROR});
    EXPECT_TRUE(platform.loggedError("Reached maximum Message retransmissions"));
}

TEST_F(Transmission, OtherStatusValuesFailTheMessage) {
    for (uint8_t status : {1, 2, 3, 4, 5, 6, 8, 0xFF}) {
        SCOPED_TRACE(status);
        Statuses sent;
        ASSERT_EQ(send({0x41}, sent), VUNO_STATUS_COMMAND_PENDING);
        host.pump();
        host.sendStatus(status);
        host.pump();
        EXPECT_EQ(sent, Statuses{VUNO_STATUS_INTERNAL_ERROR});
        EXPECT_TRUE(
            platform.loggedError("Received Status Frame with status " + std::to_string(status)));
    }
    host.sendStatus(0);
    EXPECT_TRUE(platform.loggedError("Received status frame for a non-existing message"));
}

TEST_F(Transmission, TransferFailuresEndTheMessage) {
    ASSERT_EQ(send({0x41}, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    host.answerTransfer(0x07); // the ME could not deliver it
    process();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TRANSFER_TO_HOST_FAILED});
    EXPECT_TRUE(platform.loggedError("Error during transferring Data Frame [0], status: 10."));

    // Refused by MCTP: the BMC-ME layer stays busy and reports a time-out
    // later, which must not revive the failed message.
    done.clear();
    platform.mctpSendResult = 1;
    ASSERT_EQ(send({0x42}, done), VUNO_STATUS_COMMAND_PENDING);
    process();
    EXPECT_TRUE(platform.loggedError("Error 13 during transfer"));
    platform.mctpSendResult = 0;
    host.takeFrames();
    host.tick(6);
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(done, Statuses{VUNO_STATUS_TRANSFER_TO_HOST_FAILED});
}

TEST_F(Transmission, ReportOfOneMessageTypeNeverActsOnTheOther) {
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
    host.sendStatus(0);
    host.pump();
    EXPECT_EQ(done, Statuses{VUNO_STATUS_SUCCESS});
}

TEST_F(Transmission, LostLinkEndsEveryQueuedMessage) {
    Statuses first, second;
    ASSERT_EQ(send({0x41}, first), VUNO_STATUS_COMMAND_PENDING);
    ASSERT_EQ(send({0x42}, second), VUNO_STATUS_COMMAND_PENDING);
    host.sendMessage({0x43}); // and a Status Frame queued
    platform.tick(41);        // no heartbeats: the link is taken down
    respondFromMe(platform.instance, {0x03, 0x03});
    ASSERT_EQ(host.lost, static_cast<int>(VUNO_STATUS_HOST_NOT_CONNECTED));
    host.takeFrames();

    process();
    EXPECT_EQ(first, Statuses{VUNO_STATUS_HOST_NOT_CONNECTED});
    EXPECT_EQ(second, Statuses{VUNO_STATUS_HOST_NOT_CONNECTED});
    EXPECT_TRUE(host.pump().empty());
    EXPECT_EQ(platform.instance->sp_ctx->queue_head, nullptr);
    EXPECT_EQ(send({0x44}, done), VUNO_STATUS_HOST_NOT_CONNECTED);
    EXPECT_TRUE(platform.loggedError("Host not connected, state 0"));
}

} // namespace
} // namespace vuno::testing
