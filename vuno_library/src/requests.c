#define LOG_SOURCE "vuno"

#include "library.h"
#include "payload_writer.h"
#include "ssi.h"
#include "utils.h"

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

/* The executor's storage commands. */
enum command_code {
    CMD_GET_DRIVE_IDENTIFIERS = 0,
    CMD_GET_VOLUME_IDENTIFIERS = 1,
    CMD_GET_ARRAY_IDENTIFIERS = 2,
    CMD_GET_CONTROLLER_IDENTIFIERS = 3,
    CMD_GET_DRIVE_INFORMATION = 4,
    CMD_GET_VOLUME_INFORMATION = 5,
    CMD_GET_VOLUME_MIGRATION_CAPABILITIES = 6,
    CMD_GET_ARRAY_INFORMATION = 7,
    CMD_GET_CONTROLLER_INFORMATION = 8,
    CMD_GET_CONTROLLER_RAID_CAPABILITIES = 9,
    CMD_GET_EXECUTOR_INFORMATION = 10,
    CMD_GET_FIRMWARE_SLOT_INFORMATION = 11,
    CMD_SEND_FIRMWARE_TO_SLOT = 12,
    CMD_UPDATE_DRIVE_FIRMWARE = 13,
    CMD_CLEAR_DRIVE_METADATA = 14,
    CMD_MARK_DRIVE_AS_SPARE = 15,
    CMD_UNMARK_SPARE_DRIVE = 16,
    CMD_MARK_DRIVE_AS_NORMAL = 17,
    CMD_SET_VOLATILE_WRITE_CACHE_ON_DRIVE = 18,
    CMD_RESET_SMART_EVENT_ON_DRIVE = 19,
    CMD_ACTIVATE_DRIVE_LED = 20,
    CMD_REMOVE_DRIVE = 21,
    CMD_CREATE_VOLUME = 22,
    CMD_REBUILD_VOLUME = 23,
    CMD_EXPAND_VOLUME = 24,
    CMD_CHANGE_RAID_LEVEL = 25,
    CMD_RENAME_VOLUME = 26,
    CMD_MARK_VOLUME_AS_NORMAL = 27,
    CMD_VERIFY_VOLUME = 28,
    CMD_CANCEL_VOLUME_VERIFICATION = 29,
    CMD_INITIALIZE_VOLUME = 30,
    CMD_SET_VOLUME_CACHE_POLICY = 31,
    CMD_SET_RAID_WRITE_HOLE_POLICY = 32,
    CMD_DELETE_VOLUME = 33,
    CMD_ADD_DRIVES_TO_ARRAY = 34,
    CMD_SET_VOLATILE_WRITE_CACHE_ON_ARRAY = 35,
    CMD_SET_ROHI_POLICY = 36,
    CMD_SET_READ_PATROL_POLICY = 37,
    CMD_CREATE_EVENT_SUBSCRIPTION = 38,
    CMD_CANCEL_EVENT_SUBSCRIPTION = 39,
    CMD_GET_EVENTS = 40,
    COMMAND_COUNT
};

_Static_assert(CMD_GET_EVENTS == SSI_CMD_GET_EVENTS,
               "the SSI engine limits GetEvents by its command code");

/* Bit fields of the flag and code bytes. */
#define SCOPE_TYPE_MASK 0x07u
#define FLAG_MASK 0x80u
#define POLICY_MASK 0xF0u
#define EXISTING_DATA_MASK 0x08u

static void put_bit_field(struct payload_writer *writer, uint8_t mask, uint32_t value) {
    uint8_t byte = 0;
    set_bits(&byte, mask, value);
    payload_put_u8(writer, byte);
}

static void put_identifier(struct payload_writer *writer,
                           const uint8_t identifier[VUNO_IDENTIFIER_SIZE]) {
    payload_put_bytes(writer, identifier, VUNO_IDENTIFIER_SIZE);
}

