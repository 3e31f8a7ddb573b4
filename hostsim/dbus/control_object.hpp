// The simulator's own control interface, for tests and demonstrations:
// fault injection on the host, its message exchange and the ME, the host's
// storage (its inventory, drive failures, events), and a read-out of what
// happened.
#pragma once

#include "simulator.hpp"

#include <sdbus-c++/IObject.h>

namespace vuno::hostsim::dbus {

constexpr const char *kControlServiceName = "xyz.openbmc_project.VunoHostSim";
constexpr const char *kControlObjectPath = "/xyz/openbmc_project/VunoHostSim";
constexpr const char *kControlInterface = "xyz.openbmc_project.VunoHostSim.Control";
constexpr const char *kInvalidArgumentError =
    "xyz.openbmc_project.VunoHostSim.Error.InvalidArgument";

// Before the object's registration is finished.
void RegisterControl(sdbus::IObject &object, Simulator &simulator);

} // namespace vuno::hostsim::dbus
