/*
 * Vuno protocol library: the BMC-ME link, the Service Protocol and the SSI
 * engine that carry storage requests from the BMC to the host's RAID
 * executor.
 *
 * The library makes no operating-system calls. Everything it needs from the
 * process that hosts it (logging, locks, one periodic timer and the sending
 * of MCTP messages) comes through the table of platform callbacks given to
 * vuno_initialize(). Every entry point takes the library instance first and
 * returns a library status (enum vuno_status).
 *
 * Ownership: the library owns the instance and everything it allocates.
 * Buffers passed in are only read during the call unless a function says
 * otherwise.
 */
#ifndef VUNO_H
#define VUNO_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VUNO_LIBRARY_VERSION_MAJOR 0
#define VUNO_LIBRARY_VERSION_MINOR 8
#define VUNO_LIBRARY_VERSION_PATCH 0

/* Result of every library operation and first argument of every callback. */
enum vuno_status {
    VUNO_STATUS_SUCCESS = 0,
    VUNO_STATUS_COMMAND_PENDING = 1, /* under way; its callback follows */
    VUNO_STATUS_BUSY = 2,
    VUNO_STATUS_INVALID_PARAMETER = 3,
    VUNO_STATUS_NOT_ENOUGH_MEMORY = 4,
    VUNO_STATUS_INTERNAL_ERROR = 5,
    VUNO_STATUS_HOST_ALREADY_CONNECTED = 6,
    VUNO_STATUS_HOST_CONNECTION_FAILED = 7,
    VUNO_STATUS_HOST_NOT_CONNECTED = 8,
    VUNO_STATUS_HOST_RESET = 9,
    VUNO_STATUS_TRANSFER_TO_HOST_FAILED = 10,
    VUNO_STATUS_TIMEOUT = 11,
    VUNO_STATUS_LOCK_ERROR = 12,
    VUNO_STATUS_MCTP_ERROR = 13,
};

#define VUNO_SSI_STATUS_NO_RESPONSE 0xFFFFu /* SSI status when no response arrived */

/* Log levels passed to the log callback. */
enum vuno_log_level { VUNO_LOG_DEBUG = 0, VUNO_LOG_ERROR = 1 };

typedef struct vuno_instance vuno_instance;

typedef void (*vuno_timer_handler)(void *argument); /* the library's periodic timer */

/* The platform callbacks. The library copies the table at initialisation
 * and refuses a table with any empty entry. */
typedef struct vuno_platform_callbacks {
    /* One log line; level is enum vuno_log_level, file the source name. */
    void (*log)(int level, const char *file, int line, const char *format, ...)
        __attribute__((format(printf, 4, 5)));
    /* A new unlocked, non-recursive lock, or NULL when none can be made. */
    void *(*lock_create)(void);
    void (*lock_destroy)(void *lock);
    /* Blocks until held and returns non-zero; 0 when it cannot be taken. */
    int (*lock)(void *lock);
    void (*unlock)(void *lock);
    /* Calls handler(argument) every period_s seconds until destroyed;
     * NULL when no timer can be made. */
    void *(*timer_create)(void *user_context, void *argument, vuno_timer_handler handler,
                          uint32_t period_s);
    /* Stops and releases a timer; accepts NULL. */
    void (*timer_destroy)(void *timer);
    /* Sends one BMC-ME message to the ME; 0 when accepted. The bytes are
     * copied before it returns. The outcome comes back through
     * bmc_me_mctp_message_received(). */
    int (*mctp_send)(void *user_context, bool request, uint8_t tag, const uint8_t *data,
                     uint32_t length);
} vuno_platform_callbacks;

typedef void (*vuno_link_callback)(uint32_t status, void *context); /* connected, lost, down */

/* Completion of a request operation: called exactly once for every
 * operation that returned VUNO_STATUS_COMMAND_PENDING. A library status of
 * 0 with a non-zero SSI status is a failure reported by the executor. The
 * record belongs to the library and lives only during the call. */
typedef void (*vuno_completion_callback)(uint32_t status, uint32_t ssi_status, const void *record,
                                         void *user_context);

