#include "bmc_me_over_mctp.h"
#include "fake_platform.hpp"
#include "host_messages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vuno::testing {
namespace {

std::vector<uint32_t> completions;
std::vector<Bytes> frames; // delivered up to the Service Protocol

void onComplete(vuno_instance *, uint32_t status) {
    completions.push_back(status);
}

void onFrame(vuno_instance *, const uint8_t *frame, uint32_t length) {
    frames.emplace_back(frame, frame + length);
}

class BmcMe : public ::testing::Test {
  protected:
    void SetUp() override {
        completions.clear();
        frames.clear();
        platform.createInstance()->deliver.frame_received = onFrame;
    }

    int transfer(const Bytes &data) {
        return bmc_me_transfer_data(platform.instance, data.data(),
                                    static_cast<uint32_t>(data.size()), onComplete);
    }

    int issue(uint8_t command) {
        if (command == BMC_ME_CMD_TRANSFER_DATA) {
            return transfer({0xAB});
        }
        if (command == BMC_ME_CMD_CONNECT) {
            return bmc_me_connect_vmd(platform.instance, 0x00035B00, onComplete);
        }
        return bmc_me_disconnect_vmd(platform.instance, command == BMC_ME_CMD_FORCE_DISCONNECT,
                                     onComplete);
    }

    // The library status a response with this ME status gives the command.
    uint32_t answer(uint8_t command, uint8_t status) {
        completions.clear();
        EXPECT_EQ(issue(command), VUNO_STATUS_COMMAND_PENDING);
        respondFromMe(platform.instance, {command, status, 0x77});
        EXPECT_EQ(completions.size(), 1u);
        return completions.empty() ? 0xFFFF : completions[0];
    }

    FakePlatform platform;
};

TEST_F(BmcMe, CommandsGoOutAsTheMeExpectsThem) {
    ASSERT_EQ(bmc_me_connect_vmd(platform.instance, 0x071F5B2A, onComplete),
              VUNO_STATUS_COMMAND_PENDING); // device 31 and function 7 fill byte 3
    respondFromMe(platform.instance, {0x02, 0x00});
    ASSERT_EQ(issue(BMC_ME_CMD_FORCE_DISCONNECT), VUNO_STATUS_COMMAND_PENDING);
    respondFromMe(platform.instance, {0x04, 0x03});
    const Bytes data = patterned(1014);
    ASSERT_EQ(transfer(data), VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(transfer(patterned(1015)), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bmc_me_connect_vmd(platform.instance, 0x00200000u, onComplete), // device 32
              VUNO_STATUS_INVALID_PARAMETER);
    ASSERT_EQ(platform.sent.size(), 3u);
    EXPECT_EQ(platform.sent[0].data, (Bytes{0x02, 0x2A, 0x5B, 0xFF}));
    EXPECT_EQ(platform.sent[1].data, Bytes{0x04});
    EXPECT_EQ(platform.sent[2].data, transferRequest(data));
    EXPECT_TRUE(platform.sent[2].request);
    EXPECT_EQ(platform.sent[2].tag, 0);
}

TEST_F(BmcMe, ResponseStatusesMapPerCommandAndTheRestAreInternalErrors) {
    EXPECT_EQ(answer(BMC_ME_CMD_TRANSFER_DATA, 6), VUNO_STATUS_SUCCESS);
    EXPECT_EQ(answer(BMC_ME_CMD_TRANSFER_DATA, 7), VUNO_STATUS_TRANSFER_TO_HOST_FAILED);
    EXPECT_EQ(answer(BMC_ME_CMD_CONNECT, 4), VUNO_STATUS_HOST_ALREADY_CONNECTED);
    EXPECT_EQ(answer(BMC_ME_CMD_DISCONNECT, 2), VUNO_STATUS_HOST_NOT_CONNECTED);
    for (uint8_t command = 1; command <= 4; ++command) {
        for (unsigned status = 0; status < 256; status += status < 12 ? 1 : 61) {
            const uint32_t mapped = answer(command, static_cast<uint8_t>(status));
            EXPECT_TRUE(status <= 8 || mapped == VUNO_STATUS_INTERNAL_ERROR)
                << int(command) << "/" << status;
        }
    }
}

TEST_F(BmcMe, OneCommandAtATimeAndTheSixthTickEndsIt) {
    ASSERT_EQ(issue(BMC_ME_CMD_TRANSFER_DATA), VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(issue(BMC_ME_CMD_CONNECT), VUNO_STATUS_BUSY);
    platform.tick(5);
    EXPECT_TRUE(completions.empty());
    platform.tick();
    EXPECT_EQ(completions, std::vector<uint32_t>{VUNO_STATUS_TIMEOUT});
    respondFromMe(platform.instance, {0x01, 0x06}); // too late
    EXPECT_EQ(completions.size(), 1u);
}

TEST_F(BmcMe, ResponsesThatCannotEndTheCommandLeaveItToTheTimeout) {
    // Another command's answer, an MCTP error, a short answer, a refused send.
    const struct {
        int mctpStatus;
        Bytes response;
    } cases[] = {{0, {0x02, 0x06}}, {-5, {0x01, 0x06}}, {0, {0x01}}, {0, {}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        completions.clear();
        platform.mctpSendResult = c.response.empty() ? -32 : 0;
        EXPECT_EQ(issue(BMC_ME_CMD_TRANSFER_DATA),
                  c.response.empty() ? VUNO_STATUS_MCTP_ERROR : VUNO_STATUS_COMMAND_PENDING);
        bmc_me_mctp_message_received(platform.instance, false, 0, c.mctpStatus, c.response.data(),
                                     static_cast<uint32_t>(c.response.size()));
        EXPECT_EQ(issue(BMC_ME_CMD_CONNECT), VUNO_STATUS_BUSY);
        platform.tick(6);
        EXPECT_EQ(completions, std::vector<uint32_t>{VUNO_STATUS_TIMEOUT});
    }
}

TEST_F(BmcMe, RequestsFromTheMeAreAnsweredAndTheirFrameGoesUp) {
    Bytes badLengthField = transferRequest({0x00});
    badLengthField[4] = 0x02;
    Bytes wrongCommand = transferRequest({0x00});
    wrongCommand[0] = 0x02;
    const struct {
        Bytes request;
        uint8_t reply;
    } refused[] = {{{0x01, 0, 0, 0, 0}, 10}, {badLengthField, 10}, {wrongCommand, 9}};
    for (const auto &c : refused) {
        SCOPED_TRACE(&c - refused);
        platform.sent.clear();
        deliverFromMe(platform.instance, c.request, 0x05);
        ASSERT_EQ(platform.sent.size(), 1u);
        EXPECT_FALSE(platform.sent[0].request);
        EXPECT_EQ(platform.sent[0].tag, 0x05);
        EXPECT_EQ(platform.sent[0].data, (Bytes{0x01, c.reply}));
    }
    EXPECT_TRUE(frames.empty());
    platform.sent.clear();
    deliverFromMe(platform.instance, transferRequest(patterned(1014)), 0x06);
    EXPECT_EQ(platform.sent.at(0).data, (Bytes{0x01, 0x05}));
    // The ME has delivered the frame whether or not the reply goes out.
    platform.mctpSendResult = -1;
    deliverFromMe(platform.instance, transferRequest({0x00, 0x01}));
    EXPECT_EQ(frames, (std::vector<Bytes>{patterned(1014), {0x00, 0x01}}));
}

} // namespace
} // namespace vuno::testing
