/*
 * Decoding of SSI response payloads into the records handed to completion
 * callbacks. Every payload with data has the same shape: an optional count,
 * fixed fields, then `count` elements of one fixed size. A fixed-size
 * answer is the case without count and elements. One routine checks the
 * length, allocates the record and walks the elements; each command only
 * describes its shape and how to read one element.
 */
#define LOG_SOURCE "ssi"

#include "commands.h"
#include "library.h"
#include "ssi.h"
#include "utils.h"
#include "wire.h"

#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* Flag bytes of the drive information element. */
#define DRIVE_SYSTEM_DRIVE 0x80u
#define DRIVE_ACTIVATE_LED_SUPPORT 0x40u
#define DRIVE_PREBOOT_VISIBLE 0x20u
#define DRIVE_WRITE_CACHE_STATE 0x10u
#define SATA_NCQ_SUPPORTED 0x80u
#define SATA_SOLID_STATE_DRIVE 0x40u
#define SATA_LINK_RATE 0x3Fu
#define NVME_DUAL_CONTROLLER 0x80u
#define NVME_DUAL_CONTROLLER_ORDER 0x40u
#define NVME_ATTACHED_TO_PCH 0x20u
#define NVME_LINK_RATE 0x1Fu

/* Flag bytes of the volume information element. */
#define VOLUME_INITIALIZED 0x80u
#define VOLUME_MIGRATING 0x40u
#define VOLUME_SYSTEM_VOLUME 0x20u
#define VOLUME_CACHE_POLICY 0xF0u
#define VOLUME_WRITE_HOLE_POLICY 0x0Fu

#define ARRAY_VOLATILE_WRITE_CACHE 0x80u

/* Flag bytes of the controller information element. */
#define CONTROLLER_PREOS_DRIVER_LOADED 0x80u
#define CONTROLLER_ROHI_ENABLED 0x80u
#define CONTROLLER_READ_PATROL_ENABLED 0x40u
#define CONTROLLER_MODE 0xE0u

#define RAID_EVEN_DRIVE_COUNT 0x80u
#define RAID_ODD_DRIVE_COUNT 0x40u

/* Wire sizes of the elements and fixed records. */
#define DRIVE_WIRE_SIZE 167u
#define VOLUME_WIRE_SIZE 94u
#define MIGRATION_WIRE_SIZE 2u
#define ARRAY_WIRE_SIZE 53u
#define CONTROLLER_WIRE_SIZE 335u
#define RAID_CAPABILITY_WIRE_SIZE 10u
#define EXECUTOR_WIRE_SIZE 40u
#define FIRMWARE_SLOT_LIST_HEADER_SIZE 6u /* count and capacity */
#define FIRMWARE_SLOT_WIRE_SIZE 10u
#define SUBSCRIPTION_WIRE_SIZE 18u
#define EVENT_WIRE_SIZE 17u

/* Bytes of a controller element whose meaning depends on its type. */
#define CONTROLLER_TYPE_SPECIFIC_SIZE 4u

/* Reads one part of the wire (fixed fields or one element) into the
 * record. */
typedef void (*part_decoder)(struct wire_reader *wire, void *destination);

struct record_shape {
    uint32_t count_width;       /* 0 (fixed record), 1 or 2 bytes, on the wire and in the record */
    uint32_t count_offset;      /* of the count in the record */
    uint32_t wire_header_size;  /* count and fixed fields */
    uint32_t wire_element_size; /* 0 for a fixed record */
    /* Record bytes before the first element. */
    uint32_t record_header_size;
    uint32_t record_element_size;
    part_decoder decode_fields;  /* fixed fields after the count, or none */
    part_decoder decode_element; /* none for a fixed record */
};

static void decode_identifier(struct wire_reader *wire, void *destination) {
    wire_get_bytes(wire, destination, VUNO_IDENTIFIER_SIZE);
}

static void decode_sata_link(struct wire_reader *wire, vuno_drive_sata *sata) {
    const uint8_t link = wire_get_u8(wire);
    sata->NCQSupported = get_bits(link, SATA_NCQ_SUPPORTED);
    sata->SolidStateDrive = get_bits(link, SATA_SOLID_STATE_DRIVE);
    sata->NegotiatedLinkRate = get_bits(link, SATA_LINK_RATE);
}

