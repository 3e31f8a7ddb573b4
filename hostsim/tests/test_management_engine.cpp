#include "simulator_fixture.hpp"

namespace vuno::hostsim::testing {
namespace {

constexpr uint32_t kDeadLocation = 0x05005000;

class ManagementEngineTest : public SimulatorTest {
  protected:
    void SetUp() override {
        settings_.heartbeats.enabled = false; // keeps the relay queue to what tests inject
        Start();
    }
    void Connect() { ASSERT_EQ(MeStatus(ConnectRequest(kDefaultLiveLocation)), me::kConnected); }
};

TEST_F(ManagementEngineTest, ConnectAnswersByLocationAndLinkState) {
    EXPECT_EQ(MeStatus(ConnectRequest(kDeadLocation)), me::kConnectFailed);
    EXPECT_FALSE(Sim().Me().Connected());
    EXPECT_EQ(MeStatus(ConnectRequest(kDefaultLiveLocation)), me::kConnected);
    EXPECT_TRUE(Sim().Me().Connected());
    EXPECT_EQ(Sim().Me().Location(), kDefaultLiveLocation);
    EXPECT_EQ(MeStatus(ConnectRequest(kDeadLocation)), me::kAlreadyConnected);
    EXPECT_EQ(Sim().Me().Location(), kDefaultLiveLocation);
    EXPECT_EQ(Sim().Me().ConnectAttempts(),
              (std::vector<uint32_t>{kDeadLocation, kDefaultLiveLocation, kDeadLocation}));
    EXPECT_EQ(Count(Counter::ConnectRequests), 3u);
}

TEST_F(ManagementEngineTest, LiveLocationsCanBeChanged) {
    constexpr uint32_t kLastCandidate = 0x0500E201;
    Sim().Me().SetVmdLive(kDefaultLiveLocation, false);
    Sim().Me().SetVmdLive(kLastCandidate, true);
    EXPECT_EQ(MeStatus(ConnectRequest(kDefaultLiveLocation)), me::kConnectFailed);
    EXPECT_EQ(MeStatus(ConnectRequest(kLastCandidate)), me::kConnected);
    EXPECT_EQ(Sim().Me().Location(), kLastCandidate);
}

TEST_F(ManagementEngineTest, ConnectDecodesDeviceAndFunctionBits) {
    EXPECT_EQ(MeStatus(Bytes{me::kConnect, 0x34, 0x12, 0xFF}), me::kConnectFailed);
    EXPECT_EQ(Sim().Me().ConnectAttempts(), std::vector<uint32_t>{0x071F1234});
}

TEST_F(ManagementEngineTest, DisconnectAnswersByLinkState) {
    for (uint8_t command : {me::kDisconnect, me::kForceDisconnect}) {
        SCOPED_TRACE(int(command));
        EXPECT_EQ(MeStatus(Bytes{command}), me::kNotConnected);
        Connect();
        EXPECT_EQ(MeStatus(Bytes{command}), me::kDisconnected);
        EXPECT_FALSE(Sim().Me().Connected());
        EXPECT_EQ(Sim().Me().Location(), 0u);
    }
    EXPECT_EQ(Count(Counter::DisconnectRequests), 4u);
}

TEST_F(ManagementEngineTest, TransferDataNeedsTheLink) {
    const Bytes transfer = TransferDataRequest(Bytes{0x02, 0x00});
    EXPECT_EQ(MeStatus(transfer), me::kNotConnected);
    EXPECT_EQ(Count(Counter::FramesToHost), 0u);
    Connect();
    EXPECT_EQ(MeStatus(transfer), me::kDataSent);
    EXPECT_EQ(Count(Counter::FramesToHost), 1u);
    EXPECT_EQ(Sim().Host().Counters().Value(ExchangeCounter::StatusFramesReceived), 1u);
}

TEST_F(ManagementEngineTest, MalformedCommandsAreAnsweredWithoutEffect) {
    Connect();
    struct Case {
        const char *name;
        Bytes request;
        uint8_t status;
    };
    const Case cases[] = {
        {"transfer without data", {0x01, 0, 0, 0, 0}, me::kInvalidLength},
        {"length field one short", {0x01, 0, 0, 0, 1, 0xAA, 0xBB}, me::kInvalidLength},
        {"length field one long", {0x01, 0, 0, 0, 3, 0xAA, 0xBB}, me::kInvalidLength},
        {"transfer header cut", {0x01, 0, 0}, me::kInvalidLength},
        {"frame over 1014 bytes", TransferDataRequest(Bytes(1015, 0x01)), me::kInvalidLength},
        {"connect of 3 bytes", {0x02, 0x00, 0x00}, me::kInvalidLength},
        {"disconnect of 2 bytes", {0x03, 0x00}, me::kInvalidLength},
        {"unknown command", {0x05, 0x00}, me::kUnexpectedCommand},
        {"command 0", {0x00}, me::kUnexpectedCommand},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MeStatus(c.request), c.status);
    }
    EXPECT_TRUE(Sim().Me().Connected());
    EXPECT_EQ(Count(Counter::FramesToHost), 0u);
    EXPECT_EQ(Count(Counter::InvalidMeRequests), 7u);
    EXPECT_EQ(Count(Counter::UnknownMeCommands), 2u);
    EXPECT_EQ(MeStatus(TransferDataRequest(Bytes(1014, 0x01))), me::kDataSent);
}

TEST_F(ManagementEngineTest, DropModeLeavesRequestsUnansweredAndUndone) {
    Sim().Me().SetResponseMode(ResponseMode::Drop, 2);
    for (int i = 0; i < 2; ++i) {
        const MctpResult result = Request(ConnectRequest(kDefaultLiveLocation));
        EXPECT_EQ(result.status, kMctpNoResponse);
        EXPECT_TRUE(result.message.empty());
    }
    EXPECT_FALSE(Sim().Me().Connected());
    EXPECT_EQ(Count(Counter::DroppedRequests), 2u);
    EXPECT_EQ(Sim().Me().ConnectAttempts().size(), 2u);
    Connect();
}

TEST_F(ManagementEngineTest, RefuseModeAnswersBusyAndNormalEndsIt) {
    Sim().Me().SetResponseMode(ResponseMode::Refuse, 3);
    EXPECT_EQ(MeStatus(ConnectRequest(kDefaultLiveLocation)), me::kBusy);
    EXPECT_EQ(MeStatus(Bytes{me::kDisconnect}), me::kBusy);
    EXPECT_FALSE(Sim().Me().Connected());
    Sim().Me().SetResponseMode(ResponseMode::Normal, 3);
    Connect();
    EXPECT_EQ(Count(Counter::RefusedRequests), 2u);
}

TEST(ResponseModeTest, ParsesTheThreeNames) {
    EXPECT_EQ(ParseResponseMode("normal"), ResponseMode::Normal);
    EXPECT_EQ(ParseResponseMode("drop"), ResponseMode::Drop);
    EXPECT_EQ(ParseResponseMode("refuse"), ResponseMode::Refuse);
    EXPECT_EQ(ParseResponseMode("Drop"), std::nullopt);
    EXPECT_EQ(ParseResponseMode(""), std::nullopt);
}

TEST_F(ManagementEngineTest, RelaysOneRequestAtATimeWithRollingInstanceIds) {
    for (uint8_t i = 0; i < 33; ++i) {
        ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{i}));
    }
    for (uint8_t i = 0; i < 33; ++i) {
        Sim().Advance(Duration{0});
        ASSERT_EQ(received_.size(), 1u) << "request " << int(i);
        EXPECT_EQ(received_[0][3], 0x80 | (i % 32));
        EXPECT_EQ(AcceptNextFrame(), Bytes{i});
    }
    EXPECT_EQ(Count(Counter::MeRequestsSent), 33u);
    EXPECT_EQ(Count(Counter::MeRepliesReceived), 33u);
    EXPECT_EQ(Count(Counter::BadMeReplies), 0u);
}

