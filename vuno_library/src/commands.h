/*
 * The executor's storage commands, one line each: command code, operation
 * (vuno_<name> in vuno.h), argument record (vuno_<record>), request
 * payload shape (requests.c) and response record shape (responses.c). R
 * lists the operations that take an argument record, N those that take
 * none.
 */
#ifndef VUNO_COMMANDS_H
#define VUNO_COMMANDS_H

// clang-format off
#define VUNO_COMMANDS(R, N) \
    R(0, get_drive_identifiers, scope, SCOPE, IDENTIFIERS) \
    R(1, get_volume_identifiers, scope, SCOPE, IDENTIFIERS) \
    R(2, get_array_identifiers, scope, SCOPE, IDENTIFIERS) \
    R(3, get_controller_identifiers, scope, SCOPE, IDENTIFIERS) \
    R(4, get_drive_information, scope, SCOPE, DRIVES) \
    R(5, get_volume_information, scope, SCOPE, VOLUMES) \
    R(6, get_volume_migration_capabilities, identifier, IDENTIFIER, MIGRATION_CAPABILITIES) \
    R(7, get_array_information, scope, SCOPE, ARRAYS) \
    R(8, get_controller_information, scope, SCOPE, CONTROLLERS) \
    R(9, get_controller_raid_capabilities, identifier, IDENTIFIER, RAID_CAPABILITIES) \
    N(10, get_executor_information, NONE, EXECUTOR) \
    N(11, get_firmware_slot_information, NONE, FIRMWARE_SLOTS) \
    R(12, send_firmware_to_slot, send_firmware_to_slot_args, FIRMWARE_IMAGE, NONE) \
    R(13, update_drive_firmware, update_drive_firmware_args, DRIVE_FIRMWARE, NONE) \
    R(14, clear_drive_metadata, identifier, IDENTIFIER, NONE) \
    R(15, mark_drive_as_spare, identifier, IDENTIFIER, NONE) \
    R(16, unmark_spare_drive, identifier, IDENTIFIER, NONE) \
    R(17, mark_drive_as_normal, identifier, IDENTIFIER, NONE) \
    R(18, set_volatile_write_cache_on_drive, identifier_flag, IDENTIFIER_FLAG, NONE) \
    R(19, reset_smart_event_on_drive, identifier, IDENTIFIER, NONE) \
    R(20, activate_drive_led, identifier, IDENTIFIER, NONE) \
    R(21, remove_drive, identifier, IDENTIFIER, NONE) \
    R(22, create_volume, create_volume_args, CREATE_VOLUME, VOLUME_IDENTIFIER) \
    R(23, rebuild_volume, identifier_list, IDENTIFIER_LIST, NONE) \
    R(24, expand_volume, expand_volume_args, EXPAND_VOLUME, NONE) \
    R(25, change_raid_level, change_raid_level_args, CHANGE_RAID_LEVEL, NONE) \
    R(26, rename_volume, rename_volume_args, RENAME_VOLUME, NONE) \
    R(27, mark_volume_as_normal, identifier, IDENTIFIER, NONE) \
    R(28, verify_volume, identifier_flag, IDENTIFIER_FLAG, NONE) \
    R(29, cancel_volume_verification, identifier, IDENTIFIER, NONE) \
    R(30, initialize_volume, identifier, IDENTIFIER, NONE) \
    R(31, set_volume_cache_policy, identifier_policy, IDENTIFIER_POLICY, NONE) \
    R(32, set_raid_write_hole_policy, set_raid_write_hole_policy_args, WRITE_HOLE, NONE) \
    R(33, delete_volume, identifier, IDENTIFIER, NONE) \
    R(34, add_drives_to_array, identifier_list, IDENTIFIER_LIST, NONE) \
    R(35, set_volatile_write_cache_on_array, identifier_flag, IDENTIFIER_FLAG, NONE) \
    R(36, set_rohi_policy, identifier_flag, IDENTIFIER_FLAG, NONE) \
    R(37, set_read_patrol_policy, identifier_flag, IDENTIFIER_FLAG, NONE) \
    R(38, create_event_subscription, create_event_subscription_args, SUBSCRIBE, SUBSCRIPTION) \
    R(39, cancel_event_subscription, identifier, IDENTIFIER, NONE) \
    R(40, get_events, get_events_args, GET_EVENTS, EVENTS)
// clang-format on

#define VUNO_COMMAND_CODE(code, name, ...) CMD_##name = (code),

enum command_code { VUNO_COMMANDS(VUNO_COMMAND_CODE, VUNO_COMMAND_CODE) COMMAND_COUNT };

#endif /* VUNO_COMMANDS_H */