/*
 * Response records. A successful request with response data completes
 * with one of these records (the completion callback's record argument);
 * the table below gives the record of each command code. A record is a
 * single block owned by the library and valid only during the callback:
 * copy what you need.
 *
 * Field names are the keys under which the service publishes them. Lists
 * hold their count first and then exactly that many elements. Text fields
 * are fixed-width bytes that end at the first zero byte or fill the whole
 * width. Enumerated codes and flags are stored as received, also outside
 * their documented range; a flag is 0 or 1. Fields that an element's type
 * does not carry stay zero.
 *
 *   0..3  vuno_identifier_list_record    4   vuno_drive_information_list
 *   5     vuno_volume_information_list   6   vuno_migration_capability_list
 *   7     vuno_array_information_list    8   vuno_controller_information_list
 *   9     vuno_raid_capability_list      10  vuno_executor_information
 *   11    vuno_firmware_slot_list        22  vuno_volume_identifier
 *   38    vuno_subscription              40  vuno_event_list
 * Other codes complete without a record.
 */

#define VUNO_IDENTIFIER_SIZE 16 /* drive, volume, array, controller, subscription */

/* Drive, volume, array or controller identifiers within a scope. */
typedef struct vuno_identifier_list_record {
    uint16_t Count;
    uint8_t Ids[][VUNO_IDENTIFIER_SIZE];
} vuno_identifier_list_record;

/* Connection types of a drive (vuno_drive_information.Type). */
enum vuno_drive_type {
    VUNO_DRIVE_TYPE_SATA_OPTICAL = 0,
    VUNO_DRIVE_TYPE_SATA = 1,
    VUNO_DRIVE_TYPE_NON_VMD = 2, /* NVMe drive not behind VMD */
    VUNO_DRIVE_TYPE_VMD = 3,     /* NVMe drive behind VMD */
};

/* SATA optical drives carry only PortNumber. */
typedef struct vuno_drive_sata {
    uint8_t PortNumber;
    uint32_t NegotiatedLinkRate; /* 0 1.5, 1 3.0, 2 6.0, 3 16.0 Gb/s */
    uint8_t SolidStateDrive;
    uint8_t NCQSupported;
} vuno_drive_sata;

/* Drives not behind VMD carry the fields up to DualControllerNVMe. */
typedef struct vuno_drive_nvme {
    uint16_t VendorId;
    uint32_t NegotiatedLinkRate; /* 0 2.5, 1 5.0, 2 8.0, 3 16.0 GT/s */
    uint8_t AttachedToPCH;
    uint32_t DualControllerOrder; /* 0 first, 1 second */
    uint8_t DualControllerNVMe;
    uint16_t SocketNumber;
    uint16_t VMDControllerNumber;
    uint16_t RootPortOffset;
    uint64_t PhysicalSlotNumber;
} vuno_drive_nvme;

typedef struct vuno_drive_information {
    uint8_t Id[VUNO_IDENTIFIER_SIZE];
    uint8_t ArrayId[VUNO_IDENTIFIER_SIZE];
    uint8_t ControllerId[VUNO_IDENTIFIER_SIZE];
    uint8_t Serial[20];
    uint8_t Model[40];
    uint8_t FwRev[8];
    uint64_t Size;
    uint32_t LogicalBlockSize;
    uint32_t PhysicalBlockSize;
    /* 0 Unknown, 1 Offline, 2 Missing, 3 Failed, 4 SMART event,
     * 5 Incompatible, 6 Normal, 7 Locked, 8 Unsupported */
    uint32_t Status;
    /* 0 Unknown, 1 Array Member, 2 Pass-through, 3 Offline Array Member,
     * 4 Spare, 5 Journaling */
    uint32_t Usage;
    uint8_t WriteCacheState;
    uint8_t PrebootVisible;
    uint8_t ActivateLedSupport;
    uint8_t SystemDrive;
    uint32_t Type; /* enum vuno_drive_type; selects the member below */
    union {
        vuno_drive_sata Sata; /* SATA optical and SATA */
        vuno_drive_nvme Nvme; /* non-VMD and VMD */
    };
} vuno_drive_information;