static void put_identifiers(struct payload_writer *writer,
                            const uint8_t (*identifiers)[VUNO_IDENTIFIER_SIZE], uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) {
        put_identifier(writer, identifiers[i]);
    }
}

static void put_scope(struct payload_writer *writer, const vuno_scope *scope) {
    put_bit_field(writer, SCOPE_TYPE_MASK, scope->type);
    put_identifier(writer, scope->identifier);
}

/* Payload builders, one per shape; each writes its record's fields in wire
 * order. */

static void write_scope(struct payload_writer *writer, const void *args) {
    put_scope(writer, args);
}

static void write_identifier(struct payload_writer *writer, const void *args) {
    const vuno_identifier *record = args;
    put_identifier(writer, record->identifier);
}

static void write_identifier_flag(struct payload_writer *writer, const void *args) {
    const vuno_identifier_flag *record = args;
    put_identifier(writer, record->identifier);
    put_bit_field(writer, FLAG_MASK, record->flag);
}

static void write_identifier_policy(struct payload_writer *writer, const void *args) {
    const vuno_identifier_policy *record = args;
    put_identifier(writer, record->identifier);
    put_bit_field(writer, POLICY_MASK, record->policy);
}

static void write_identifier_list(struct payload_writer *writer, const void *args) {
    const vuno_identifier_list *record = args;
    put_identifier(writer, record->identifier);
    payload_put_le16(writer, record->count);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t identifier_list_drive_bytes(const void *args) {
    const vuno_identifier_list *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_firmware_to_slot(struct payload_writer *writer, const void *args) {
    const vuno_send_firmware_to_slot_args *record = args;
    payload_put_le16(writer, record->slot);
    payload_put_le32(writer, record->image_length);
    payload_put_bytes(writer, record->revision, sizeof record->revision);
    payload_put_bytes(writer, record->image, record->image_length);
}

static uint64_t firmware_image_bytes(const void *args) {
    const vuno_send_firmware_to_slot_args *record = args;
    return record->image_length;
}

static void write_update_drive_firmware(struct payload_writer *writer, const void *args) {
    const vuno_update_drive_firmware_args *record = args;
    payload_put_le16(writer, record->slot);
    put_identifier(writer, record->drive);
    payload_put_u8(writer, (uint8_t)record->action);
}

static void write_create_volume(struct payload_writer *writer, const void *args) {
    const vuno_create_volume_args *record = args;
    payload_put_le16(writer, record->count);
    payload_put_bytes(writer, record->name, sizeof record->name);
    payload_put_le16(writer, (uint16_t)record->strip_size);
    payload_put_u8(writer, (uint8_t)record->raid_level);
    payload_put_le64(writer, record->size);
    uint8_t policy_and_flag = 0;
    set_bits(&policy_and_flag, POLICY_MASK, record->write_hole_policy);
    set_bits(&policy_and_flag, EXISTING_DATA_MASK, record->existing_data);
    payload_put_u8(writer, policy_and_flag);
    put_identifier(writer, record->existing_data_drive);
    put_identifier(writer, record->journaling_drive);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t create_volume_drive_bytes(const void *args) {
    const vuno_create_volume_args *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_expand_volume(struct payload_writer *writer, const void *args) {
    const vuno_expand_volume_args *record = args;
    put_identifier(writer, record->volume);
    payload_put_le64(writer, record->size);
}

static void write_change_raid_level(struct payload_writer *writer, const void *args) {
    const vuno_change_raid_level_args *record = args;
    put_identifier(writer, record->volume);
    payload_put_le16(writer, record->strip_size);
    payload_put_u8(writer, (uint8_t)record->raid_level);
    payload_put_le16(writer, record->count);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t change_raid_level_drive_bytes(const void *args) {
    const vuno_change_raid_level_args *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_rename_volume(struct payload_writer *writer, const void *args) {
    const vuno_rename_volume_args *record = args;
    put_identifier(writer, record->volume);
    payload_put_bytes(writer, record->name, sizeof record->name);
}

static void write_raid_write_hole_policy(struct payload_writer *writer, const void *args) {
    const vuno_set_raid_write_hole_policy_args *record = args;
    put_identifier(writer, record->volume);
    put_bit_field(writer, POLICY_MASK, record->policy);
    put_identifier(writer, record->journaling_drive);
}

static void write_event_subscription(struct payload_writer *writer, const void *args) {
    const vuno_create_event_subscription_args *record = args;
    put_scope(writer, &record->scope);
    payload_put_u8(writer, record->count);
    for (uint8_t i = 0; i < record->count; ++i) {
        payload_put_u8(writer, (uint8_t)record->event_types[i]);
    }
}

static uint64_t event_type_bytes(const void *args) {
    const vuno_create_event_subscription_args *record = args;
    return record->count;
}

static void write_get_events(struct payload_writer *writer, const void *args) {
    const vuno_get_events_args *record = args;
    put_identifier(writer, record->subscription);
    payload_put_le32(writer, record->argument);
}

struct payload_shape {
    uint32_t fixed_size;
    /* Bytes of the list or image after the fixed part; NULL when none. */
    uint64_t (*variable_size)(const void *args);
    /* NULL for the commands without payload, which take no record. */
    void (*write)(struct payload_writer *writer, const void *args);
};

static const struct payload_shape no_payload = {0, NULL, NULL};
static const struct payload_shape scope_payload = {17, NULL, write_scope};
static const struct payload_shape identifier_payload = {16, NULL, write_identifier};
static const struct payload_shape identifier_flag_payload = {17, NULL, write_identifier_flag};
static const struct payload_shape identifier_policy_payload = {17, NULL, write_identifier_policy};
static const struct payload_shape identifier_list_payload = {18, identifier_list_drive_bytes,
                                                             write_identifier_list};
static const struct payload_shape firmware_to_slot_payload = {14, firmware_image_bytes,
                                                              write_firmware_to_slot};
static const struct payload_shape update_drive_firmware_payload = {19, NULL,
                                                                   write_update_drive_firmware};
static const struct payload_shape create_volume_payload = {62, create_volume_drive_bytes,
                                                           write_create_volume};
static const struct payload_shape expand_volume_payload = {24, NULL, write_expand_volume};
static const struct payload_shape change_raid_level_payload = {21, change_raid_level_drive_bytes,
                                                               write_change_raid_level};
static const struct payload_shape rename_volume_payload = {32, NULL, write_rename_volume};
static const struct payload_shape raid_write_hole_policy_payload = {33, NULL,
                                                                    write_raid_write_hole_policy};
static const struct payload_shape event_subscription_payload = {18, event_type_bytes,
                                                                write_event_subscription};
static const struct payload_shape get_events_payload = {20, NULL, write_get_events};

/* What each command carries. */
static const struct payload_shape *const payload_of_command[COMMAND_COUNT] = {
    [CMD_GET_DRIVE_IDENTIFIERS] = &scope_payload,
    [CMD_GET_VOLUME_IDENTIFIERS] = &scope_payload,
    [CMD_GET_ARRAY_IDENTIFIERS] = &scope_payload,
    [CMD_GET_CONTROLLER_IDENTIFIERS] = &scope_payload,
    [CMD_GET_DRIVE_INFORMATION] = &scope_payload,
    [CMD_GET_VOLUME_INFORMATION] = &scope_payload,
    [CMD_GET_VOLUME_MIGRATION_CAPABILITIES] = &identifier_payload,
    [CMD_GET_ARRAY_INFORMATION] = &scope_payload,
    [CMD_GET_CONTROLLER_INFORMATION] = &scope_payload,
    [CMD_GET_CONTROLLER_RAID_CAPABILITIES] = &identifier_payload,
    [CMD_GET_EXECUTOR_INFORMATION] = &no_payload,
    [CMD_GET_FIRMWARE_SLOT_INFORMATION] = &no_payload,
    [CMD_SEND_FIRMWARE_TO_SLOT] = &firmware_to_slot_payload,
    [CMD_UPDATE_DRIVE_FIRMWARE] = &update_drive_firmware_payload,
    [CMD_CLEAR_DRIVE_METADATA] = &identifier_payload,
    [CMD_MARK_DRIVE_AS_SPARE] = &identifier_payload,
    [CMD_UNMARK_SPARE_DRIVE] = &identifier_payload,
    [CMD_MARK_DRIVE_AS_NORMAL] = &identifier_payload,
    [CMD_SET_VOLATILE_WRITE_CACHE_ON_DRIVE] = &identifier_flag_payload,
    [CMD_RESET_SMART_EVENT_ON_DRIVE] = &identifier_payload,
    [CMD_ACTIVATE_DRIVE_LED] = &identifier_payload,
    [CMD_REMOVE_DRIVE] = &identifier_payload,
    [CMD_CREATE_VOLUME] = &create_volume_payload,
    [CMD_REBUILD_VOLUME] = &identifier_list_payload,
    [CMD_EXPAND_VOLUME] = &expand_volume_payload,
    [CMD_CHANGE_RAID_LEVEL] = &change_raid_level_payload,
    [CMD_RENAME_VOLUME] = &rename_volume_payload,
    [CMD_MARK_VOLUME_AS_NORMAL] = &identifier_payload,
    [CMD_VERIFY_VOLUME] = &identifier_flag_payload,
    [CMD_CANCEL_VOLUME_VERIFICATION] = &identifier_payload,
    [CMD_INITIALIZE_VOLUME] = &identifier_payload,
    [CMD_SET_VOLUME_CACHE_POLICY] = &identifier_policy_payload,
    [CMD_SET_RAID_WRITE_HOLE_POLICY] = &raid_write_hole_policy_payload,
    [CMD_DELETE_VOLUME] = &identifier_payload,
    [CMD_ADD_DRIVES_TO_ARRAY] = &identifier_list_payload,
    [CMD_SET_VOLATILE_WRITE_CACHE_ON_ARRAY] = &identifier_flag_payload,
    [CMD_SET_ROHI_POLICY] = &identifier_flag_payload,
    [CMD_SET_READ_PATROL_POLICY] = &identifier_flag_payload,
    [CMD_CREATE_EVENT_SUBSCRIPTION] = &event_subscription_payload,
    [CMD_CANCEL_EVENT_SUBSCRIPTION] = &identifier_payload,
    [CMD_GET_EVENTS] = &get_events_payload,
};

/* Reserves an SSI request for the command, writes the record into its
 * payload and hands it over; nothing of the record is read afterwards. */
static int submit_request(vuno_instance *instance, enum command_code code, const void *args,
                          vuno_completion_callback callback, void *user_context) {
    const struct payload_shape *shape = payload_of_command[code];
    if (instance == NULL || callback == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    if (shape->write != NULL && args == NULL) {
        LOG_ERROR(instance, "Null pointer");
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    uint64_t size = shape->fixed_size;
    if (shape->variable_size != NULL) {
        size += shape->variable_size(args);
    }
    if (size > UINT32_MAX) {
        LOG_ERROR(instance, "Request payload of %llu bytes is too large", (unsigned long long)size);
        return VUNO_STATUS_INVALID_PARAMETER;
    }

    struct ssi_request *request = NULL;
    int status = ssi_prepare_request(instance, &request, (uint8_t)code, (uint32_t)size, callback,
                                     user_context);
    if (status != VUNO_STATUS_SUCCESS) {
        return status;
    }
    struct payload_writer writer;
    payload_writer_init(&writer, request->message + SSI_REQUEST_HEADER_SIZE, (uint32_t)size);
    if (shape->write != NULL) {
        shape->write(&writer, args);
    }
    assert(payload_writer_complete(&writer) && "payload size and builder disagree");
    return ssi_send_request(instance, request);
}

/* The inventory commands all carry a scope; a missing one is refused like
 * any missing record. */
static int ssi_request_with_scope(vuno_instance *instance, const vuno_scope *scope,
                                  vuno_completion_callback callback, void *user_context,
                                  enum command_code code) {
    return submit_request(instance, code, scope, callback, user_context);
}

int vuno_get_drive_identifiers(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_DRIVE_IDENTIFIERS);
}

int vuno_get_volume_identifiers(vuno_instance *instance, const vuno_scope *scope,
                                vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_VOLUME_IDENTIFIERS);
}

int vuno_get_array_identifiers(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_ARRAY_IDENTIFIERS);
}

int vuno_get_controller_identifiers(vuno_instance *instance, const vuno_scope *scope,
                                    vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_CONTROLLER_IDENTIFIERS);
}

int vuno_get_drive_information(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_DRIVE_INFORMATION);
}

int vuno_get_volume_information(vuno_instance *instance, const vuno_scope *scope,
                                vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_VOLUME_INFORMATION);
}

int vuno_get_array_information(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_ARRAY_INFORMATION);
}

int vuno_get_controller_information(vuno_instance *instance, const vuno_scope *scope,
                                    vuno_completion_callback callback, void *user_context) {
    return ssi_request_with_scope(instance, scope, callback, user_context,
                                  CMD_GET_CONTROLLER_INFORMATION);
}

int vuno_get_volume_migration_capabilities(vuno_instance *instance, const vuno_identifier *volume,
                                           vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_GET_VOLUME_MIGRATION_CAPABILITIES, volume, callback,
                          user_context);
}

