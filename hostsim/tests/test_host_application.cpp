#include "simulator_fixture.hpp"

#include "frames.h"
#include "utils.h"

namespace vuno::hostsim::testing {
namespace {

constexpr Duration kPeriod{500};

class HostApplicationTest : public SimulatorTest {
  protected:
    void SetUp() override {
        settings_.heartbeats.period = kPeriod;
        Start();
    }
    void Connect() { ASSERT_EQ(MeStatus(ConnectRequest(kDefaultLiveLocation)), me::kConnected); }
    // Runs the clock for `duration` as a prompt BMC would, answering every
    // ME request, and returns the frames received in that time.
    std::vector<Bytes> RunFor(Duration duration) {
        std::vector<Bytes> frames;
        for (Duration passed{0}; passed <= duration; passed += Duration{10}) {
            Sim().Advance(passed.count() == 0 ? Duration{0} : Duration{10});
            if (!received_.empty()) {
                frames.push_back(AcceptNextFrame());
            }
        }
        return frames;
    }
};

TEST_F(HostApplicationTest, NoHeartbeatsWithoutTheLink) {
    EXPECT_TRUE(RunFor(kPeriod * 4).empty());
    EXPECT_EQ(Count(Counter::HeartbeatsSent), 0u);
}

TEST_F(HostApplicationTest, HeartbeatsStartWithTheLinkAndFollowThePeriod) {
    Connect();
    Sim().Advance(Duration{0});
    EXPECT_EQ(AcceptNextFrame(), HeartbeatFrame(1)) << "first heartbeat right after connect";
    Sim().Advance(kPeriod - Duration{1});
    EXPECT_TRUE(received_.empty());
    Sim().Advance(Duration{1});
    EXPECT_EQ(AcceptNextFrame(), HeartbeatFrame(2));
    EXPECT_EQ(RunFor(kPeriod * 3),
              (std::vector<Bytes>{HeartbeatFrame(3), HeartbeatFrame(4), HeartbeatFrame(5)}));
    EXPECT_EQ(Count(Counter::HeartbeatsSent), 5u);
}

TEST_F(HostApplicationTest, HeartbeatsEndWithTheLink) {
    Connect();
    RunFor(kPeriod);
    EXPECT_EQ(MeStatus(Bytes{me::kDisconnect}), me::kDisconnected);
    EXPECT_TRUE(RunFor(kPeriod * 3).empty());
    EXPECT_EQ(Count(Counter::HostFramesDropped), 0u) << "the host must not even try";
    Connect();
    EXPECT_EQ(RunFor(Duration{0}), std::vector<Bytes>{HeartbeatFrame(3)});
}

TEST_F(HostApplicationTest, StoppedHeartbeatsResumeWithTheNextId) {
    Connect();
    RunFor(Duration{0});
    Sim().Host().StopHeartbeats();
    EXPECT_TRUE(RunFor(kPeriod * 3).empty());
    Sim().Host().ResumeHeartbeats();
    EXPECT_EQ(RunFor(kPeriod), (std::vector<Bytes>{HeartbeatFrame(2), HeartbeatFrame(3)}));
}

TEST_F(HostApplicationTest, RestartDropsTheIdAndRunsAgain) {
    Connect();
    RunFor(kPeriod);
    Sim().Host().StopHeartbeats();
    Sim().Host().Restart();
    EXPECT_EQ(RunFor(kPeriod), (std::vector<Bytes>{HeartbeatFrame(0), HeartbeatFrame(1)}));
    EXPECT_EQ(Count(Counter::HostRestarts), 1u);
}

TEST_F(HostApplicationTest, HeartbeatsQueueBehindAnUnansweredRequest) {
    Connect();
    Sim().Advance(Duration{0});
    Sim().Advance(kPeriod * 3);
    // Only the first went out; the BMC's silence ends it after the wait.
    EXPECT_EQ(TakeMeRequests().size(), 1u);
    EXPECT_EQ(Count(Counter::HeartbeatsSent), 4u);
    EXPECT_EQ(Count(Counter::MissingMeReplies), 0u);
    Sim().Advance(kBmcReplyWait - kPeriod * 3);
    EXPECT_EQ(Count(Counter::MissingMeReplies), 1u);
    EXPECT_EQ(AcceptNextFrame(), HeartbeatFrame(2));
}

TEST_F(HostApplicationTest, FramesFromTheBmcReachTheMessageExchange) {
    Sim().Host().StopHeartbeats();
    Connect();
    EXPECT_EQ(MeStatus(TransferDataRequest(HeartbeatFrame(1))), me::kDataSent);
    EXPECT_EQ(Count(Counter::UnhandledFrames), 1u) << "the BMC sends no control frames";
    EXPECT_EQ(MeStatus(TransferDataRequest(Bytes{0x01, 0x01, 0x00, 0xFF})), me::kDataSent);
    EXPECT_EQ(RunFor(Duration{0}), std::vector<Bytes>{Bytes({0x02, 0x08})})
        << "a later frame alone is answered with Status 8";

    // GetExecutorInformation with identifier 3 as one message of 6 bytes.
    const Bytes request{0x18, 10, 0, 0, 0, 0};
    Bytes frame{0x01, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    put_le32(&frame[9], sp_message_crc(1, 0, 6, request.data(), 6));
    frame.insert(frame.end(), request.begin(), request.end());
    EXPECT_EQ(MeStatus(TransferDataRequest(frame)), me::kDataSent);
    const auto frames = RunFor(Duration{10});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (Bytes{0x02, 0x00}));
    // Success with the 40 bytes of executor information.
    const Bytes responseHeader{0x19, 0, 0, 40, 0, 0, 0};
    ASSERT_EQ(frames[1].size(), 13u + responseHeader.size() + 40);
    EXPECT_EQ(Bytes(frames[1].begin() + 13, frames[1].begin() + 20), responseHeader)
        << "the executor's answer follows the Status Frame";
}

TEST_F(HostApplicationTest, RestartAfterDataFramesCatchesAMessageHalfWay) {
    Sim().Host().StopHeartbeats();
    Connect();
    Sim().Host().RestartAfterDataFrames(2);
    Bytes first(1014, 0);
    first[0] = 0x01;
    first[3] = 1;
    put_le32(&first[5], 5000);
    const Bytes later{0x01, 0x01, 0x00, 0xAA};
    EXPECT_EQ(MeStatus(TransferDataRequest(first)), me::kDataSent);
    EXPECT_EQ(Count(Counter::HostRestarts), 0u);
    EXPECT_EQ(MeStatus(TransferDataRequest(later)), me::kDataSent);
    EXPECT_EQ(Count(Counter::HostRestarts), 1u);
    EXPECT_EQ(RunFor(Duration{0}), std::vector<Bytes>{HeartbeatFrame(0)});
    // The message under reception went with the restart.
    Bytes next = later;
    next[1] = 2;
    EXPECT_EQ(MeStatus(TransferDataRequest(next)), me::kDataSent);
    EXPECT_EQ(RunFor(Duration{0}), std::vector<Bytes>{Bytes({0x02, 0x08})});
}

TEST_F(HostApplicationTest, StartsWithoutHeartbeatsWhenAsked) {
    settings_.heartbeats.enabled = false;
    Start();
    Connect();
    EXPECT_TRUE(RunFor(kPeriod * 2).empty());
    Sim().Host().ResumeHeartbeats();
    EXPECT_EQ(RunFor(Duration{0}), std::vector<Bytes>{HeartbeatFrame(1)});
}

} // namespace
} // namespace vuno::hostsim::testing