typedef struct vuno_drive_information_list {
    uint16_t Count;
    vuno_drive_information Drives[];
} vuno_drive_information_list;

typedef struct vuno_volume_information {
    uint8_t Id[VUNO_IDENTIFIER_SIZE];
    uint8_t ArrayId[VUNO_IDENTIFIER_SIZE];
    uint8_t ArrayOrdinal; /* position of the volume within its array */
    uint8_t Name[16];
    /* 0 Unknown, 1 Normal, 2 Degraded, 3 Failed, 4 Initializing,
     * 5 Rebuilding, 6 Verifying, 7 Verifying and repair, 8 Migration,
     * 9 Locked */
    uint32_t State;
    uint32_t Level; /* RAID level: 0 unknown, 1 RAID 0, 2 RAID 1, 3 RAID 10, 4 RAID 5 */
    uint64_t Size;
    uint32_t StripSizeCode; /* strip size in KiB divided by 2 */
    uint8_t DrivesNumber;
    uint16_t MigrationProgress; /* 0..65535 for 0..100 % */
    uint8_t SystemVolume;
    uint8_t Migrating;
    uint8_t Initialized;
    uint32_t VerifyErrors;
    uint32_t VerifyBadBlocks;
    uint32_t LogicalBlockSize;
    uint32_t VolumeCachePolicy;   /* 0 Unknown, 1 Disabled, 2 Write Through, 3 Write Back */
    uint32_t RAIDWriteHolePolicy; /* 0 Off, 1 Distributed, 2 Journaling Drive */
    uint8_t JournalingDriveIdentifier[VUNO_IDENTIFIER_SIZE];
} vuno_volume_information;

typedef struct vuno_volume_information_list {
    uint16_t Count;
    vuno_volume_information Volumes[];
} vuno_volume_information_list;

typedef struct vuno_migration_capability { /* a RAID level to migrate to */
    uint32_t TargetRAIDLevel;
    uint8_t MinAdditionalDrivesCount;
} vuno_migration_capability;

typedef struct vuno_migration_capability_list {
    uint16_t Count;
    vuno_migration_capability Capabilities[];
} vuno_migration_capability_list;

typedef struct vuno_array_information {
    uint8_t Id[VUNO_IDENTIFIER_SIZE];
    uint8_t Name[20];
    uint64_t TotalSize;
    uint64_t FreeSize;
    uint8_t VolatileWriteCacheState;
} vuno_array_information;

typedef struct vuno_array_information_list {
    uint16_t Count;
    vuno_array_information Arrays[];
} vuno_array_information_list;

/* Types of a controller (vuno_controller_information.Type). */
enum vuno_controller_type {
    VUNO_CONTROLLER_TYPE_AHCI = 0,
    VUNO_CONTROLLER_TYPE_NVME = 1,
    VUNO_CONTROLLER_TYPE_VMD = 2,
};

typedef struct vuno_controller_information {
    uint8_t Id[VUNO_IDENTIFIER_SIZE];
    uint8_t Name[256];
    uint16_t VendorId;
    uint16_t DeviceId;
    uint16_t SubsystemId;
    uint8_t HardwareRev;
    uint8_t PreosDriverLoaded;
    uint16_t OSDriverVer[4];
    uint16_t PreosDriverVer[4];
    uint16_t MaxVolumesPerArray;
    uint16_t MaxVolumesPerController;
    uint16_t MaxDrivesPerController;
    uint8_t ROHIEnabled;
    uint8_t ReadPatrolEnabled;
    uint32_t Type;           /* enum vuno_controller_type */
    uint32_t ControllerMode; /* AHCI controllers only: 0 AHCI, 1 RAID */
    uint8_t VmdDetails[4];   /* VMD controllers only; raw bytes, not interpreted */
} vuno_controller_information;

typedef struct vuno_controller_information_list {
    uint16_t Count;
    vuno_controller_information Controllers[];
} vuno_controller_information_list;

