// The MCTP service's face on the bus: method `sendMessage` and signal
// `mctpMessageReceived`, as the BMC's daemons call and watch them.
#pragma once

#include "simulator.hpp"

#include <sdbus-c++/IObject.h>

#include <functional>

namespace vuno::hostsim::dbus {

constexpr const char *kMctpServiceName = "xyz.openbmc_project.MCTP";
constexpr const char *kMctpObjectPath = "/xyz/openbmc_project/MCTP";
constexpr const char *kMctpInterface = "xyz.openbmc_project.mctp";

// Before the object's registration is finished. `afterExchange` runs after
// every `sendMessage` call has been answered, which may be later than the
// call when the ME holds its answer back.
void RegisterMctpService(sdbus::IObject &object, Simulator &simulator,
                         std::function<void()> afterExchange);

void EmitMctpMessageReceived(sdbus::IObject &object, const Bytes &message);

} // namespace vuno::hostsim::dbus
