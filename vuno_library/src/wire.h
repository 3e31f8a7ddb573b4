/*
 * Cursors over wire bytes: every field the library reads from or writes to
 * a frame, a BMC-ME message, an SSI header or an SSI payload goes through
 * them, in wire order, from a buffer of known length, so no code does its
 * own offset arithmetic or relies on a length its caller checked.
 *
 * A read past the end yields zeros, does not move the cursor and is
 * remembered; a write that does not fit is dropped and remembered, and so
 * is every write after it. Code checks the cursor once after its fields
 * instead of before each one.
 */
#ifndef VUNO_WIRE_H
#define VUNO_WIRE_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct wire_reader {
    const uint8_t *data;
    uint32_t length;
    uint32_t offset; /* next byte to read */
    bool overrun;
};

void wire_reader_init(struct wire_reader *reader, const uint8_t *data, uint32_t length);
/* The next `length` bytes as a reader of their own; the cursor moves past
 * them. Too few bytes left: an empty reader, and this one is overrun. */
struct wire_reader wire_take(struct wire_reader *reader, uint32_t length);
uint32_t wire_remaining(const struct wire_reader *reader);
uint8_t wire_get_u8(struct wire_reader *reader);
uint16_t wire_get_le16(struct wire_reader *reader);
uint32_t wire_get_le32(struct wire_reader *reader);
uint64_t wire_get_le64(struct wire_reader *reader);
uint32_t wire_get_be32(struct wire_reader *reader);
/* Copies `length` bytes, or zero-fills the destination when they are not
 * there. */
void wire_get_bytes(struct wire_reader *reader, void *destination, uint32_t length);
/* True when no read ran past the end and every byte was consumed. */
bool wire_reader_complete(const struct wire_reader *reader);

struct wire_writer {
    uint8_t *data;
    uint32_t size;
    uint32_t offset; /* next byte to write */
    bool overflowed;
};

void wire_writer_init(struct wire_writer *writer, uint8_t *data, uint32_t size);
void wire_put_u8(struct wire_writer *writer, uint8_t value);
void wire_put_le16(struct wire_writer *writer, uint16_t value);
void wire_put_le32(struct wire_writer *writer, uint32_t value);
void wire_put_le64(struct wire_writer *writer, uint64_t value);
void wire_put_be32(struct wire_writer *writer, uint32_t value);
void wire_put_bytes(struct wire_writer *writer, const uint8_t *bytes, uint32_t length);
/* True when no write was dropped: writer->offset bytes are in place. */
bool wire_writer_ok(const struct wire_writer *writer);
/* True when every write fitted and the buffer is exactly full. */
bool wire_writer_complete(const struct wire_writer *writer);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_WIRE_H */
