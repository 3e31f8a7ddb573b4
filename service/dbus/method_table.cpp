#include "method_table.hpp"

#include "request_builders.hpp"
#include "result_conversion.hpp"

#include <sdbus-c++/TypeTraits.h>

#include <tuple>
#include <type_traits>
#include <utility>

namespace vuno::dbus {

namespace {

// A builder's parameters are the method's arguments, in order, so they also
// give its signature.
template <typename Builder> struct BuilderTraits;
template <typename Record, typename... Parameters> struct BuilderTraits<Record (*)(Parameters...)> {
    using Arguments = std::tuple<std::decay_t<Parameters>...>;

    static std::string Signature() {
        return (std::string() + ... + sdbus::signature_of<std::decay_t<Parameters>>::str());
    }
};

template <typename Record> const Record *RecordPointer(const Record &record) {
    return &record;
}

template <typename Record> const Record *RecordPointer(const HeapRecord<Record> &record) {
    return record.get();
}

template <auto Build, auto Operation, auto Convert>
int Issue(sdbus::MethodCall &call, vuno_instance *instance, CompletionContext &context) {
    typename BuilderTraits<decltype(Build)>::Arguments arguments;
    std::apply([&call](auto &...argument) { (static_cast<void>(call >> argument), ...); },
               arguments);
    // Released as soon as the operation returns: the library copies what it
    // keeps.
    [[maybe_unused]] const auto record = std::apply(Build, arguments);
    constexpr vuno_completion_callback callback = &OnRequestCompleted<Convert>;
    if constexpr (std::is_same_v<std::decay_t<decltype(record)>, NoRecord>) {
        return Operation(instance, callback, &context);
    } else {
        return Operation(instance, RecordPointer(record), callback, &context);
    }
}

template <auto Build, auto Operation, auto Convert>
StorageMethod Method(const char *name, std::vector<std::string> inputNames) {
    return {name, BuilderTraits<decltype(Build)>::Signature(), std::move(inputNames),
            &Issue<Build, Operation, Convert>};
}

// Argument names that several methods share.
const std::vector<std::string> kScope{"scopeType", "scopeIdentifier"};
const std::vector<std::string> kDrive{"driveIdentifier"};
const std::vector<std::string> kVolume{"volumeIdentifier"};

} // namespace

const std::vector<StorageMethod> &StorageMethods() {
    // clang-format off
    static const std::vector<StorageMethod> methods{
        Method<BuildScope, vuno_get_drive_identifiers, ConvertIdentifierList>("GetDriveIdentifiers", kScope),
        Method<BuildScope, vuno_get_drive_information, ConvertDriveList>("GetDriveInformation", kScope),
        Method<BuildScope, vuno_get_volume_identifiers, ConvertIdentifierList>("GetVolumeIdentifiers", kScope),
        Method<BuildScope, vuno_get_volume_information, ConvertVolumeList>("GetVolumeInformation", kScope),
        Method<BuildIdentifier, vuno_get_volume_migration_capabilities, ConvertMigrationCapabilities>("GetVolumeMigrationCapabilities", {"volumeIdentifier"}),
        Method<BuildScope, vuno_get_array_identifiers, ConvertIdentifierList>("GetArrayIdentifiers", kScope),
        Method<BuildScope, vuno_get_array_information, ConvertArrayList>("GetArrayInformation", kScope),
        Method<BuildScope, vuno_get_controller_identifiers, ConvertIdentifierList>("GetControllerIdentifiers", kScope),
        Method<BuildScope, vuno_get_controller_information, ConvertControllerList>("GetControllerInformation", kScope),
        Method<BuildIdentifier, vuno_get_controller_raid_capabilities, ConvertRaidCapabilities>("GetControllerRaidCapabilities", {"controllerIdentifier"}),
        Method<BuildNoRecord, vuno_get_firmware_slot_information, ConvertFirmwareSlots>("GetFirmwareSlotInformation", {}),
        Method<BuildSendFirmwareToSlot, vuno_send_firmware_to_slot, ConvertNothing>("SendFirmwareToSlot", {"slot", "revision", "imagePath"}),
        Method<BuildUpdateDriveFirmware, vuno_update_drive_firmware, ConvertNothing>("UpdateDriveFirmware", {"slot", "driveIdentifier", "updateAction"}),
        Method<BuildNoRecord, vuno_get_executor_information, ConvertExecutorInformation>("GetExecutorInformation", {}),
        Method<BuildIdentifier, vuno_clear_drive_metadata, ConvertNothing>("ClearDriveMetadata", kDrive),
        Method<BuildIdentifier, vuno_mark_drive_as_spare, ConvertNothing>("MarkDriveAsSpare", kDrive),
        Method<BuildIdentifier, vuno_unmark_spare_drive, ConvertNothing>("UnmarkSpareDrive", kDrive),
        Method<BuildIdentifier, vuno_mark_drive_as_normal, ConvertNothing>("MarkDriveAsNormal", kDrive),
        Method<BuildIdentifierFlag, vuno_set_volatile_write_cache_on_drive, ConvertNothing>("SetVolatileWriteCacheOnDrive", {"driveIdentifier", "enable"}),
        Method<BuildIdentifier, vuno_reset_smart_event_on_drive, ConvertNothing>("ResetSmartEventOnDrive", kDrive),
        Method<BuildIdentifier, vuno_activate_drive_led, ConvertNothing>("ActivateDriveLed", kDrive),
        Method<BuildIdentifier, vuno_remove_drive, ConvertNothing>("RemoveDrive", kDrive),
        Method<BuildCreateVolume, vuno_create_volume, ConvertNewVolumeIdentifier>("CreateVolume", {"name", "stripSizeKiB", "raidLevel", "size", "existingDataDriveIdentifier", "useExistingDataDrive", "raidWriteHolePolicy", "journalingDriveIdentifier", "memberDriveIdentifiers"}),
        Method<BuildIdentifierList, vuno_rebuild_volume, ConvertNothing>("RebuildVolume", {"volumeIdentifier", "driveIdentifiers"}),
        Method<BuildExpandVolume, vuno_expand_volume, ConvertNothing>("ExpandVolume", {"volumeIdentifier", "newSize"}),
        Method<BuildChangeRaidLevel, vuno_change_raid_level, ConvertNothing>("ChangeRaidLevel", {"volumeIdentifier", "stripSizeKiB", "raidLevel", "driveIdentifiers"}),
        Method<BuildRenameVolume, vuno_rename_volume, ConvertNothing>("RenameVolume", {"volumeIdentifier", "name"}),
        Method<BuildIdentifier, vuno_mark_volume_as_normal, ConvertNothing>("MarkVolumeAsNormal", kVolume),
        Method<BuildIdentifierFlag, vuno_verify_volume, ConvertNothing>("VerifyVolume", {"volumeIdentifier", "repair"}),
        Method<BuildIdentifier, vuno_cancel_volume_verification, ConvertNothing>("CancelVolumeVerification", kVolume),
        Method<BuildIdentifier, vuno_initialize_volume, ConvertNothing>("InitializeVolume", kVolume),
        Method<BuildVolumeCachePolicy, vuno_set_volume_cache_policy, ConvertNothing>("SetVolumeCachePolicy", {"volumeIdentifier", "cachePolicy"}),
        Method<BuildRaidWriteHolePolicy, vuno_set_raid_write_hole_policy, ConvertNothing>("SetRAIDWriteHolePolicy", {"volumeIdentifier", "raidWriteHolePolicy", "journalingDriveIdentifier"}),
        Method<BuildIdentifier, vuno_delete_volume, ConvertNothing>("DeleteVolume", kVolume),
        Method<BuildIdentifierList, vuno_add_drives_to_array, ConvertNothing>("AddDrivesToArray", {"arrayIdentifier", "driveIdentifiers"}),
        Method<BuildIdentifierFlag, vuno_set_volatile_write_cache_on_array, ConvertNothing>("SetVolatileWriteCacheOnArray", {"arrayIdentifier", "enable"}),
        Method<BuildIdentifierFlag, vuno_set_rohi_policy, ConvertNothing>("SetROHIPolicy", {"controllerIdentifier", "enable"}),
        Method<BuildIdentifierFlag, vuno_set_read_patrol_policy, ConvertNothing>("SetReadPatrolPolicy", {"controllerIdentifier", "enable"}),
        Method<BuildEventSubscription, vuno_create_event_subscription, ConvertSubscription>("CreateEventSubscription", {"scopeType", "scopeIdentifier", "expectedEventTypes"}),
        Method<BuildIdentifier, vuno_cancel_event_subscription, ConvertNothing>("CancelEventSubscription", {"subscriptionIdentifier"}),
        Method<BuildGetEvents, vuno_get_events, ConvertEventList>("GetEvents", {"subscriptionIdentifier", "limit"}),
    };
    // clang-format on
    return methods;
}

} // namespace vuno::dbus
