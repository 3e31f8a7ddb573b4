// A host event as one entry of the BMC's event log: plain words for people,
// a priority by severity, and the message ID and arguments that the BMC's
// Redfish event log shows.
#pragma once

#include "host_storage.hpp"
#include "journal.hpp"

#include <string>

namespace vuno::inventory {

// `type` is the event's name as the storage interface shows it ("Drive
// failed"), `object` the identifier of the drive or volume it names;
// `storage` holds what was known before the event.
JournalEntry DescribeEvent(const std::string &type, const std::string &object,
                           const HostStorage &storage);

} // namespace vuno::inventory
