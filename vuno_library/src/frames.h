/*
 * Service Protocol frames: formats, limits, status values and the message
 * checksum. All multi-byte fields are little-endian.
 */
#ifndef VUNO_FRAMES_H
#define VUNO_FRAMES_H

#include "wire.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Frame type, bits 1..0 of byte 0. */
enum sp_frame_type {
    SP_FRAME_TYPE_CONTROL = 0,
    SP_FRAME_TYPE_DATA = 1,
    SP_FRAME_TYPE_STATUS = 2,
    SP_FRAME_TYPE_INVALID = 3,
};

#define SP_FRAME_TYPE_MASK 0x03u
#define SP_MESSAGE_ID_MASK 0xFCu   /* Data and Status Frames */
#define SP_CONTROL_TYPE_MASK 0xF8u /* control frames */

#define SP_CONTROL_TYPE_HEARTBEAT 0u
#define SP_SERVICE_ID_SSI 1u

/* Status values carried in byte 1 of a Status Frame. */
enum sp_status {
    SP_STATUS_SUCCESS = 0,
    SP_STATUS_INVALID_SERVICE_ID = 1,
    SP_STATUS_INVALID_TOTAL_BYTES = 2,
    SP_STATUS_INVALID_MESSAGE_ID = 3,
    SP_STATUS_INVALID_SEQUENCE = 4,
    SP_STATUS_INVALID_FRAME_SIZE = 5,
    SP_STATUS_SIZE_EXCEEDS_TOTAL = 6,
    SP_STATUS_CRC_ERROR = 7,
    SP_STATUS_NO_RESOURCES = 8,
};

#define SP_MAX_FRAME_SIZE 1014u
#define SP_HEARTBEAT_FRAME_SIZE 5u
#define SP_STATUS_FRAME_SIZE 2u
#define SP_FIRST_HEADER_SIZE 13u
#define SP_NEXT_HEADER_SIZE 3u
#define SP_FIRST_PART_MAX (SP_MAX_FRAME_SIZE - SP_FIRST_HEADER_SIZE) /* 1001 */
#define SP_NEXT_PART_MAX (SP_MAX_FRAME_SIZE - SP_NEXT_HEADER_SIZE)   /* 1011 */
/* The index of the last frame of the largest message still fits in 16 bits. */
#define SP_MAX_MESSAGE_SIZE (SP_FIRST_PART_MAX + 65535u * SP_NEXT_PART_MAX) /* 66,256,886 */

/* Fields of a Data Frame [0] header. */
struct sp_first_header {
    uint8_t service_id;
    uint8_t reserved;
    uint32_t total;
    uint32_t crc;
};

/*
 * The message checksum: CRC-32C over the Service ID, the reserved byte, the
 * Total number of bytes, four zero bytes for the CRC field and then the
 * whole payload.
 */
uint32_t sp_message_crc(uint8_t service_id, uint8_t reserved, uint32_t total,
                        const uint8_t *payload, uint32_t payload_size);

/* Segmentation: payload bytes carried by Data Frame [0], and by the later
 * frame that starts at `offset` of a message of `total` bytes. */
uint32_t sp_first_part_size(uint32_t total);
uint32_t sp_next_part_size(uint32_t total, uint32_t offset);

/* Frame fields through the wire cursors. Byte 0 of every frame: */
void sp_put_byte0(struct wire_writer *writer, uint8_t type);
/* Data Frame headers after byte 0: the index, then for Data Frame [0] the
 * Service ID, reserved byte, Total number of bytes and CRC. */
void sp_put_first_header(struct wire_writer *writer, const struct sp_first_header *header);
void sp_put_next_header(struct wire_writer *writer, uint16_t index);
void sp_get_first_header_fields(struct wire_reader *reader, struct sp_first_header *header);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_FRAMES_H */
