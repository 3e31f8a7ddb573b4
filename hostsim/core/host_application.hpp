// The host's out-of-band application as far as the link is concerned: it
// sends heartbeats through the ME while the mailbox link is up, can be
// stopped, resumed and restarted, and receives the frames the BMC sends.
// Frames it sends go through `SendFrame`; frames from the BMC arrive in
// OnFrameFromBmc. Message exchange with the BMC (reassembly, Status Frames,
// responses) is not part of the application yet: such frames are counted
// as unhandled.
#pragma once

#include "bytes.hpp"
#include "clock.hpp"
#include "journal.hpp"
#include "management_engine.hpp"

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
    // Heartbeat IDs start again from kRestartHeartbeatId, and a stopped
    // application runs again.
    void Restart();

    uint32_t NextHeartbeatId() const { return nextHeartbeatId_; }

    std::optional<Duration> NextDeadline() const { return nextHeartbeat_; }
    void OnTime();

  private:
    void ScheduleHeartbeatNow();
    void SendHeartbeat();

    Journal &journal_;
    const Clock &clock_;
    SendFrame sendFrame_;
    HeartbeatSettings settings_;

    bool linkUp_ = false;
    uint32_t nextHeartbeatId_ = kFirstHeartbeatId;
    std::optional<Duration> nextHeartbeat_;
};

} // namespace vuno::hostsim