static void decode_pcie_link(struct wire_reader *wire, vuno_drive_nvme *nvme) {
    nvme->VendorId = wire_get_le16(wire);
    const uint8_t link = wire_get_u8(wire);
    nvme->DualControllerNVMe = get_bits(link, NVME_DUAL_CONTROLLER);
    nvme->DualControllerOrder = get_bits(link, NVME_DUAL_CONTROLLER_ORDER);
    nvme->AttachedToPCH = get_bits(link, NVME_ATTACHED_TO_PCH);
    nvme->NegotiatedLinkRate = get_bits(link, NVME_LINK_RATE);
}

static void decode_vmd_location(struct wire_reader *wire, vuno_drive_nvme *nvme) {
    nvme->SocketNumber = wire_get_le16(wire);
    nvme->VMDControllerNumber = wire_get_le16(wire);
    nvme->RootPortOffset = wire_get_le16(wire);
    nvme->PhysicalSlotNumber = wire_get_le64(wire);
}

static void decode_drive(struct wire_reader *wire, void *destination) {
    vuno_drive_information *drive = destination;
    wire_get_bytes(wire, drive->Id, sizeof drive->Id);
    wire_get_bytes(wire, drive->ArrayId, sizeof drive->ArrayId);
    wire_get_bytes(wire, drive->ControllerId, sizeof drive->ControllerId);
    wire_get_bytes(wire, drive->Serial, sizeof drive->Serial);
    wire_get_bytes(wire, drive->Model, sizeof drive->Model);
    wire_get_bytes(wire, drive->FwRev, sizeof drive->FwRev);
    drive->Size = wire_get_le64(wire);
    drive->LogicalBlockSize = wire_get_le32(wire);
    drive->PhysicalBlockSize = wire_get_le32(wire);
    drive->Status = wire_get_u8(wire);
    drive->Usage = wire_get_u8(wire);
    const uint8_t flags = wire_get_u8(wire);
    drive->SystemDrive = get_bits(flags, DRIVE_SYSTEM_DRIVE);
    drive->ActivateLedSupport = get_bits(flags, DRIVE_ACTIVATE_LED_SUPPORT);
    drive->PrebootVisible = get_bits(flags, DRIVE_PREBOOT_VISIBLE);
    drive->WriteCacheState = get_bits(flags, DRIVE_WRITE_CACHE_STATE);
    drive->Type = wire_get_u8(wire);

    switch (drive->Type) {
    case VUNO_DRIVE_TYPE_SATA_OPTICAL:
        drive->Sata.PortNumber = wire_get_u8(wire);
        break;
    case VUNO_DRIVE_TYPE_SATA:
        drive->Sata.PortNumber = wire_get_u8(wire);
        decode_sata_link(wire, &drive->Sata);
        break;
    case VUNO_DRIVE_TYPE_NON_VMD:
        decode_pcie_link(wire, &drive->Nvme);
        break;
    case VUNO_DRIVE_TYPE_VMD:
        decode_pcie_link(wire, &drive->Nvme);
        decode_vmd_location(wire, &drive->Nvme);
        break;
    default:
        /* An unknown connection has no known details to read. */
        break;
    }
}

static void decode_volume(struct wire_reader *wire, void *destination) {
    vuno_volume_information *volume = destination;
    wire_get_bytes(wire, volume->Id, sizeof volume->Id);
    wire_get_bytes(wire, volume->ArrayId, sizeof volume->ArrayId);
    volume->ArrayOrdinal = wire_get_u8(wire);
    wire_get_bytes(wire, volume->Name, sizeof volume->Name);
    volume->State = wire_get_u8(wire);
    volume->Level = wire_get_u8(wire);
    volume->Size = wire_get_le64(wire);
    volume->StripSizeCode = wire_get_le16(wire);
    volume->DrivesNumber = wire_get_u8(wire);
    volume->MigrationProgress = wire_get_le16(wire);
    const uint8_t flags = wire_get_u8(wire);
    volume->Initialized = get_bits(flags, VOLUME_INITIALIZED);
    volume->Migrating = get_bits(flags, VOLUME_MIGRATING);
    volume->SystemVolume = get_bits(flags, VOLUME_SYSTEM_VOLUME);
    volume->VerifyErrors = wire_get_le32(wire);
    volume->VerifyBadBlocks = wire_get_le32(wire);
    volume->LogicalBlockSize = wire_get_le32(wire);
    const uint8_t policies = wire_get_u8(wire);
    volume->VolumeCachePolicy = get_bits(policies, VOLUME_CACHE_POLICY);
    volume->RAIDWriteHolePolicy = get_bits(policies, VOLUME_WRITE_HOLE_POLICY);
    wire_get_bytes(wire, volume->JournalingDriveIdentifier,
                   sizeof volume->JournalingDriveIdentifier);
}

