#include "request_builders.hpp"

#include "argument_parsing.hpp"
#include "firmware_image.hpp"

#include <algorithm>
#include <span>

namespace vuno::dbus {

namespace {

void CopyIdentifier(const Identifier &from, uint8_t (&to)[VUNO_IDENTIFIER_SIZE]) {
    std::copy(from.begin(), from.end(), to);
}

template <size_t Width>
void CopyText(const std::array<uint8_t, Width> &from, uint8_t (&to)[Width]) {
    std::copy(from.begin(), from.end(), to);
}

void CopyIdentifiers(const std::vector<Identifier> &from, uint8_t (*to)[VUNO_IDENTIFIER_SIZE]) {
    for (size_t i = 0; i < from.size(); ++i) {
        CopyIdentifier(from[i], to[i]);
    }
}

// The list parsers refuse an over-long list before they look at any entry,
// so calling them early reports the count ahead of the other arguments.
void CheckDriveCount(std::span<const std::string> drives) {
    if (drives.size() > kMaxDriveIdentifiers) {
        static_cast<void>(ParseDriveIdentifiers(drives));
    }
}

void CheckEventTypeCount(std::span<const std::string> eventTypes) {
    if (eventTypes.size() > kMaxEventTypes) {
        static_cast<void>(ParseEventTypes(eventTypes));
    }
}

// The list travels as an array of identifiers behind the record's fixed
// fields.
size_t ListBytes(const std::vector<Identifier> &identifiers) {
    return identifiers.size() * VUNO_IDENTIFIER_SIZE;
}

} // namespace

NoRecord BuildNoRecord() {
    return {};
}

vuno_scope BuildScope(const std::string &type, const std::string &identifier) {
    const Scope scope = ParseScope(type, identifier);
    vuno_scope record{};
    record.type = scope.type;
    CopyIdentifier(scope.identifier, record.identifier);
    return record;
}

vuno_identifier BuildIdentifier(const std::string &identifier) {
    vuno_identifier record{};
    CopyIdentifier(ParseIdentifier(identifier), record.identifier);
    return record;
}

vuno_identifier_flag BuildIdentifierFlag(const std::string &identifier, bool enable) {
    vuno_identifier_flag record{};
    CopyIdentifier(ParseIdentifier(identifier), record.identifier);
    record.flag = enable ? 1 : 0;
    return record;
}

HeapRecord<vuno_identifier_list> BuildIdentifierList(const std::string &target,
                                                     const std::vector<std::string> &drives) {
    CheckDriveCount(drives);
    const Identifier targetIdentifier = ParseIdentifier(target);
    const std::vector<Identifier> driveIdentifiers = ParseDriveIdentifiers(drives);

    auto record = AllocateRecord<vuno_identifier_list>(ListBytes(driveIdentifiers));
    CopyIdentifier(targetIdentifier, record->identifier);
    record->count = static_cast<uint16_t>(driveIdentifiers.size());
    CopyIdentifiers(driveIdentifiers, record->drives);
    return record;
}

HeapRecord<vuno_send_firmware_to_slot_args>
BuildSendFirmwareToSlot(uint16_t slot, const std::string &revision, const std::string &imagePath) {
    FirmwareImageFile image(imagePath);
    auto record = AllocateRecord<vuno_send_firmware_to_slot_args>(image.Size());
    record->slot = slot;
    record->image_length = image.Size();
    CopyText(ParseRevisionText(revision), record->revision);
    image.ReadInto(std::span<uint8_t>(record->image, image.Size()));
    return record;
}

vuno_update_drive_firmware_args BuildUpdateDriveFirmware(uint16_t slot, const std::string &drive,
                                                         const std::string &action) {
    vuno_update_drive_firmware_args record{};
    record.slot = slot;
    CopyIdentifier(ParseIdentifier(drive), record.drive);
    record.action = ParseFirmwareUpdateAction(action);
    return record;
}

HeapRecord<vuno_create_volume_args>
BuildCreateVolume(const std::string &name, uint32_t stripSizeKib, const std::string &raidLevel,
                  uint64_t size, const std::string &existingDataDrive, bool useExistingDataDrive,
                  const std::string &writeHolePolicy, const std::string &journalingDrive,
                  const std::vector<std::string> &drives) {
    const std::vector<Identifier> members = ParseDriveIdentifiers(drives);
    const VolumeName volumeName = ParseVolumeName(name);
    const uint16_t stripSize = ParseStripSize(stripSizeKib);
    const uint32_t level = ParseRaidLevel(raidLevel);
    const uint32_t policy = ParseRaidWriteHolePolicy(writeHolePolicy);
    const Identifier journal = ParseJournalingDriveIdentifier(journalingDrive);
    const ExistingDataDrive existing =
        ParseExistingDataDrive(useExistingDataDrive, existingDataDrive);

    auto record = AllocateRecord<vuno_create_volume_args>(ListBytes(members));
    record->count = static_cast<uint16_t>(members.size());
    CopyText(volumeName, record->name);
    record->strip_size = stripSize;
    record->raid_level = level;
    record->size = size;
    record->existing_data = existing.flag;
    record->write_hole_policy = policy;
    CopyIdentifier(existing.identifier, record->existing_data_drive);
    CopyIdentifier(journal, record->journaling_drive);
    CopyIdentifiers(members, record->drives);
    return record;
}

vuno_expand_volume_args BuildExpandVolume(const std::string &volume, uint64_t size) {
    vuno_expand_volume_args record{};
    CopyIdentifier(ParseIdentifier(volume), record.volume);
    record.size = size;
    return record;
}

HeapRecord<vuno_change_raid_level_args>
BuildChangeRaidLevel(const std::string &volume, uint32_t stripSizeKib, const std::string &raidLevel,
                     const std::vector<std::string> &drives) {
    CheckDriveCount(drives);
    const Identifier volumeIdentifier = ParseIdentifier(volume);
    const uint16_t stripSize = ParseStripSize(stripSizeKib);
    const uint32_t level = ParseRaidLevel(raidLevel);
    const std::vector<Identifier> driveIdentifiers = ParseDriveIdentifiers(drives);

    auto record = AllocateRecord<vuno_change_raid_level_args>(ListBytes(driveIdentifiers));
    CopyIdentifier(volumeIdentifier, record->volume);
    record->strip_size = stripSize;
    record->raid_level = level;
    record->count = static_cast<uint16_t>(driveIdentifiers.size());
    CopyIdentifiers(driveIdentifiers, record->drives);
    return record;
}

vuno_rename_volume_args BuildRenameVolume(const std::string &volume, const std::string &name) {
    vuno_rename_volume_args record{};
    CopyIdentifier(ParseIdentifier(volume), record.volume);
    CopyText(ParseVolumeName(name), record.name);
    return record;
}

vuno_identifier_policy BuildVolumeCachePolicy(const std::string &volume,
                                              const std::string &policy) {
    vuno_identifier_policy record{};
    CopyIdentifier(ParseIdentifier(volume), record.identifier);
    record.policy = ParseVolumeCachePolicy(policy);
    return record;
}

vuno_set_raid_write_hole_policy_args BuildRaidWriteHolePolicy(const std::string &volume,
                                                              const std::string &policy,
                                                              const std::string &journalingDrive) {
    vuno_set_raid_write_hole_policy_args record{};
    CopyIdentifier(ParseIdentifier(volume), record.volume);
    record.policy = ParseRaidWriteHolePolicy(policy);
    CopyIdentifier(ParseJournalingDriveIdentifier(journalingDrive), record.journaling_drive);
    return record;
}

HeapRecord<vuno_create_event_subscription_args>
BuildEventSubscription(const std::string &scopeType, const std::string &scopeIdentifier,
                       const std::vector<std::string> &eventTypes) {
    CheckEventTypeCount(eventTypes);
    const vuno_scope scope = BuildScope(scopeType, scopeIdentifier);
    const std::vector<uint32_t> codes = ParseEventTypes(eventTypes);

    auto record =
        AllocateRecord<vuno_create_event_subscription_args>(codes.size() * sizeof(uint32_t));
    record->scope = scope;
    record->count = static_cast<uint8_t>(codes.size());
    std::copy(codes.begin(), codes.end(), record->event_types);
    return record;
}

HeapRecord<vuno_get_events_args> BuildGetEvents(const std::string &subscription,
                                                uint32_t argument) {
    const Identifier subscriptionIdentifier = ParseIdentifier(subscription);
    auto record = AllocateRecord<vuno_get_events_args>(0);
    CopyIdentifier(subscriptionIdentifier, record->subscription);
    record->argument = argument;
    return record;
}

} // namespace vuno::dbus
