#include "host_application.hpp"

#include "default_command_handler.hpp"
#include "wire.hpp"

#include <algorithm>

namespace vuno::hostsim {

HostApplication::HostApplication(Journal &journal, const Clock &clock, SendFrame sendFrame,
                                 HeartbeatSettings settings)
    : journal_(journal), clock_(clock), sendFrame_(std::move(sendFrame)), settings_(settings),
      protocol_(
          journal_, counters_, clock_, [this](ByteView frame) { return sendFrame_(frame); },
          [this](ByteView message) { executor_.OnRequest(message); }),
      executor_(
          journal_, counters_, [this](Bytes message) { return protocol_.Send(std::move(message)); },
          std::make_unique<DefaultCommandHandler>()) {
    // Time must move on between two heartbeats.
    settings_.period = std::max(settings_.period, Duration{1});
}

// The application notices the mailbox at once and announces itself, so
// the BMC does not wait a whole period for the first heartbeat.
void HostApplication::OnLinkUp() {
    linkUp_ = true;
    ScheduleHeartbeatNow();
}

void HostApplication::OnLinkDown() {
    linkUp_ = false;
    nextHeartbeat_.reset();
    protocol_.OnLinkDown();
}

void HostApplication::OnFrameFromBmc(ByteView frame) {
    protocol_.OnFrameFromBmc(frame);
    CountDownToRestart(frame);
}

void HostApplication::CountDownToRestart(ByteView frame) {
    if (restartCountdown_ == 0 || frame.empty() || sp::TypeOf(frame[0]) != sp::kDataFrame) {
        return;
    }
    if (--restartCountdown_ == 0) {
        Restart();
    }
}

void HostApplication::StopHeartbeats() {
    settings_.enabled = false;
    nextHeartbeat_.reset();
    journal_.Note("Host: heartbeats stopped");
}

void HostApplication::ResumeHeartbeats() {
    settings_.enabled = true;
    ScheduleHeartbeatNow();
    journal_.Note("Host: heartbeats resumed");
}

void HostApplication::Restart() {
    journal_.Count(Counter::HostRestarts);
    journal_.Note("Host: application restarted");
    nextHeartbeatId_ = kRestartHeartbeatId;
    settings_.enabled = true;
    protocol_.Reset();
    executor_.Restart();
    ScheduleHeartbeatNow();
}

void HostApplication::ScheduleHeartbeatNow() {
    if (linkUp_ && settings_.enabled) {
        nextHeartbeat_ = clock_.Now();
    }
}

std::optional<Duration> HostApplication::NextDeadline() const {
    const auto protocol = protocol_.NextDeadline();
    if (nextHeartbeat_ && protocol) {
        return std::min(*nextHeartbeat_, *protocol);
    }
    return nextHeartbeat_ ? nextHeartbeat_ : protocol;
}

void HostApplication::OnTime() {
    protocol_.OnTime();
    if (!nextHeartbeat_ || clock_.Now() < *nextHeartbeat_) {
        return;
    }
    SendHeartbeat();
    nextHeartbeat_ = clock_.Now() + settings_.period;
}

void HostApplication::SendHeartbeat() {
    if (sendFrame_(sp::HeartbeatFrame(nextHeartbeatId_))) {
        journal_.Count(Counter::HeartbeatsSent);
        ++nextHeartbeatId_;
    }
}

} // namespace vuno::hostsim
