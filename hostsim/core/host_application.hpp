// The host's out-of-band application: it sends heartbeats through the ME
// while the mailbox link is up, exchanges messages with the BMC through its
// side of the Service Protocol, and runs the SSI executor on the requests
// that arrive. It can be stopped, resumed and restarted. Frames it sends go
// through `SendFrame`; frames from the BMC arrive in OnFrameFromBmc.
#pragma once

#include "bytes.hpp"
#include "clock.hpp"
#include "exchange_counters.hpp"
#include "journal.hpp"
#include "management_engine.hpp"
#include "service_protocol_host.hpp"
#include "ssi_executor.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace vuno::hostsim {

constexpr Duration kDefaultHeartbeatPeriod{2000};
constexpr uint32_t kFirstHeartbeatId = 1;
// A restarted application counts from here, below any ID it sent before.
constexpr uint32_t kRestartHeartbeatId = 0;

struct HeartbeatSettings {
    Duration period = kDefaultHeartbeatPeriod;
    bool enabled = true;
};

class HostApplication : public MailboxPeer {
  public:
    // Writes a frame to the mailbox; false when it could not be sent.
    using SendFrame = std::function<bool(ByteView frame)>;

    HostApplication(Journal &journal, const Clock &clock, SendFrame sendFrame,
                    HeartbeatSettings settings);

    void OnLinkUp() override;
    void OnLinkDown() override;
    void OnFrameFromBmc(ByteView frame) override;

    void StopHeartbeats();
    void ResumeHeartbeats();
    // Heartbeat IDs start again from kRestartHeartbeatId, a stopped
    // application runs again, and the messages being received and sent
    // are lost with the answers the executor still owed.
    void Restart();
    // Restarts once `count` more Data Frames have come from the BMC, to
    // catch a message half way; 0 cancels.
    void RestartAfterDataFrames(uint32_t count) { restartCountdown_ = count; }

    // The ME has read `frame` from the mailbox.
    void OnFrameLeftMailbox(ByteView frame) { protocol_.OnFrameLeftMailbox(frame); }

    uint32_t NextHeartbeatId() const { return nextHeartbeatId_; }
    ServiceProtocolHost &Protocol() { return protocol_; }
    SsiExecutor &Executor() { return executor_; }
    ExchangeCounters &Counters() { return counters_; }
    const ExchangeCounters &Counters() const { return counters_; }

    std::optional<Duration> NextDeadline() const;
    void OnTime();

  private:
    void ScheduleHeartbeatNow();
    void SendHeartbeat();
    void CountDownToRestart(ByteView frame);

    Journal &journal_;
    const Clock &clock_;
    SendFrame sendFrame_;
    HeartbeatSettings settings_;

    bool linkUp_ = false;
    uint32_t nextHeartbeatId_ = kFirstHeartbeatId;
    std::optional<Duration> nextHeartbeat_;
    uint32_t restartCountdown_ = 0;

    ExchangeCounters counters_;
    ServiceProtocolHost protocol_;
    SsiExecutor executor_;
};

} // namespace vuno::hostsim
