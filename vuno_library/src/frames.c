#include "frames.h"

#include "utils.h"

#include <stddef.h>

/* Service ID, reserved byte, Total number of bytes and the zeroed CRC
 * field: bytes 3 to 12 of Data Frame [0]. */
#define CHECKSUMMED_HEADER_SIZE 10u

void sp_put_byte0(struct wire_writer *writer, uint8_t type) {
    /* Message IDs are not used: bits 7..2 always stay 0. */
    uint8_t byte0 = 0;
    set_bits(&byte0, SP_FRAME_TYPE_MASK, type);
    wire_put_u8(writer, byte0);
}

void sp_put_next_header(struct wire_writer *writer, uint16_t index) {
    sp_put_byte0(writer, SP_FRAME_TYPE_DATA);
    wire_put_le16(writer, index);
}

void sp_put_first_header(struct wire_writer *writer, const struct sp_first_header *header) {
    sp_put_next_header(writer, 0);
    wire_put_u8(writer, header->service_id);
    wire_put_u8(writer, header->reserved);
    wire_put_le32(writer, header->total);
    wire_put_le32(writer, header->crc);
}

void sp_get_first_header_fields(struct wire_reader *reader, struct sp_first_header *header) {
    header->service_id = wire_get_u8(reader);
    header->reserved = wire_get_u8(reader);
    header->total = wire_get_le32(reader);
    header->crc = wire_get_le32(reader);
}

uint32_t sp_message_crc(uint8_t service_id, uint8_t reserved, uint32_t total,
                        const uint8_t *payload, uint32_t payload_size) {
    uint8_t header[CHECKSUMMED_HEADER_SIZE] = {0};
    struct wire_writer writer;
    wire_writer_init(&writer, header, sizeof header);
    wire_put_u8(&writer, service_id);
    wire_put_u8(&writer, reserved);
    wire_put_le32(&writer, total);
    const uint32_t header_crc = crc32c(NULL, header, sizeof header);
    return crc32c(&header_crc, payload, payload_size);
}

uint32_t sp_first_part_size(uint32_t total) {
    return total < SP_FIRST_PART_MAX ? total : SP_FIRST_PART_MAX;
}

uint32_t sp_next_part_size(uint32_t total, uint32_t offset) {
    if (offset >= total) {
        return 0;
    }
    const uint32_t remaining = total - offset;
    return remaining < SP_NEXT_PART_MAX ? remaining : SP_NEXT_PART_MAX;
}