static void decode_migration_capability(struct wire_reader *wire, void *destination) {
    vuno_migration_capability *capability = destination;
    capability->TargetRAIDLevel = wire_get_u8(wire);
    capability->MinAdditionalDrivesCount = wire_get_u8(wire);
}

static void decode_array(struct wire_reader *wire, void *destination) {
    vuno_array_information *array = destination;
    wire_get_bytes(wire, array->Id, sizeof array->Id);
    wire_get_bytes(wire, array->Name, sizeof array->Name);
    array->TotalSize = wire_get_le64(wire);
    array->FreeSize = wire_get_le64(wire);
    array->VolatileWriteCacheState = get_bits(wire_get_u8(wire), ARRAY_VOLATILE_WRITE_CACHE);
}

static void decode_version(struct wire_reader *wire, uint16_t version[4]) {
    for (unsigned part = 0; part < 4; ++part) {
        version[part] = wire_get_le16(wire);
    }
}

static void decode_controller_type_specific(struct wire_reader *wire,
                                            vuno_controller_information *controller) {
    switch (controller->Type) {
    case VUNO_CONTROLLER_TYPE_AHCI:
        controller->ControllerMode = get_bits(wire_get_u8(wire), CONTROLLER_MODE);
        break;
    case VUNO_CONTROLLER_TYPE_VMD:
        wire_get_bytes(wire, controller->VmdDetails, sizeof controller->VmdDetails);
        break;
    default:
        break;
    }
}

static void decode_controller(struct wire_reader *wire, void *destination) {
    vuno_controller_information *controller = destination;
    wire_get_bytes(wire, controller->Id, sizeof controller->Id);
    wire_get_bytes(wire, controller->Name, sizeof controller->Name);
    controller->VendorId = wire_get_le16(wire);
    controller->DeviceId = wire_get_le16(wire);
    controller->SubsystemId = wire_get_le16(wire);
    controller->HardwareRev = wire_get_u8(wire);
    controller->PreosDriverLoaded = get_bits(wire_get_u8(wire), CONTROLLER_PREOS_DRIVER_LOADED);
    decode_version(wire, controller->OSDriverVer);
    decode_version(wire, controller->PreosDriverVer);
    controller->MaxVolumesPerArray = wire_get_le16(wire);
    controller->MaxVolumesPerController = wire_get_le16(wire);
    controller->MaxDrivesPerController = wire_get_le16(wire);
    const uint8_t policies = wire_get_u8(wire);
    controller->ROHIEnabled = get_bits(policies, CONTROLLER_ROHI_ENABLED);
    controller->ReadPatrolEnabled = get_bits(policies, CONTROLLER_READ_PATROL_ENABLED);
    controller->Type = wire_get_u8(wire);
    struct wire_reader type_specific = wire_take(wire, CONTROLLER_TYPE_SPECIFIC_SIZE);
    decode_controller_type_specific(&type_specific, controller);
}

static void decode_raid_capability(struct wire_reader *wire, void *destination) {
    vuno_raid_capability *capability = destination;
    capability->Level = wire_get_u8(wire);
    capability->MinDrivesCount = wire_get_le16(wire);
    capability->MaxDrivesCount = wire_get_le16(wire);
    const uint8_t parity = wire_get_u8(wire);
    capability->EvenDriveCount = get_bits(parity, RAID_EVEN_DRIVE_COUNT);
    capability->OddDriveCount = get_bits(parity, RAID_ODD_DRIVE_COUNT);
    capability->DefaultStripSizeCode = wire_get_le16(wire);
    capability->SupportedStripSizesMask = wire_get_le16(wire);
}

static void decode_executor(struct wire_reader *wire, void *destination) {
    vuno_executor_information *executor = destination;
    executor->SSIVersionMajor = wire_get_le16(wire);
    executor->SSIVersionMinor = wire_get_le16(wire);
    wire_get_bytes(wire, executor->ExecutorVersion, sizeof executor->ExecutorVersion);
    executor->Reserved = wire_get_le32(wire);
}

