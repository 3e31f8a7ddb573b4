#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"
#include "ssi.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vuno::testing {
namespace {

using Statuses = std::vector<uint32_t>;
using Outcomes = std::vector<std::pair<uint32_t, uint32_t>>;

void record(uint32_t status, void *statuses) {
    static_cast<Statuses *>(statuses)->push_back(status);
}

void onSsiDone(uint32_t status, uint32_t ssiStatus, const void *, void *outcomes) {
    static_cast<Outcomes *>(outcomes)->emplace_back(status, ssiStatus);
}

class Link : public ::testing::Test {
  protected:
    void SetUp() override { platform.createInstance(); }

    sp_context &context() { return *platform.instance->sp_ctx; }

    int connect() {
        return vuno_connect_to_host(platform.instance, 0x00035B00, record, &connected, record,
                                    &lost);
    }

    void bringUp(uint32_t heartbeatId = 1) {
        ASSERT_EQ(connect(), VUNO_STATUS_COMMAND_PENDING);
        respondFromMe(platform.instance, {0x02, 0x00});
        host.heartbeat(heartbeatId);
        ASSERT_EQ(connected, Statuses{VUNO_STATUS_SUCCESS});
    }

    size_t disconnectsSent() const {
        size_t count = 0;
        for (const auto &message : platform.sent) {
            count += message.request && message.data == std::vector<uint8_t>{0x03};
        }
        return count;
    }

    // An SSI request whose Data Frame is with the ME.
    void requestInTransfer(Outcomes &outcomes) {
        ssi_request *request = nullptr;
        ASSERT_EQ(ssi_prepare_request(platform.instance, &request, 12, 0, onSsiDone, &outcomes),
                  VUNO_STATUS_SUCCESS);
        ASSERT_EQ(ssi_send_request(platform.instance, request), VUNO_STATUS_COMMAND_PENDING);
        vuno_process_requests(platform.instance);
        ASSERT_EQ(context().current->state, SP_MESSAGE_STATE_IN_TRANSFER);
    }

    FakePlatform platform;
    HostLink host{platform};
    Statuses connected, lost;
};

TEST_F(Link, ConnectResultDecidesTheLinkState) {
    const struct {
        uint8_t meStatus;
        uint32_t state;
        Statuses connected;
    } cases[] = {
        {1, SP_LINK_DISCONNECTED, {VUNO_STATUS_HOST_CONNECTION_FAILED}},
        {8, SP_LINK_DISCONNECTED, {VUNO_STATUS_BUSY}},
        {0, SP_LINK_WAITING_FOR_HEARTBEAT, {}},
        {4, SP_LINK_WAITING_FOR_HEARTBEAT, {}}, // already connected
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.meStatus));
        connected.clear();
        context().link_state = SP_LINK_CONNECTED;
        ASSERT_EQ(connect(), VUNO_STATUS_COMMAND_PENDING);
        respondFromMe(platform.instance, {0x02, c.meStatus});
        EXPECT_EQ(context().link_state, c.state);
        EXPECT_EQ(connected, c.connected);
    }
    // Connected again after "already connected", on the next heartbeat.
    host.heartbeat(1);
    EXPECT_EQ(connected, Statuses{VUNO_STATUS_SUCCESS});
}

TEST_F(Link, EqualOrHigherHeartbeatIdsKeepTheLinkAlive) {
    bringUp(5);
    for (uint32_t id : {5u, 6u}) {
        platform.tick(40);
        host.heartbeat(id);
    }
    platform.tick(40);
    EXPECT_EQ(disconnectsSent(), 0u);
    EXPECT_FALSE(platform.loggedError("Received Heartbeat with lower ID"));
    EXPECT_TRUE(platform.logged("Heartbeat ID 6 received, previous 5."));
    EXPECT_EQ(connected.size(), 1u);
}

TEST_F(Link, LowerHeartbeatIdMeansTheHostRestarted) {
    bringUp(7);
    Outcomes outcomes;
    requestInTransfer(outcomes);

    host.heartbeat(3);
    EXPECT_TRUE(platform.loggedError("Received Heartbeat with lower ID"));
    EXPECT_EQ(outcomes, (Outcomes{{VUNO_STATUS_HOST_RESET, VUNO_SSI_STATUS_NO_RESPONSE}}));
    EXPECT_EQ(context().current->state, SP_MESSAGE_STATE_FAILED);
    EXPECT_EQ(context().current->result, VUNO_STATUS_TIMEOUT);
    EXPECT_EQ(context().link_state, SP_LINK_CONNECTED);

    // The request hears of it only once; 3 is the reference from now on.
    vuno_process_requests(platform.instance);
    EXPECT_EQ(outcomes.size(), 1u);
    platform.clearLogs();
    host.heartbeat(4);
    EXPECT_FALSE(platform.loggedError("Received Heartbeat with lower ID"));
}