typedef struct vuno_raid_capability { /* a RAID level the controller supports */
    uint32_t Level;
    uint16_t MinDrivesCount;
    uint16_t MaxDrivesCount;
    uint8_t OddDriveCount;
    uint8_t EvenDriveCount;
    uint32_t DefaultStripSizeCode; /* strip size in KiB divided by 2 */
    /* Bit k set: a strip of 2^(k+1) KiB is supported. */
    uint16_t SupportedStripSizesMask;
} vuno_raid_capability;

/* The only list with an 8-bit count. */
typedef struct vuno_raid_capability_list {
    uint8_t Count;
    vuno_raid_capability Capabilities[];
} vuno_raid_capability_list;

typedef struct vuno_executor_information {
    uint16_t SSIVersionMajor;
    uint16_t SSIVersionMinor;
    uint8_t ExecutorVersion[32];
    uint32_t Reserved; /* not interpreted */
} vuno_executor_information;

/* 10 bytes, so the slots of a list lie packed. */
typedef struct vuno_firmware_slot {
    uint16_t Number;
    uint8_t Revision[8]; /* revision of the firmware stored in the slot */
} vuno_firmware_slot;

typedef struct vuno_firmware_slot_list {
    uint16_t Count;
    uint32_t Capacity;
    vuno_firmware_slot Slots[];
} vuno_firmware_slot_list;

typedef struct vuno_volume_identifier { /* the volume CreateVolume made */
    uint8_t VolumeId[VUNO_IDENTIFIER_SIZE];
} vuno_volume_identifier;

typedef struct vuno_subscription { /* a new event subscription */
    uint8_t SubscriptionId[VUNO_IDENTIFIER_SIZE];
    uint16_t EventQueueDepth;
} vuno_subscription;

/* Event types: 0 Drive inserted, 1 Drive removed, 2 Drive failed,
 * 128 Volume added, 129..138 volume rebuild, verify, verify and fix,
 * migrate and initialize started / completed in turn, 139 Volume
 * degraded, 140 Volume failed, 141 Volume removed. */
typedef struct vuno_event {
    uint32_t EventType;
    uint8_t EventIdentifier[VUNO_IDENTIFIER_SIZE]; /* drive or volume concerned */
} vuno_event;

typedef struct vuno_event_list {
    uint16_t Count;
    vuno_event Events[];
} vuno_event_list;

/* Library instance. */
int vuno_initialize(vuno_instance **instance, void *user_context,
                    const vuno_platform_callbacks *callbacks);
int vuno_deinitialize(vuno_instance *instance);
void vuno_timer_tick(vuno_instance *instance);
/* One step of outgoing message handling; call it regularly. */
void vuno_process_requests(vuno_instance *instance);

/* Host link. vmd_location: byte 0 passed to the ME, byte 1 PCIe bus,
 * byte 2 device (0..31), byte 3 function (0..7). */
int vuno_connect_to_host(vuno_instance *instance, uint32_t vmd_location,
                         vuno_link_callback connected_cb, void *connected_ctx,
                         vuno_link_callback lost_cb, void *lost_ctx);
int vuno_disconnect_from_host(vuno_instance *instance, int force, vuno_link_callback callback,
                              void *context);

/* Entry of the MCTP transport: a BMC-ME message from the ME (request set;
 * its tag is echoed in the reply) or the outcome of the exchange started by
 * the last command (request clear; mctp_status non-zero when it failed).
 * data excludes the transport's vendor header. */
void bmc_me_mctp_message_received(vuno_instance *instance, bool request, uint8_t tag,
                                  int mctp_status, const uint8_t *data, uint32_t length);

/*
 * Request operations. One operation per storage command of the executor.
 * Each takes the instance, its argument record (none for the two without),
 * the completion callback and the user context handed back to it. The
 * operation copies everything it needs from the record before it returns,
 * so the caller may release the record at once.
 *
 * Returns VUNO_STATUS_COMMAND_PENDING when the request is under way (the
 * callback follows exactly once); VUNO_STATUS_INVALID_PARAMETER for a
 * missing record or callback or a firmware image too large to describe;
 * VUNO_STATUS_BUSY, VUNO_STATUS_NOT_ENOUGH_MEMORY or VUNO_STATUS_LOCK_ERROR
 * when no request could be reserved; VUNO_STATUS_HOST_NOT_CONNECTED or
 * another status when the message could not be queued. Only the pending
 * status is followed by a callback.
 *
 * Records hold their fields in the order they travel, in host byte order.
 * Codes wider in the record than on the wire are cut to their wire width:
 * the scope type to 3 bits, flags to 1 bit, policy codes to 4 bits, the
 * RAID level and event types to 8 bits, the strip size code to 16 bits.
 * Identifiers are copied unchanged; one that does not apply is all zero
 * bytes.
 */

