/*
 * Reader cursor for SSI response payloads: fields are taken in wire order
 * from a buffer of known length, so no decoder does its own offset
 * arithmetic. A read past the end yields zeros, does not move the cursor
 * and is remembered, so a decoder checks once after its reads instead of
 * before each one.
 */
#ifndef VUNO_PAYLOAD_READER_H
#define VUNO_PAYLOAD_READER_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct payload_reader {
    const uint8_t *data;
    uint32_t length;
    uint32_t offset; /* next byte to read */
    bool overrun;
};

void payload_reader_init(struct payload_reader *reader, const uint8_t *data, uint32_t length);
/* The next `length` bytes as a reader of their own; the cursor moves past
 * them. Too few bytes left: an empty reader, and this one is overrun. */
struct payload_reader payload_take(struct payload_reader *reader, uint32_t length);
void payload_skip(struct payload_reader *reader, uint32_t length);
uint8_t payload_get_u8(struct payload_reader *reader);
uint16_t payload_get_le16(struct payload_reader *reader);
uint32_t payload_get_le32(struct payload_reader *reader);
uint64_t payload_get_le64(struct payload_reader *reader);
/* Copies `length` bytes, or zero-fills the destination when they are not
 * there. */
void payload_get_bytes(struct payload_reader *reader, void *destination, uint32_t length);
/* True when no read ran past the end and every byte was consumed. */
bool payload_reader_complete(const struct payload_reader *reader);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_PAYLOAD_READER_H */