TEST_F(Link, NoFirstHeartbeatFailsTheConnectionOnTick41) {
    ASSERT_EQ(connect(), VUNO_STATUS_COMMAND_PENDING);
    respondFromMe(platform.instance, {0x02, 0x00});
    platform.tick(40);
    EXPECT_EQ(disconnectsSent(), 0u);
    platform.tick();
    EXPECT_TRUE(platform.loggedError("Heartbeat timeout occured - disconnect with ME."));
    ASSERT_EQ(disconnectsSent(), 1u);

    respondFromMe(platform.instance, {0x03, 0x03});
    EXPECT_EQ(connected, Statuses{VUNO_STATUS_HOST_CONNECTION_FAILED});
    EXPECT_TRUE(lost.empty());
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
    platform.tick(50);
    EXPECT_EQ(disconnectsSent(), 1u);
}

TEST_F(Link, SilentHostTakesTheLinkDownAndEndsItsRequests) {
    bringUp();
    Outcomes outcomes;
    requestInTransfer(outcomes);
    platform.tick(41);
    ASSERT_EQ(disconnectsSent(), 1u);

    // "Not connected" from the ME is as good as a disconnection.
    respondFromMe(platform.instance, {0x03, 0x02});
    EXPECT_EQ(lost, Statuses{VUNO_STATUS_HOST_NOT_CONNECTED});
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
    EXPECT_EQ(outcomes, (Outcomes{{VUNO_STATUS_HOST_NOT_CONNECTED, VUNO_SSI_STATUS_NO_RESPONSE}}));

    host.heartbeat(2);
    EXPECT_TRUE(
        platform.loggedError("Heartbeat received but connection with host is not established"));
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
    EXPECT_EQ(context().last_heartbeat_id, 1u);
}

TEST_F(Link, DisconnectRepeatsEveryTickUntilTheMeAgrees) {
    bringUp();
    platform.tick(41);
    respondFromMe(platform.instance, {0x03, 0x08}); // ME busy
    EXPECT_TRUE(platform.loggedError("Cannot disconnect from ME."));
    EXPECT_EQ(context().link_state, SP_LINK_CONNECTED);
    platform.tick();
    EXPECT_EQ(disconnectsSent(), 2u);

    // Unanswered, the attempt keeps the BMC-ME layer busy until its
    // time-out, which frees it within the same tick for the next attempt.
    platform.tick(5);
    EXPECT_EQ(disconnectsSent(), 2u);
    platform.tick();
    EXPECT_EQ(disconnectsSent(), 3u);
    EXPECT_TRUE(lost.empty());
    respondFromMe(platform.instance, {0x03, 0x03});
    EXPECT_EQ(lost, Statuses{VUNO_STATUS_HOST_NOT_CONNECTED});
}

TEST_F(Link, UnansweredConnectFailsWithTimeout) {
    ASSERT_EQ(connect(), VUNO_STATUS_COMMAND_PENDING);
    platform.tick(5);
    EXPECT_TRUE(connected.empty());
    platform.tick();
    EXPECT_EQ(connected, Statuses{VUNO_STATUS_TIMEOUT});
    EXPECT_EQ(context().link_state, SP_LINK_DISCONNECTED);
}

TEST_F(Link, TeardownReleasesEveryQueuedMessage) {
    bringUp();
    Outcomes outcomes;
    requestInTransfer(outcomes);
    const auto payload = patterned(40);
    ASSERT_EQ(sp_send_message(
                  platform.instance, 1, payload.data(), 40,
                  [](vuno_instance *, uint32_t, void *) {}, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    host.sendFrame({0x01, 0x00, 0x00}); // answered with a queued Status Frame
    host.sendFrame(messageFrames(patterned(1500))[0]);
    platform.destroyInstance(); // the sanitizer build reports what is left
    EXPECT_TRUE(outcomes.empty());
}

} // namespace
} // namespace vuno::testing
