#include "simulator.hpp"

#include "inventory_file.hpp"
#include "malformed_frames.hpp"
#include "me_messages.hpp"
#include "storage_executor.hpp"

#include <algorithm>

namespace vuno::hostsim {

Simulator::Simulator(const Settings &settings, MctpService::Received received,
                     Journal::LineSink printLine)
    : journal_(std::move(printLine)),
      storage_(clock_, settings.inventory ? *settings.inventory : DefaultInventory(),
               settings.jobs),
      host_(
          journal_, clock_, [this](ByteView frame) { return me_.RelayFromHost(frame); },
          settings.heartbeats),
      me_(
          journal_, clock_, host_,
          [this](uint8_t instanceId, ByteView message) { ToBmc(instanceId, message); },
          settings.liveLocations),
      mctp_(journal_, me_, std::move(received)) {
    SetCommandHandler(std::make_unique<StorageExecutor>(storage_));
}

// The host learns here that the ME has read a frame from the mailbox, so
// that it can write the next one.
void Simulator::ToBmc(uint8_t instanceId, ByteView message) {
    mctp_.DeliverFromMe(instanceId, message);
    if (message.size() > kTransferDataHeaderSize && message[0] == me::kTransferData) {
        host_.OnFrameLeftMailbox(message.subspan(kTransferDataHeaderSize));
    }
}

std::map<std::string, uint64_t> Simulator::Counters() const {
    auto counters = journal_.Snapshot();
    host_.Counters().AddTo(counters);
    return counters;
}

void Simulator::SetCommandHandler(std::unique_ptr<CommandHandler> handler) {
    host_.Executor().SetHandler(std::move(handler));
}

bool Simulator::SendMalformedFrame(std::string_view kind) {
    const auto frames = MalformedFrames(kind);
    if (!frames) {
        return false;
    }
    for (const Bytes &frame : *frames) {
        if (!me_.InjectFrame(frame)) {
            return false;
        }
    }
    host_.Counters().Count(ExchangeCounter::MalformedFramesSent);
    journal_.Note("Host: malformed frame \"" + std::string(kind) + "\" sent");
    return true;
}

std::optional<Duration> Simulator::NextDeadline() const {
    std::optional<Duration> next;
    for (const auto due : {host_.NextDeadline(), me_.NextDeadline(), storage_.NextDeadline()}) {
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    return next;
}

void Simulator::Advance(Duration step) {
    const Duration target = clock_.Now() + step;
    for (auto due = NextDeadline(); due && *due <= target; due = NextDeadline()) {
        clock_.Set(std::max(clock_.Now(), *due));
        // The host first, so that a heartbeat due now goes out in this
        // same step.
        host_.OnTime();
        me_.OnTime();
        storage_.OnTime();
    }
    clock_.Set(target);
}

} // namespace vuno::hostsim