TEST_F(ManagementEngineTest, MissingReplyIsCountedAndTheNextRequestFollows) {
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0x01}));
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0x02}));
    Sim().Advance(Duration{0});
    EXPECT_EQ(TakeMeRequests().size(), 1u);
    Sim().Advance(kBmcReplyWait - Duration{1});
    EXPECT_TRUE(received_.empty());
    Sim().Advance(Duration{1});
    EXPECT_EQ(Count(Counter::MissingMeReplies), 1u);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0][3], 0x81);
    ReplyToMe(0, MeResponse(me::kTransferData, me::kDataReceived)); // too late
    EXPECT_EQ(Count(Counter::UnmatchedMeReplies), 1u);
    EXPECT_EQ(AcceptNextFrame(), Bytes{0x02});
}

TEST_F(ManagementEngineTest, RepliesAreCheckedAgainstWhatTheRequestDeserves) {
    struct Case {
        const char *name;
        Bytes injected;
        Bytes reply;
        bool bad;
    };
    const Case cases[] = {
        {"accepted frame", TransferDataRequest(Bytes{0xAA}), {0x01, 0x05}, false},
        {"accepted frame answered 6", TransferDataRequest(Bytes{0xAA}), {0x01, 0x06}, true},
        {"reply with a trailing byte", TransferDataRequest(Bytes{0xAA}), {0x01, 0x05, 0}, true},
        {"reply of one byte", TransferDataRequest(Bytes{0xAA}), {0x01}, true},
        {"reply naming another command", TransferDataRequest(Bytes{0xAA}), {0x02, 0x05}, true},
        {"wrong length field", {0x01, 0, 0, 0, 3, 0xAA, 0xBB}, {0x01, 0x0A}, false},
        {"wrong length field accepted", {0x01, 0, 0, 0, 3, 0xAA, 0xBB}, {0x01, 0x05}, true},
        {"no data", {0x01, 0, 0, 0, 0}, {0x01, 0x0A}, false},
        {"wrong command", {0x02, 0, 0, 0, 1, 0xAA}, {0x01, 0x09}, false},
    };
    uint64_t bad = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Sim().Me().InjectMessage(c.injected));
        Sim().Advance(Duration{0});
        ASSERT_EQ(received_.size(), 1u);
        const uint8_t tag = InstanceId(received_[0]);
        EXPECT_EQ(TakeMeRequests()[0], c.injected);
        ReplyToMe(tag, c.reply);
        bad += c.bad ? 1 : 0;
        EXPECT_EQ(Count(Counter::BadMeReplies), bad);
    }
}

