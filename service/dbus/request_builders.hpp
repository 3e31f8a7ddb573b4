// Method arguments to the library's request records, one builder per shape
// of arguments. Each runs its checks in the order that decides which
// failure a call with several bad arguments reports, and refuses as the
// parsers do (ValidationError, ErrorReply, std::bad_alloc); a refused call
// leaves nothing behind.
#pragma once

#include <vuno.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace vuno::dbus {

struct FreeRecord {
    void operator()(void *record) const { std::free(record); }
};

// A record that ends in a list or an image of variable length.
template <typename Record> using HeapRecord = std::unique_ptr<Record, FreeRecord>;

// A zero-filled record with `trailingBytes` for its last, open-ended member.
template <typename Record> HeapRecord<Record> AllocateRecord(size_t trailingBytes) {
    void *block = std::calloc(1, sizeof(Record) + trailingBytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return HeapRecord<Record>(static_cast<Record *>(block));
}

// The methods without arguments.
struct NoRecord {};
NoRecord BuildNoRecord();

vuno_scope BuildScope(const std::string &type, const std::string &identifier);
vuno_identifier BuildIdentifier(const std::string &identifier);
vuno_identifier_flag BuildIdentifierFlag(const std::string &identifier, bool enable);
// A volume or an array and drives to rebuild onto or to add.
HeapRecord<vuno_identifier_list> BuildIdentifierList(const std::string &target,
                                                     const std::vector<std::string> &drives);

HeapRecord<vuno_send_firmware_to_slot_args>
BuildSendFirmwareToSlot(uint16_t slot, const std::string &revision, const std::string &imagePath);
vuno_update_drive_firmware_args BuildUpdateDriveFirmware(uint16_t slot, const std::string &drive,
                                                         const std::string &action);

HeapRecord<vuno_create_volume_args>
BuildCreateVolume(const std::string &name, uint32_t stripSizeKib, const std::string &raidLevel,
                  uint64_t size, const std::string &existingDataDrive, bool useExistingDataDrive,
                  const std::string &writeHolePolicy, const std::string &journalingDrive,
                  const std::vector<std::string> &drives);
vuno_expand_volume_args BuildExpandVolume(const std::string &volume, uint64_t size);
HeapRecord<vuno_change_raid_level_args>
BuildChangeRaidLevel(const std::string &volume, uint32_t stripSizeKib, const std::string &raidLevel,
                     const std::vector<std::string> &drives);
vuno_rename_volume_args BuildRenameVolume(const std::string &volume, const std::string &name);
vuno_identifier_policy BuildVolumeCachePolicy(const std::string &volume, const std::string &policy);
vuno_set_raid_write_hole_policy_args BuildRaidWriteHolePolicy(const std::string &volume,
                                                              const std::string &policy,
                                                              const std::string &journalingDrive);

HeapRecord<vuno_create_event_subscription_args>
BuildEventSubscription(const std::string &scopeType, const std::string &scopeIdentifier,
                       const std::vector<std::string> &eventTypes);
HeapRecord<vuno_get_events_args> BuildGetEvents(const std::string &subscription, uint32_t argument);

} // namespace vuno::dbus
