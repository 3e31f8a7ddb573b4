// Turns the record of a successful response into the method's result
// dictionary. Each converter is a pure function of its record apart from
// the lines it writes to standard output for enumeration values it does not
// know; such a value is shown as an empty string (or the neutral number of
// its key) and the rest of the result is still produced. The record is
// only read during the call. A null record gives the VunoInternalError
// dictionary. Memory exhaustion surfaces as std::bad_alloc, which a caller
// running inside a library callback must not let escape into the library.
#pragma once

#include "result_dictionary.hpp"

#include <vuno.h>

namespace vuno::dbus {

// GetDriveIdentifiers, GetVolumeIdentifiers, GetArrayIdentifiers and
// GetControllerIdentifiers.
ResultDictionary ConvertIdentifierList(const vuno_identifier_list_record *record);
ResultDictionary ConvertDriveList(const vuno_drive_information_list *record);

ResultDictionary ConvertVolumeList(const vuno_volume_information_list *record);
ResultDictionary ConvertMigrationCapabilities(const vuno_migration_capability_list *record);
ResultDictionary ConvertArrayList(const vuno_array_information_list *record);
ResultDictionary ConvertNewVolumeIdentifier(const vuno_volume_identifier *record);

ResultDictionary ConvertControllerList(const vuno_controller_information_list *record);
ResultDictionary ConvertRaidCapabilities(const vuno_raid_capability_list *record);
ResultDictionary ConvertFirmwareSlots(const vuno_firmware_slot_list *record);
ResultDictionary ConvertExecutorInformation(const vuno_executor_information *record);

ResultDictionary ConvertSubscription(const vuno_subscription *record);
ResultDictionary ConvertEventList(const vuno_event_list *record);

} // namespace vuno::dbus
