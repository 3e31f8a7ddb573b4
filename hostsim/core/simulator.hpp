// The whole simulated platform behind the BMC: MCTP service, ME, host
// application and the host's storage, wired together and driven by
// explicit time steps.
#pragma once

#include "bytes.hpp"
#include "clock.hpp"
#include "command_handler.hpp"
#include "host_application.hpp"
#include "journal.hpp"
#include "management_engine.hpp"
#include "mctp_service.hpp"
#include "raid_model.hpp"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vuno::hostsim {

struct Settings {
    std::set<uint32_t> liveLocations{kDefaultLiveLocation};
    HeartbeatSettings heartbeats;
    // The host's storage; the default inventory when none is given.
    std::optional<Inventory> inventory;
    JobDurations jobs;
};

class Simulator {
  public:
    Simulator(const Settings &settings, MctpService::Received received,
              Journal::LineSink printLine);
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    MctpService &Mctp() { return mctp_; }
    ManagementEngine &Me() { return me_; }
    HostApplication &Host() { return host_; }
    const Journal &Records() const { return journal_; }
    // The host's storage, which the executor's storage commands act on.
    RaidModel &Storage() { return storage_; }
    // The journal's counters and the host's exchange counters by name.
    std::map<std::string, uint64_t> Counters() const;

    // Replaces the executor's command handler, at first the one that
    // carries out the storage commands on Storage().
    void SetCommandHandler(std::unique_ptr<CommandHandler> handler);
    // Sends the frames of a named malformed kind to the BMC, whatever the
    // link state; false for an unknown kind or when the ME refused them.
    bool SendMalformedFrame(std::string_view kind);

    // Moves time forward, running everything that falls due on the way in
    // order; Advance(0) runs what is due now.
    void Advance(Duration step);
    Duration Now() const { return clock_.Now(); }

  private:
    std::optional<Duration> NextDeadline() const;
    void ToBmc(uint8_t instanceId, ByteView message);

    Journal journal_;
    Clock clock_;
    RaidModel storage_;
    HostApplication host_;
    ManagementEngine me_;
    MctpService mctp_;
};

} // namespace vuno::hostsim
