// The storage-management interface's method table.
#pragma once

#include "bus_loop.hpp"
#include "vuno.h"

#include <sdbus-c++/IObject.h>

#include <memory>

namespace vuno::dbus {

inline constexpr char kStorageInterface[] = "xyz.openbmc_project.vuno.pelk";

// Registers the storage methods of kStorageInterface on `iface`, whose
// calls go to `instance`, and makes the interface live. The calls in
// progress belong to the loop's io_context; StopMethodCalls (method_call.hpp)
// ends them before the library goes.
void RegisterMethods(sdbus::IObject &iface, const std::shared_ptr<BusLoop> &conn,
                     vuno_instance *instance);

} // namespace vuno::dbus