TEST_F(ManagementEngineTest, InjectionIsBounded) {
    EXPECT_FALSE(Sim().Me().InjectFrame(Bytes(kMaxInjectedSize + 1)));
    EXPECT_TRUE(Sim().Me().InjectFrame(Bytes(kMaxInjectedSize)));
    for (size_t i = 1; i < kMaxQueuedRequests; ++i) {
        ASSERT_TRUE(Sim().Me().InjectMessage(Bytes{0x01}));
    }
    EXPECT_FALSE(Sim().Me().InjectMessage(Bytes{0x01}));
    Sim().Advance(Duration{0});
    EXPECT_EQ(TakeMeRequests()[0].size(), kMaxInjectedSize + kTransferDataHeaderSize);
}

TEST_F(ManagementEngineTest, HostFramesNeedTheLinkAndDieWithIt) {
    EXPECT_FALSE(Sim().Me().RelayFromHost(Bytes{0x02, 0x00}));
    Connect();
    EXPECT_TRUE(Sim().Me().RelayFromHost(Bytes{0x02, 0x00}));
    EXPECT_TRUE(Sim().Me().RelayFromHost(Bytes{0x02, 0x07}));
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0x02, 0x01}));
    Sim().Advance(Duration{0});
    EXPECT_EQ(MeStatus(Bytes{me::kDisconnect}), me::kDisconnected);
    // The request already out is still answered; the queued host frame is
    // gone, the injected one is not.
    EXPECT_EQ(AcceptNextFrame(), (Bytes{0x02, 0x00}));
    Sim().Advance(Duration{0});
    EXPECT_EQ(AcceptNextFrame(), (Bytes{0x02, 0x01}));
    Sim().Advance(kBmcReplyWait);
    EXPECT_TRUE(received_.empty());
    EXPECT_EQ(Count(Counter::HostFramesDropped), 2u);
}

TEST_F(ManagementEngineTest, HeldTransferAnswerFollowsTheHostsReply) {
    Connect();
    constexpr Duration kDelay{300};
    Sim().Me().SetTransferAnswerDelay(kDelay);
    // Data Frame [0] of a message for an unknown service: the host answers
    // it at once with a Status Frame of its own.
    const Bytes frame{0x01, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0xAA};
    std::optional<MctpResult> answer;
    Sim().Mctp().SendMessage(kMeEndpointId, 1,
                             WithVendorHeader(true, 3, TransferDataRequest(frame)),
                             [&answer](const MctpResult &result) { answer = result; });
    EXPECT_FALSE(answer);
    Sim().Advance(Duration{0});
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(AcceptNextFrame().at(0), 0x02) << "the host's Status Frame";
    Sim().Advance(kDelay - Duration{1});
    EXPECT_FALSE(answer);
    Sim().Advance(Duration{1});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->message,
              WithVendorHeader(false, 3, MeResponse(me::kTransferData, me::kDataSent)));
    Sim().Me().SetTransferAnswerDelay(Duration{0});
    EXPECT_EQ(MeStatus(TransferDataRequest(frame)), me::kDataSent);
}

} // namespace
} // namespace vuno::hostsim::testing