/* Scope of an inventory request or of an event subscription.
 * type: 0 Global, 1 Controller, 2 Array, 3 Volume, 4 Drive. */
typedef struct vuno_scope {
    uint32_t type;
    uint8_t identifier[VUNO_IDENTIFIER_SIZE];
} vuno_scope;

/* The drive, volume, controller or subscription an operation acts on. */
typedef struct vuno_identifier {
    uint8_t identifier[VUNO_IDENTIFIER_SIZE];
} vuno_identifier;

/* An object and a one-bit setting (1 = enable / yes). */
typedef struct vuno_identifier_flag {
    uint8_t identifier[VUNO_IDENTIFIER_SIZE];
    uint32_t flag;
} vuno_identifier_flag;

/* A volume and its cache policy code: 0 Unknown, 1 Disabled,
 * 2 Write Through, 3 Write Back. */
typedef struct vuno_identifier_policy {
    uint8_t identifier[VUNO_IDENTIFIER_SIZE];
    uint32_t policy;
} vuno_identifier_policy;

/* A target volume or array and the drives to rebuild onto or to add.
 * Allocate sizeof(vuno_identifier_list) + count * VUNO_IDENTIFIER_SIZE. */
typedef struct vuno_identifier_list {
    uint8_t identifier[VUNO_IDENTIFIER_SIZE];
    uint16_t count;
    uint8_t drives[][VUNO_IDENTIFIER_SIZE];
} vuno_identifier_list;

/* A firmware image for a slot, carried inline after the fixed fields.
 * Allocate sizeof(vuno_send_firmware_to_slot_args) + image_length. */
typedef struct vuno_send_firmware_to_slot_args {
    uint16_t slot;
    uint32_t image_length;
    uint8_t revision[8]; /* text, zero-padded */
    uint8_t image[];
} vuno_send_firmware_to_slot_args;

/* action: 0 on reset, 1 immediately. */
typedef struct vuno_update_drive_firmware_args {
    uint16_t slot;
    uint8_t drive[VUNO_IDENTIFIER_SIZE];
    uint32_t action;
} vuno_update_drive_firmware_args;

/* strip_size: strip size in KiB divided by 2. raid_level: 1 RAID 0,
 * 2 RAID 1, 3 RAID 10, 4 RAID 5 (0 unknown). size: passed through in the
 * caller's unit. write_hole_policy: 0 Off, 1 Distributed, 2 Journaling
 * Drive. Allocate sizeof(vuno_create_volume_args) + count * 16. */
typedef struct vuno_create_volume_args {
    uint16_t count;
    uint8_t name[16]; /* printable text, zero-padded, not terminated if full */
    uint32_t strip_size;
    uint32_t raid_level;
    uint64_t size;
    uint32_t existing_data;
    uint32_t write_hole_policy;
    uint8_t existing_data_drive[VUNO_IDENTIFIER_SIZE];
    uint8_t journaling_drive[VUNO_IDENTIFIER_SIZE];
    uint8_t drives[][VUNO_IDENTIFIER_SIZE];
} vuno_create_volume_args;

typedef struct vuno_expand_volume_args {
    uint8_t volume[VUNO_IDENTIFIER_SIZE];
    uint64_t size;
} vuno_expand_volume_args;

/* Codes as for vuno_create_volume_args. Allocate
 * sizeof(vuno_change_raid_level_args) + count * VUNO_IDENTIFIER_SIZE. */
