#include "host_application.hpp"

#include "frames.h"
#include "utils.h"

#include <algorithm>
#include <string>

namespace vuno::hostsim {
namespace {

std::string Describe(ByteView frame) {
    if (frame.empty()) {
        return "empty frame";
    }
    switch (sp_frame_type(frame.data())) {
    case SP_FRAME_TYPE_CONTROL:
        return "control frame";
    case SP_FRAME_TYPE_DATA:
        if (frame.size() < SP_NEXT_HEADER_SIZE) {
            return "short Data Frame";
        }
        return "Data Frame [" + std::to_string(sp_frame_index(frame.data())) + "]";
    case SP_FRAME_TYPE_STATUS:
        return "Status Frame";
    default:
        return "frame of invalid type";
    }
}

} // namespace

HostApplication::HostApplication(Journal &journal, const Clock &clock, SendFrame sendFrame,
                                 HeartbeatSettings settings)
    : journal_(journal), clock_(clock), sendFrame_(std::move(sendFrame)), settings_(settings) {
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
}

void HostApplication::OnFrameFromBmc(ByteView frame) {
    journal_.Count(Counter::UnhandledFrames);
    journal_.Note("Host: " + Describe(frame) + " of " + std::to_string(frame.size()) +
                  " bytes from the BMC not handled");
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
    ScheduleHeartbeatNow();
}

void HostApplication::ScheduleHeartbeatNow() {
    if (linkUp_ && settings_.enabled) {
        nextHeartbeat_ = clock_.Now();
    }
}

void HostApplication::OnTime() {
    if (!nextHeartbeat_ || clock_.Now() < *nextHeartbeat_) {
        return;
    }
    SendHeartbeat();
    nextHeartbeat_ = clock_.Now() + settings_.period;
}

void HostApplication::SendHeartbeat() {
    Bytes frame(SP_HEARTBEAT_FRAME_SIZE);
    set_bits(&frame[0], SP_FRAME_TYPE_MASK, SP_FRAME_TYPE_CONTROL);
    set_bits(&frame[0], SP_CONTROL_TYPE_MASK, SP_CONTROL_TYPE_HEARTBEAT);
    put_le32(&frame[1], nextHeartbeatId_);
    if (sendFrame_(frame)) {
        journal_.Count(Counter::HeartbeatsSent);
        ++nextHeartbeatId_;
    }
}

} // namespace vuno::hostsim
