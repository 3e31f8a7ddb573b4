/*
 * Writer cursor for SSI request payloads: fields are appended in wire order
 * into a buffer of known size, so no builder does its own offset
 * arithmetic. A write that does not fit is dropped and remembered, and the
 * builder checks once at the end that the payload came out exactly full.
 */
#ifndef VUNO_PAYLOAD_WRITER_H
#define VUNO_PAYLOAD_WRITER_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct payload_writer {
    uint8_t *data;
    uint32_t size;
    uint32_t offset; /* next byte to write */
    bool overflowed;
};

void payload_writer_init(struct payload_writer *writer, uint8_t *data, uint32_t size);
void payload_put_u8(struct payload_writer *writer, uint8_t value);
void payload_put_le16(struct payload_writer *writer, uint16_t value);
void payload_put_le32(struct payload_writer *writer, uint32_t value);
void payload_put_le64(struct payload_writer *writer, uint64_t value);
void payload_put_bytes(struct payload_writer *writer, const uint8_t *bytes, uint32_t length);
/* True when every write fitted and the buffer is exactly full. */
bool payload_writer_complete(const struct payload_writer *writer);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_PAYLOAD_WRITER_H */
