#include "simulator.hpp"

#include <algorithm>

namespace vuno::hostsim {

Simulator::Simulator(const Settings &settings, MctpService::Received received,
                     Journal::LineSink printLine)
    : journal_(std::move(printLine)),
      host_(
          journal_, clock_, [this](ByteView frame) { return me_.RelayFromHost(frame); },
          settings.heartbeats),
      me_(
          journal_, clock_, host_,
          [this](uint8_t instanceId, ByteView message) {
              mctp_.DeliverFromMe(instanceId, message);
          },
          settings.liveLocations),
      mctp_(journal_, me_, std::move(received)) {}

std::optional<Duration> Simulator::NextDeadline() const {
    const auto host = host_.NextDeadline();
    const auto me = me_.NextDeadline();
    if (host && me) {
        return std::min(*host, *me);
    }
    return host ? host : me;
}

void Simulator::Advance(Duration step) {
    const Duration target = clock_.Now() + step;
    for (auto due = NextDeadline(); due && *due <= target; due = NextDeadline()) {
        clock_.Set(std::max(clock_.Now(), *due));
        // The host first, so that a heartbeat due now goes out in this
        // same step.
        host_.OnTime();
        me_.OnTime();
    }
    clock_.Set(target);
}

} // namespace vuno::hostsim