int vuno_get_controller_raid_capabilities(vuno_instance *instance,
                                          const vuno_identifier *controller,
                                          vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_GET_CONTROLLER_RAID_CAPABILITIES, controller, callback,
                          user_context);
}

int vuno_get_executor_information(vuno_instance *instance, vuno_completion_callback callback,
                                  void *user_context) {
    return submit_request(instance, CMD_GET_EXECUTOR_INFORMATION, NULL, callback, user_context);
}

int vuno_get_firmware_slot_information(vuno_instance *instance, vuno_completion_callback callback,
                                       void *user_context) {
    return submit_request(instance, CMD_GET_FIRMWARE_SLOT_INFORMATION, NULL, callback,
                          user_context);
}

int vuno_send_firmware_to_slot(vuno_instance *instance, const vuno_send_firmware_to_slot_args *args,
                               vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SEND_FIRMWARE_TO_SLOT, args, callback, user_context);
}

int vuno_update_drive_firmware(vuno_instance *instance, const vuno_update_drive_firmware_args *args,
                               vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_UPDATE_DRIVE_FIRMWARE, args, callback, user_context);
}

int vuno_clear_drive_metadata(vuno_instance *instance, const vuno_identifier *drive,
                              vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CLEAR_DRIVE_METADATA, drive, callback, user_context);
}

