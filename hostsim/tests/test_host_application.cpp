#include "simulator_fixture.hpp"

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

TEST_F(HostApplicationTest, FramesFromTheBmcAreCountedAsUnhandled) {
    Connect();
    EXPECT_EQ(MeStatus(TransferDataRequest(Bytes{0x02, 0x00})), me::kDataSent);
    EXPECT_EQ(MeStatus(TransferDataRequest(Bytes{0x01, 0x01, 0x00, 0xFF})), me::kDataSent);
    EXPECT_EQ(Count(Counter::UnhandledFrames), 2u);
    ASSERT_GE(lines_.size(), 2u);
    EXPECT_NE(lines_.back().find("Data Frame [1]"), std::string::npos) << lines_.back();
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
