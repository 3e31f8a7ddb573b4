// The daemon and the simulated platform together: finding the live VMD
// device, keeping the link by heartbeats, noticing a restarted host and a
// lost link, and surviving malformed traffic from the ME. (Stopping with
// a call in flight is in the storage tests.)
#include "platform_fixture.hpp"

namespace vuno::testing {
namespace {

constexpr uint32_t kFirstCandidate = 0x05000000;
constexpr uint32_t kSecondCandidate = 0x05005000;
constexpr uint32_t kThirdCandidate = 0x0500C200;

using HostLink = PlatformFixture;

TEST_F(HostLink, ConnectsThroughTheFirstLiveCandidateInListOrder) {
    StartHostSim({"--live-vmd", "0x0500C200"});
    StartDaemon();

    size_t at = ExpectDaemonOutput("Trying connect to VMD: 0x0 0x0 0x5", 10s);
    at = ExpectDaemonOutput("Trying connect to VMD: 0x50 0x0 0x5", 20s, at);
    at = ExpectDaemonOutput("Trying connect to VMD: 0xc2 0x0 0x5", 20s, at);
    ExpectDaemonOutput("BMC to Host successfully connected.", 20s, at);

    // Several heartbeats later the link is still the same one.
    EXPECT_EQ(WaitForDaemonOutputs("Heartbeat ID", 3, 30s, at), 3u);
    EXPECT_EQ(ConnectAttempts(),
              (std::vector<uint32_t>{kFirstCandidate, kSecondCandidate, kThirdCandidate}));
    EXPECT_EQ(daemon->CountInOutput("Host connection lost."), 0u);
}

TEST_F(HostLink, NoticesARestartedHostApplication) {
    StartConnected();
    const size_t at = ExpectDaemonOutput("Heartbeat ID", 10s);

    Control("RestartHost");
    ExpectDaemonOutput("Received Heartbeat with lower ID", 10s, at);
    EXPECT_EQ(ConnectAttempts().size(), 1u) << "a restart keeps the link";
}

TEST_F(HostLink, SurvivesMalformedTrafficFromTheMe) {
    StartConnected();
    size_t at = ExpectDaemonOutput("BMC to Host successfully connected.", 1s);

    // A Transfer Data request whose length field says 3 but carries 2 bytes,
    // one with an unknown command, and frames the host never sends.
    Control("InjectMeMessage", {"ay", "7", "1", "0", "0", "0", "3", "170", "187"});
    at = ExpectDaemonOutput("MCTP Request data length: 7.", 10s, at);
    Control("InjectMeMessage", {"ay", "6", "2", "0", "0", "0", "1", "170"});
    at = ExpectDaemonOutput("Not expected BMC-ME command: 2.", 10s, at);
    Control("InjectFrame", {"ay", "4", "0", "1", "2", "3"});
    at = ExpectDaemonOutput("Received heartbeat with invalid size 4.", 10s, at);
    Control("InjectFrame", {"ay", "3", "2", "0", "0"});
    at = ExpectDaemonOutput("Received Status Frame with invalid size 3.", 10s, at);

    // Still alive and still connected.
    ExpectDaemonOutput("Heartbeat ID", 10s, at);
    EXPECT_FALSE(daemon->WaitForExit(0ms));
}

TEST_F(HostLink, LostHeartbeatsTakeTheLinkDownAndTheNextCandidateIsTried) {
    StartHostSim({"--live-vmd", "0x05000000", "--live-vmd", "0x05005000"});
    StartDaemon();
    size_t at = ExpectDaemonOutput("BMC to Host successfully connected.", 20s);

    Control("StopHeartbeats");
    // More than 40 ticks of the one-second library timer without a
    // heartbeat, then the Disconnect and the next candidate.
    at = ExpectDaemonOutput("Heartbeat timeout occured - disconnect with ME.", 60s, at);
    at = ExpectDaemonOutput("Host connection lost.", 15s, at);
    Control("ResumeHeartbeats");
    at = ExpectDaemonOutput("Trying connect to VMD: 0x50 0x0 0x5", 15s, at);
    ExpectDaemonOutput("BMC to Host successfully connected.", 20s, at);
    EXPECT_EQ(ConnectAttempts(), (std::vector<uint32_t>{kFirstCandidate, kSecondCandidate}));
}

} // namespace
} // namespace vuno::testing