int vuno_mark_drive_as_spare(vuno_instance *instance, const vuno_identifier *drive,
                             vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_MARK_DRIVE_AS_SPARE, drive, callback, user_context);
}

int vuno_unmark_spare_drive(vuno_instance *instance, const vuno_identifier *drive,
                            vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_UNMARK_SPARE_DRIVE, drive, callback, user_context);
}

int vuno_mark_drive_as_normal(vuno_instance *instance, const vuno_identifier *drive,
                              vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_MARK_DRIVE_AS_NORMAL, drive, callback, user_context);
}

int vuno_set_volatile_write_cache_on_drive(vuno_instance *instance,
                                           const vuno_identifier_flag *drive_enable,
                                           vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_VOLATILE_WRITE_CACHE_ON_DRIVE, drive_enable, callback,
                          user_context);
}

int vuno_reset_smart_event_on_drive(vuno_instance *instance, const vuno_identifier *drive,
                                    vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_RESET_SMART_EVENT_ON_DRIVE, drive, callback, user_context);
}

int vuno_activate_drive_led(vuno_instance *instance, const vuno_identifier *drive,
                            vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_ACTIVATE_DRIVE_LED, drive, callback, user_context);
}

int vuno_remove_drive(vuno_instance *instance, const vuno_identifier *drive,
                      vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_REMOVE_DRIVE, drive, callback, user_context);
}

