#define LOG_SOURCE "vuno"

#include "commands.h"
#include "library.h"
#include "ssi.h"
#include "utils.h"
#include "wire.h"

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

/* Bit fields of the flag and code bytes. */
#define SCOPE_TYPE_MASK 0x07u
#define FLAG_MASK 0x80u
#define POLICY_MASK 0xF0u
#define EXISTING_DATA_MASK 0x08u

static void put_bit_field(struct wire_writer *writer, uint8_t mask, uint32_t value) {
    uint8_t byte = 0;
    set_bits(&byte, mask, value);
    wire_put_u8(writer, byte);
}

static void put_identifier(struct wire_writer *writer,
                           const uint8_t identifier[VUNO_IDENTIFIER_SIZE]) {
    wire_put_bytes(writer, identifier, VUNO_IDENTIFIER_SIZE);
}

static void put_identifiers(struct wire_writer *writer,
                            const uint8_t (*identifiers)[VUNO_IDENTIFIER_SIZE], uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) {
        put_identifier(writer, identifiers[i]);
    }
}

static void put_scope(struct wire_writer *writer, const vuno_scope *scope) {
    put_bit_field(writer, SCOPE_TYPE_MASK, scope->type);
    put_identifier(writer, scope->identifier);
}

/* Payload builders, one per shape; each writes its record's fields in wire
 * order. */

static void write_scope(struct wire_writer *writer, const void *args) {
    put_scope(writer, args);
}

static void write_identifier(struct wire_writer *writer, const void *args) {
    const vuno_identifier *record = args;
    put_identifier(writer, record->identifier);
}

static void write_identifier_flag(struct wire_writer *writer, const void *args) {
    const vuno_identifier_flag *record = args;
    put_identifier(writer, record->identifier);
    put_bit_field(writer, FLAG_MASK, record->flag);
}

static void write_identifier_policy(struct wire_writer *writer, const void *args) {
    const vuno_identifier_policy *record = args;
    put_identifier(writer, record->identifier);
    put_bit_field(writer, POLICY_MASK, record->policy);
}