static void decode_firmware_slot_fields(struct wire_reader *wire, void *destination) {
    vuno_firmware_slot_list *slots = destination;
    slots->Capacity = wire_get_le32(wire);
}

static void decode_firmware_slot(struct wire_reader *wire, void *destination) {
    vuno_firmware_slot *slot = destination;
    slot->Number = wire_get_le16(wire);
    wire_get_bytes(wire, slot->Revision, sizeof slot->Revision);
}

static void decode_volume_identifier(struct wire_reader *wire, void *destination) {
    vuno_volume_identifier *volume = destination;
    wire_get_bytes(wire, volume->VolumeId, sizeof volume->VolumeId);
}

static void decode_subscription(struct wire_reader *wire, void *destination) {
    vuno_subscription *subscription = destination;
    wire_get_bytes(wire, subscription->SubscriptionId, sizeof subscription->SubscriptionId);
    subscription->EventQueueDepth = wire_get_le16(wire);
}

static void decode_event(struct wire_reader *wire, void *destination) {
    vuno_event *event = destination;
    event->EventType = wire_get_u8(wire);
    wire_get_bytes(wire, event->EventIdentifier, sizeof event->EventIdentifier);
}

#define MEMBER_SIZE(type, member) sizeof(((type *)0)->member)

/* A list whose count is followed by fixed fields of its own. */
#define LIST_WITH_FIELDS_SHAPE(list_type, wire_header, fields, elements, wire_element, element)    \
    {                                                                                              \
        .count_width = MEMBER_SIZE(list_type, Count), .count_offset = offsetof(list_type, Count),  \
        .wire_header_size = (wire_header), .wire_element_size = (wire_element),                    \
        .record_header_size = offsetof(list_type, elements),                                       \
        .record_element_size = MEMBER_SIZE(list_type, elements[0]), .decode_fields = (fields),     \
        .decode_element = (element),                                                               \
    }

#define LIST_SHAPE(list_type, elements, wire_element, element)                                     \
    LIST_WITH_FIELDS_SHAPE(list_type, MEMBER_SIZE(list_type, Count), NULL, elements, wire_element, \
                           element)

#define FIXED_SHAPE(record_type, wire_size, fields)                                                \
    {                                                                                              \
        .count_width = 0, .count_offset = 0, .wire_header_size = (wire_size),                      \
        .wire_element_size = 0, .record_header_size = sizeof(record_type),                         \
        .record_element_size = 0, .decode_fields = (fields), .decode_element = NULL,               \
    }

#define IDENTIFIER_LIST_SHAPE                                                                      \
    LIST_SHAPE(vuno_identifier_list_record, Ids, VUNO_IDENTIFIER_SIZE, decode_identifier)

static const struct record_shape response_NONE = {0};
static const struct record_shape response_IDENTIFIERS = IDENTIFIER_LIST_SHAPE;
static const struct record_shape response_DRIVES =
    LIST_SHAPE(vuno_drive_information_list, Drives, DRIVE_WIRE_SIZE, decode_drive);
static const struct record_shape response_VOLUMES =
    LIST_SHAPE(vuno_volume_information_list, Volumes, VOLUME_WIRE_SIZE, decode_volume);
static const struct record_shape response_MIGRATION_CAPABILITIES = LIST_SHAPE(
    vuno_migration_capability_list, Capabilities, MIGRATION_WIRE_SIZE, decode_migration_capability);
static const struct record_shape response_ARRAYS =
    LIST_SHAPE(vuno_array_information_list, Arrays, ARRAY_WIRE_SIZE, decode_array);
static const struct record_shape response_CONTROLLERS = LIST_SHAPE(
    vuno_controller_information_list, Controllers, CONTROLLER_WIRE_SIZE, decode_controller);
static const struct record_shape response_RAID_CAPABILITIES = LIST_SHAPE(
    vuno_raid_capability_list, Capabilities, RAID_CAPABILITY_WIRE_SIZE, decode_raid_capability);
static const struct record_shape response_EXECUTOR =
    FIXED_SHAPE(vuno_executor_information, EXECUTOR_WIRE_SIZE, decode_executor);
