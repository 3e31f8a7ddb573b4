// Volumes, their migration capabilities, arrays and new volumes.
#include "result_conversion.hpp"
#include "result_fields.hpp"

#include <array>

namespace vuno::dbus {

namespace {

constexpr std::array<NamedCode, 10> kVolumeStates{{
    {"Unknown", 0},
    {"Normal", 1},
    {"Degraded", 2},
    {"Failed", 3},
    {"Initializing", 4},
    {"Rebuilding", 5},
    {"Verifying", 6},
    {"Verifying and repair", 7},
    {"Migration", 8},
    {"Locked", 9},
}};

constexpr uint32_t kFullProgress = 65535;

// Rounded down to whole percent, so that 100 % only shows once the
// migration has really finished.
double MigrationProgressPercent(uint16_t progress) {
    return static_cast<double>(uint32_t{progress} * 100 / kFullProgress);
}

ItemDictionary VolumeItem(const vuno_volume_information &volume) {
    ItemDictionary item;
    item.emplace("Id", IdentifierToText(volume.Id));
    item.emplace("ArrayId", IdentifierToText(volume.ArrayId));
    item.emplace("ArrayOrdinal", volume.ArrayOrdinal);
    item.emplace("Name", FixedText(volume.Name));
    item.emplace("State", EnumerationText(kVolumeStates, volume.State, "Invalid volume state: 0x"));
    item.emplace("Level", RaidLevelText(volume.Level));
    item.emplace("Size", volume.Size);
    item.emplace("StripSizeKiB", StripSizeKib(volume.StripSizeCode));
    item.emplace("DrivesNumber", volume.DrivesNumber);
    item.emplace("MigrationProgress", MigrationProgressPercent(volume.MigrationProgress));
    item.emplace("SystemVolume", Flag(volume.SystemVolume));
    item.emplace("Migrating", Flag(volume.Migrating));
    item.emplace("Initialized", Flag(volume.Initialized));
    item.emplace("VerifyErrors", volume.VerifyErrors);
    item.emplace("VerifyBadBlocks", volume.VerifyBadBlocks);
    item.emplace("LogicalBlockSize", volume.LogicalBlockSize);
    item.emplace("VolumeCachePolicy",
                 EnumerationText(kVolumeCachePolicies, volume.VolumeCachePolicy,
                                 "Invalid Volume Cache Policy: 0x"));
    item.emplace("RAIDWriteHolePolicy",
                 EnumerationText(kRaidWriteHolePolicies, volume.RAIDWriteHolePolicy,
                                 "Invalid Raid Write Hole policy: 0x"));
    item.emplace("JournalingDriveIdentifier", IdentifierToText(volume.JournalingDriveIdentifier));
    return item;
}

ItemDictionary MigrationCapabilityItem(const vuno_migration_capability &capability) {
    ItemDictionary item;
    item.emplace("TargetRAIDLevel", RaidLevelText(capability.TargetRAIDLevel));
    item.emplace("MinAdditionalDrivesCount", capability.MinAdditionalDrivesCount);
    return item;
}

ItemDictionary ArrayItem(const vuno_array_information &array) {
    ItemDictionary item;
    item.emplace("Id", IdentifierToText(array.Id));
    item.emplace("Name", FixedText(array.Name));
    item.emplace("TotalSize", array.TotalSize);
    item.emplace("FreeSize", array.FreeSize);
    item.emplace("VolatileWriteCacheState", Flag(array.VolatileWriteCacheState));
    return item;
}

ResultDictionary VolumeListResult(const vuno_volume_information_list &record) {
    return ListResult(record.Count, record.Volumes, "Volumes", VolumeItem);
}

ResultDictionary MigrationCapabilitiesResult(const vuno_migration_capability_list &record) {
    return ListResult(record.Count, record.Capabilities, "Capabilities", MigrationCapabilityItem);
}

ResultDictionary ArrayListResult(const vuno_array_information_list &record) {
    return ListResult(record.Count, record.Arrays, "Arrays", ArrayItem);
}

ResultDictionary NewVolumeResult(const vuno_volume_identifier &record) {
    return {{"VolumeId", sdbus::Variant(IdentifierToText(record.VolumeId))}};
}

} // namespace

ResultDictionary ConvertVolumeList(const vuno_volume_information_list *record) {
    return ConvertPresentRecord(record, VolumeListResult);
}

ResultDictionary ConvertMigrationCapabilities(const vuno_migration_capability_list *record) {
    return ConvertPresentRecord(record, MigrationCapabilitiesResult);
}

ResultDictionary ConvertArrayList(const vuno_array_information_list *record) {
    return ConvertPresentRecord(record, ArrayListResult);
}

ResultDictionary ConvertNewVolumeIdentifier(const vuno_volume_identifier *record) {
    return ConvertPresentRecord(record, NewVolumeResult);
}

} // namespace vuno::dbus
