// The reply type shared by every method of the storage interface. A map
// keeps keys in byte-wise ascending order, which is the order in which the
// entries must appear on the wire.
#pragma once

#include <sdbus-c++/Types.h>

#include <map>
#include <string>

namespace vuno::dbus {

using ResultDictionary = std::map<std::string, sdbus::Variant>;
// One element of a list inside a result ("Drives", "Volumes", ...).
using ItemDictionary = std::map<std::string, sdbus::Variant>;

} // namespace vuno::dbus