typedef struct vuno_change_raid_level_args {
    uint8_t volume[VUNO_IDENTIFIER_SIZE];
    uint16_t strip_size;
    uint32_t raid_level;
    uint16_t count;
    uint8_t drives[][VUNO_IDENTIFIER_SIZE];
} vuno_change_raid_level_args;

typedef struct vuno_rename_volume_args {
    uint8_t volume[VUNO_IDENTIFIER_SIZE];
    uint8_t name[16]; /* printable text, zero-padded, not terminated if full */
} vuno_rename_volume_args;

/* policy: 0 Off, 1 Distributed, 2 Journaling Drive. */
typedef struct vuno_set_raid_write_hole_policy_args {
    uint8_t volume[VUNO_IDENTIFIER_SIZE];
    uint32_t policy;
    uint8_t journaling_drive[VUNO_IDENTIFIER_SIZE];
} vuno_set_raid_write_hole_policy_args;

/* Event types as the executor numbers them. Allocate
 * sizeof(vuno_create_event_subscription_args) + count * sizeof(uint32_t). */
typedef struct vuno_create_event_subscription_args {
    vuno_scope scope;
    uint8_t count;
    uint32_t event_types[];
} vuno_create_event_subscription_args;

/* argument: passed to the executor unchanged. */
typedef struct vuno_get_events_args {
    uint8_t subscription[VUNO_IDENTIFIER_SIZE];
    uint32_t argument;
} vuno_get_events_args;

/* Inventory within a scope. */
int vuno_get_drive_identifiers(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context);
int vuno_get_volume_identifiers(vuno_instance *instance, const vuno_scope *scope,
                                vuno_completion_callback callback, void *user_context);
int vuno_get_array_identifiers(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context);
int vuno_get_controller_identifiers(vuno_instance *instance, const vuno_scope *scope,
                                    vuno_completion_callback callback, void *user_context);
int vuno_get_drive_information(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context);
int vuno_get_volume_information(vuno_instance *instance, const vuno_scope *scope,
                                vuno_completion_callback callback, void *user_context);
int vuno_get_array_information(vuno_instance *instance, const vuno_scope *scope,
                               vuno_completion_callback callback, void *user_context);
int vuno_get_controller_information(vuno_instance *instance, const vuno_scope *scope,
                                    vuno_completion_callback callback, void *user_context);

/* Capabilities of one volume or controller, and of the executor. */
int vuno_get_volume_migration_capabilities(vuno_instance *instance, const vuno_identifier *volume,
                                           vuno_completion_callback callback, void *user_context);
int vuno_get_controller_raid_capabilities(vuno_instance *instance,
                                          const vuno_identifier *controller,
                                          vuno_completion_callback callback, void *user_context);
int vuno_get_executor_information(vuno_instance *instance, vuno_completion_callback callback,
                                  void *user_context);

/* Firmware. */
int vuno_get_firmware_slot_information(vuno_instance *instance, vuno_completion_callback callback,
                                       void *user_context);
int vuno_send_firmware_to_slot(vuno_instance *instance, const vuno_send_firmware_to_slot_args *args,
                               vuno_completion_callback callback, void *user_context);
int vuno_update_drive_firmware(vuno_instance *instance, const vuno_update_drive_firmware_args *args,
                               vuno_completion_callback callback, void *user_context);

/* Drives. */
int vuno_clear_drive_metadata(vuno_instance *instance, const vuno_identifier *drive,
                              vuno_completion_callback callback, void *user_context);
int vuno_mark_drive_as_spare(vuno_instance *instance, const vuno_identifier *drive,
                             vuno_completion_callback callback, void *user_context);
int vuno_unmark_spare_drive(vuno_instance *instance, const vuno_identifier *drive,
                            vuno_completion_callback callback, void *user_context);
int vuno_mark_drive_as_normal(vuno_instance *instance, const vuno_identifier *drive,
                              vuno_completion_callback callback, void *user_context);
int vuno_set_volatile_write_cache_on_drive(vuno_instance *instance,
                                           const vuno_identifier_flag *drive_enable,
                                           vuno_completion_callback callback, void *user_context);
