// The daemon's presence on the bus: its well-known name, the object manager
// and the object /xyz/openbmc_project/Vuno with its two interfaces.
#pragma once

#include "bus_loop.hpp"
#include "vuno.h"

#include <sdbus-c++/IObject.h>

#include <map>
#include <memory>
#include <string>

namespace vuno::dbus {

inline constexpr char kServiceName[] = "xyz.openbmc_project.Vuno";
inline constexpr char kObjectPath[] = "/xyz/openbmc_project/Vuno";
inline constexpr char kVersionInterface[] = "xyz.openbmc_project.vuno";

// Claims kServiceName without replacement or queueing. On refusal it writes
// the failing call and its error number to standard error and returns false.
bool RequestWellKnownName(sdbus::IConnection &connection);

// The published interfaces, each registered on its own object at
// kObjectPath; they stay on the bus as long as this lives.
struct VunoObject {
    std::unique_ptr<sdbus::IObject> storage;
    std::unique_ptr<sdbus::IObject> version;
};

// Installs the object manager at "/" and publishes both interfaces.
VunoObject PublishVunoObject(const std::shared_ptr<BusLoop> &conn, vuno_instance *instance);

// The value of property Version: the library's and the daemon's versions.
std::map<std::string, std::string> VersionDictionary();

} // namespace vuno::dbus