int vuno_create_volume(vuno_instance *instance, const vuno_create_volume_args *args,
                       vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CREATE_VOLUME, args, callback, user_context);
}

int vuno_rebuild_volume(vuno_instance *instance, const vuno_identifier_list *volume_drives,
                        vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_REBUILD_VOLUME, volume_drives, callback, user_context);
}

int vuno_expand_volume(vuno_instance *instance, const vuno_expand_volume_args *args,
                       vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_EXPAND_VOLUME, args, callback, user_context);
}

int vuno_change_raid_level(vuno_instance *instance, const vuno_change_raid_level_args *args,
                           vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CHANGE_RAID_LEVEL, args, callback, user_context);
}

int vuno_rename_volume(vuno_instance *instance, const vuno_rename_volume_args *args,
                       vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_RENAME_VOLUME, args, callback, user_context);
}

int vuno_mark_volume_as_normal(vuno_instance *instance, const vuno_identifier *volume,
                               vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_MARK_VOLUME_AS_NORMAL, volume, callback, user_context);
}

int vuno_verify_volume(vuno_instance *instance, const vuno_identifier_flag *volume_repair,
                       vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_VERIFY_VOLUME, volume_repair, callback, user_context);
}

int vuno_cancel_volume_verification(vuno_instance *instance, const vuno_identifier *volume,
                                    vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CANCEL_VOLUME_VERIFICATION, volume, callback, user_context);
}