static void write_identifier_list(struct wire_writer *writer, const void *args) {
    const vuno_identifier_list *record = args;
    put_identifier(writer, record->identifier);
    wire_put_le16(writer, record->count);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t identifier_list_drive_bytes(const void *args) {
    const vuno_identifier_list *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_firmware_to_slot(struct wire_writer *writer, const void *args) {
    const vuno_send_firmware_to_slot_args *record = args;
    wire_put_le16(writer, record->slot);
    wire_put_le32(writer, record->image_length);
    wire_put_bytes(writer, record->revision, sizeof record->revision);
    wire_put_bytes(writer, record->image, record->image_length);
}

static uint64_t firmware_image_bytes(const void *args) {
    const vuno_send_firmware_to_slot_args *record = args;
    return record->image_length;
}

static void write_update_drive_firmware(struct wire_writer *writer, const void *args) {
    const vuno_update_drive_firmware_args *record = args;
    wire_put_le16(writer, record->slot);
    put_identifier(writer, record->drive);
    wire_put_u8(writer, (uint8_t)record->action);
}

static void write_create_volume(struct wire_writer *writer, const void *args) {
    const vuno_create_volume_args *record = args;
    wire_put_le16(writer, record->count);
    wire_put_bytes(writer, record->name, sizeof record->name);
    wire_put_le16(writer, (uint16_t)record->strip_size);
    wire_put_u8(writer, (uint8_t)record->raid_level);
    wire_put_le64(writer, record->size);
    uint8_t policy_and_flag = 0;
    set_bits(&policy_and_flag, POLICY_MASK, record->write_hole_policy);
    set_bits(&policy_and_flag, EXISTING_DATA_MASK, record->existing_data);
    wire_put_u8(writer, policy_and_flag);
    put_identifier(writer, record->existing_data_drive);
    put_identifier(writer, record->journaling_drive);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t create_volume_drive_bytes(const void *args) {
    const vuno_create_volume_args *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_expand_volume(struct wire_writer *writer, const void *args) {
    const vuno_expand_volume_args *record = args;
    put_identifier(writer, record->volume);
    wire_put_le64(writer, record->size);
}

static void write_change_raid_level(struct wire_writer *writer, const void *args) {
    const vuno_change_raid_level_args *record = args;
    put_identifier(writer, record->volume);
    wire_put_le16(writer, record->strip_size);
    wire_put_u8(writer, (uint8_t)record->raid_level);
    wire_put_le16(writer, record->count);
    put_identifiers(writer, record->drives, record->count);
}

static uint64_t change_raid_level_drive_bytes(const void *args) {
    const vuno_change_raid_level_args *record = args;
    return (uint64_t)record->count * VUNO_IDENTIFIER_SIZE;
}

static void write_rename_volume(struct wire_writer *writer, const void *args) {
    const vuno_rename_volume_args *record = args;
    put_identifier(writer, record->volume);
    wire_put_bytes(writer, record->name, sizeof record->name);
}

static void write_raid_write_hole_policy(struct wire_writer *writer, const void *args) {
    const vuno_set_raid_write_hole_policy_args *record = args;
    put_identifier(writer, record->volume);
    put_bit_field(writer, POLICY_MASK, record->policy);
    put_identifier(writer, record->journaling_drive);
}

static void write_event_subscription(struct wire_writer *writer, const void *args) {
    const vuno_create_event_subscription_args *record = args;
    put_scope(writer, &record->scope);
    wire_put_u8(writer, record->count);
    for (uint8_t i = 0; i < record->count; ++i) {
        wire_put_u8(writer, (uint8_t)record->event_types[i]);
    }
}

static uint64_t event_type_bytes(const void *args) {
    const vuno_create_event_subscription_args *record = args;
    return record->count;
}

static void write_get_events(struct wire_writer *writer, const void *args) {
    const vuno_get_events_args *record = args;
    put_identifier(writer, record->subscription);
    wire_put_le32(writer, record->argument);
}

struct payload_shape {
    uint32_t fixed_size;
    /* Bytes of the list or image after the fixed part; NULL when none. */
    uint64_t (*variable_size)(const void *args);
    /* NULL for the commands without payload, which take no record. */
    void (*write)(struct wire_writer *writer, const void *args);
};

static const struct payload_shape request_NONE = {0, NULL, NULL};
static const struct payload_shape request_SCOPE = {17, NULL, write_scope};
static const struct payload_shape request_IDENTIFIER = {16, NULL, write_identifier};
static const struct payload_shape request_IDENTIFIER_FLAG = {17, NULL, write_identifier_flag};
static const struct payload_shape request_IDENTIFIER_POLICY = {17, NULL, write_identifier_policy};
static const struct payload_shape request_IDENTIFIER_LIST = {18, identifier_list_drive_bytes,
                                                             write_identifier_list};
static const struct payload_shape request_FIRMWARE_IMAGE = {14, firmware_image_bytes,
                                                            write_firmware_to_slot};
static const struct payload_shape request_DRIVE_FIRMWARE = {19, NULL, write_update_drive_firmware};
static const struct payload_shape request_CREATE_VOLUME = {62, create_volume_drive_bytes,
                                                           write_create_volume};
static const struct payload_shape request_EXPAND_VOLUME = {24, NULL, write_expand_volume};
static const struct payload_shape request_CHANGE_RAID_LEVEL = {21, change_raid_level_drive_bytes,
                                                               write_change_raid_level};
static const struct payload_shape request_RENAME_VOLUME = {32, NULL, write_rename_volume};
static const struct payload_shape request_WRITE_HOLE = {33, NULL, write_raid_write_hole_policy};
static const struct payload_shape request_SUBSCRIBE = {18, event_type_bytes,
                                                       write_event_subscription};
static const struct payload_shape request_GET_EVENTS = {20, NULL, write_get_events};

#define SHAPE_OF(code, name, record, request, response) [code] = &request_##request,
#define SHAPE_OF_BARE(code, name, request, response) [code] = &request_##request,

static const struct payload_shape *const payload_of_command[COMMAND_COUNT] = {
    VUNO_COMMANDS(SHAPE_OF, SHAPE_OF_BARE)};

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
    struct wire_writer writer;
    wire_writer_init(&writer, request->message + SSI_REQUEST_HEADER_SIZE, (uint32_t)size);
    if (shape->write != NULL) {
        shape->write(&writer, args);
    }
    assert(wire_writer_complete(&writer) && "payload size and builder disagree");
    return ssi_send_request(instance, request);
}

/* The operations of vuno.h, one per command of the table. */
#define DEFINE_OPERATION(code, name, record, request, response)                                    \
    int vuno_##name(vuno_instance *instance, const vuno_##record *args,                            \
                    vuno_completion_callback callback, void *user_context) {                       \
        return submit_request(instance, CMD_##name, args, callback, user_context);                 \
    }
#define DEFINE_BARE_OPERATION(code, name, request, response)                                       \
    int vuno_##name(vuno_instance *instance, vuno_completion_callback callback,                    \
                    void *user_context) {                                                          \
        return submit_request(instance, CMD_##name, NULL, callback, user_context);                 \
    }

VUNO_COMMANDS(DEFINE_OPERATION, DEFINE_BARE_OPERATION)