int vuno_reset_smart_event_on_drive(vuno_instance *instance, const vuno_identifier *drive,
                                    vuno_completion_callback callback, void *user_context);
int vuno_activate_drive_led(vuno_instance *instance, const vuno_identifier *drive,
                            vuno_completion_callback callback, void *user_context);
int vuno_remove_drive(vuno_instance *instance, const vuno_identifier *drive,
                      vuno_completion_callback callback, void *user_context);

/* Volumes. */
int vuno_create_volume(vuno_instance *instance, const vuno_create_volume_args *args,
                       vuno_completion_callback callback, void *user_context);
int vuno_rebuild_volume(vuno_instance *instance, const vuno_identifier_list *volume_drives,
                        vuno_completion_callback callback, void *user_context);
int vuno_expand_volume(vuno_instance *instance, const vuno_expand_volume_args *args,
                       vuno_completion_callback callback, void *user_context);
int vuno_change_raid_level(vuno_instance *instance, const vuno_change_raid_level_args *args,
                           vuno_completion_callback callback, void *user_context);
int vuno_rename_volume(vuno_instance *instance, const vuno_rename_volume_args *args,
                       vuno_completion_callback callback, void *user_context);
int vuno_mark_volume_as_normal(vuno_instance *instance, const vuno_identifier *volume,
                               vuno_completion_callback callback, void *user_context);
/* flag: 1 repairs what the verification finds. */
int vuno_verify_volume(vuno_instance *instance, const vuno_identifier_flag *volume_repair,
                       vuno_completion_callback callback, void *user_context);
int vuno_cancel_volume_verification(vuno_instance *instance, const vuno_identifier *volume,
                                    vuno_completion_callback callback, void *user_context);
int vuno_initialize_volume(vuno_instance *instance, const vuno_identifier *volume,
                           vuno_completion_callback callback, void *user_context);
int vuno_set_volume_cache_policy(vuno_instance *instance,
                                 const vuno_identifier_policy *volume_policy,
                                 vuno_completion_callback callback, void *user_context);
int vuno_set_raid_write_hole_policy(vuno_instance *instance,
                                    const vuno_set_raid_write_hole_policy_args *args,
                                    vuno_completion_callback callback, void *user_context);
int vuno_delete_volume(vuno_instance *instance, const vuno_identifier *volume,
                       vuno_completion_callback callback, void *user_context);

/* Arrays and controllers. */
int vuno_add_drives_to_array(vuno_instance *instance, const vuno_identifier_list *array_drives,
                             vuno_completion_callback callback, void *user_context);
int vuno_set_volatile_write_cache_on_array(vuno_instance *instance,
                                           const vuno_identifier_flag *array_enable,
                                           vuno_completion_callback callback, void *user_context);
int vuno_set_rohi_policy(vuno_instance *instance, const vuno_identifier_flag *controller_enable,
                         vuno_completion_callback callback, void *user_context);
int vuno_set_read_patrol_policy(vuno_instance *instance,
                                const vuno_identifier_flag *controller_enable,
                                vuno_completion_callback callback, void *user_context);

/* Events. A GetEvents request waits for the executor's answer without a
 * time-out. */
int vuno_create_event_subscription(vuno_instance *instance,
                                   const vuno_create_event_subscription_args *args,
                                   vuno_completion_callback callback, void *user_context);
int vuno_cancel_event_subscription(vuno_instance *instance, const vuno_identifier *subscription,
                                   vuno_completion_callback callback, void *user_context);
int vuno_get_events(vuno_instance *instance, const vuno_get_events_args *args,
                    vuno_completion_callback callback, void *user_context);

/* Whether vuno_process_requests() would do anything now (send a frame, or
 * finish, hand over or end a message). While false, no step changes
 * anything until a request, an ME message, a tick or a connect enters the
 * library; ask again after each. Takes the Service Protocol's lock. */
bool vuno_has_pending_work(vuno_instance *instance);

/* Bytes sent so far and size of the Data message on its way to the host,
 * or 0 and 0 when none is; either pointer may be NULL. */
void vuno_transmit_progress(vuno_instance *instance, uint32_t *sent, uint32_t *total);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_H */