int vuno_initialize_volume(vuno_instance *instance, const vuno_identifier *volume,
                           vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_INITIALIZE_VOLUME, volume, callback, user_context);
}

int vuno_set_volume_cache_policy(vuno_instance *instance,
                                 const vuno_identifier_policy *volume_policy,
                                 vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_VOLUME_CACHE_POLICY, volume_policy, callback,
                          user_context);
}

int vuno_set_raid_write_hole_policy(vuno_instance *instance,
                                    const vuno_set_raid_write_hole_policy_args *args,
                                    vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_RAID_WRITE_HOLE_POLICY, args, callback, user_context);
}

int vuno_delete_volume(vuno_instance *instance, const vuno_identifier *volume,
                       vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_DELETE_VOLUME, volume, callback, user_context);
}

int vuno_add_drives_to_array(vuno_instance *instance, const vuno_identifier_list *array_drives,
                             vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_ADD_DRIVES_TO_ARRAY, array_drives, callback, user_context);
}

int vuno_set_volatile_write_cache_on_array(vuno_instance *instance,
                                           const vuno_identifier_flag *array_enable,
                                           vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_VOLATILE_WRITE_CACHE_ON_ARRAY, array_enable, callback,
                          user_context);
}

int vuno_set_rohi_policy(vuno_instance *instance, const vuno_identifier_flag *controller_enable,
                         vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_ROHI_POLICY, controller_enable, callback, user_context);
}

int vuno_set_read_patrol_policy(vuno_instance *instance,
                                const vuno_identifier_flag *controller_enable,
                                vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_SET_READ_PATROL_POLICY, controller_enable, callback,
                          user_context);
}

int vuno_create_event_subscription(vuno_instance *instance,
                                   const vuno_create_event_subscription_args *args,
                                   vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CREATE_EVENT_SUBSCRIPTION, args, callback, user_context);
}

int vuno_cancel_event_subscription(vuno_instance *instance, const vuno_identifier *subscription,
                                   vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_CANCEL_EVENT_SUBSCRIPTION, subscription, callback,
                          user_context);
}

int vuno_get_events(vuno_instance *instance, const vuno_get_events_args *args,
                    vuno_completion_callback callback, void *user_context) {
    return submit_request(instance, CMD_GET_EVENTS, args, callback, user_context);
}