static const struct record_shape response_FIRMWARE_SLOTS = LIST_WITH_FIELDS_SHAPE(
    vuno_firmware_slot_list, FIRMWARE_SLOT_LIST_HEADER_SIZE, decode_firmware_slot_fields, Slots,
    FIRMWARE_SLOT_WIRE_SIZE, decode_firmware_slot);
static const struct record_shape response_VOLUME_IDENTIFIER =
    FIXED_SHAPE(vuno_volume_identifier, VUNO_IDENTIFIER_SIZE, decode_volume_identifier);
static const struct record_shape response_SUBSCRIPTION =
    FIXED_SHAPE(vuno_subscription, SUBSCRIPTION_WIRE_SIZE, decode_subscription);
static const struct record_shape response_EVENTS =
    LIST_SHAPE(vuno_event_list, Events, EVENT_WIRE_SIZE, decode_event);

#define RECORD_OF(code, name, record, request, response) [code] = &response_##response,
#define RECORD_OF_BARE(code, name, request, response) [code] = &response_##response,

static const struct record_shape *const record_of_command[COMMAND_COUNT] = {
    VUNO_COMMANDS(RECORD_OF, RECORD_OF_BARE)};

_Static_assert(sizeof(vuno_firmware_slot) == FIRMWARE_SLOT_WIRE_SIZE, "slots lie packed");

static const struct record_shape *shape_of(uint8_t command_code) {
    if (command_code >= COMMAND_COUNT) {
        return NULL;
    }
    const struct record_shape *shape = record_of_command[command_code];
    return shape->decode_fields == NULL && shape->decode_element == NULL ? NULL : shape;
}

static uint32_t read_count(struct wire_reader *wire, uint32_t count_width) {
    switch (count_width) {
    case 1:
        return wire_get_u8(wire);
    case 2:
        return wire_get_le16(wire);
    default:
        return 0;
    }
}

static void store_count(uint8_t *field, uint32_t count_width, uint32_t count) {
    const uint8_t narrow = (uint8_t)count;
    const uint16_t wide = (uint16_t)count;
    switch (count_width) {
    case 1:
        memcpy(field, &narrow, sizeof narrow);
        break;
    case 2:
        memcpy(field, &wide, sizeof wide);
        break;
    default:
        break;
    }
}

static void decode_elements(const struct record_shape *shape, struct wire_reader *wire,
                            uint8_t *record, uint32_t count) {
    uint8_t *element = record + shape->record_header_size;
    for (uint32_t i = 0; i < count; ++i) {
        struct wire_reader part = wire_take(wire, shape->wire_element_size);
        shape->decode_element(&part, element);
        /* The length was checked against the count: every part is there,
         * and no decoder reads beyond its own element. */
        assert(!part.overrun);
        element += shape->record_element_size;
    }
}

static int decode_record(vuno_instance *instance, const struct record_shape *shape,
                         struct wire_reader *payload, void **record) {
    const uint32_t length = wire_remaining(payload);
    struct wire_reader wire = wire_take(payload, length);
    const uint32_t count = read_count(&wire, shape->count_width);
    const uint64_t expected_length =
        shape->wire_header_size + (uint64_t)count * shape->wire_element_size;
    if (wire.overrun || expected_length != length) {
        LOG_ERROR(instance, "Invalid SSI Response length: %d.", (int)length);
        return -1;
    }

    /* At most 65535 elements of a few hundred bytes: no overflow. */
    const uint32_t record_size = shape->record_header_size + count * shape->record_element_size;
    uint8_t *decoded = sized_zalloc(record_size);
    if (decoded == NULL) {
        LOG_ERROR(instance, "Out of memory");
        return -1;
    }
    store_count(decoded + shape->count_offset, shape->count_width, count);
    struct wire_reader fields = wire_take(&wire, shape->wire_header_size - shape->count_width);
    if (shape->decode_fields != NULL) {
        shape->decode_fields(&fields, decoded);
    }
    assert(!fields.overrun);
    decode_elements(shape, &wire, decoded, count);
    assert(wire_reader_complete(&wire));
    *record = decoded;
    return 0;
}

int ssi_decode_response(vuno_instance *instance, uint8_t command_code, struct wire_reader *payload,
                        void **record) {
    assert(instance != NULL && record != NULL);
    *record = NULL;
    const struct record_shape *shape = shape_of(command_code);
    if (shape == NULL) {
        return 0;
    }
    return decode_record(instance, shape, payload, record);
}
