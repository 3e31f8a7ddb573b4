#include "payload_writer.h"

#include "utils.h"

#include <stddef.h>
#include <string.h>

void payload_writer_init(struct payload_writer *writer, uint8_t *data, uint32_t size) {
    writer->data = data;
    writer->size = size;
    writer->offset = 0;
    writer->overflowed = false;
}

/* Claims the next `length` bytes, or NULL when they would run past the end;
 * once a write has been refused, later ones are refused too so that the
 * fields after it cannot land at the wrong offsets. */
static uint8_t *reserve(struct payload_writer *writer, uint32_t length) {
    if (writer->overflowed || length > writer->size - writer->offset) {
        writer->overflowed = true;
        return NULL;
    }
    uint8_t *field = writer->data + writer->offset;
    writer->offset += length;
    return field;
}

void payload_put_u8(struct payload_writer *writer, uint8_t value) {
    uint8_t *field = reserve(writer, 1);
    if (field != NULL) {
        *field = value;
    }
}

void payload_put_le16(struct payload_writer *writer, uint16_t value) {
    uint8_t *field = reserve(writer, 2);
    if (field != NULL) {
        put_le16(field, value);
    }
}

void payload_put_le32(struct payload_writer *writer, uint32_t value) {
    uint8_t *field = reserve(writer, 4);
    if (field != NULL) {
        put_le32(field, value);
    }
}

void payload_put_le64(struct payload_writer *writer, uint64_t value) {
    uint8_t *field = reserve(writer, 8);
    if (field != NULL) {
        put_le64(field, value);
    }
}

void payload_put_bytes(struct payload_writer *writer, const uint8_t *bytes, uint32_t length) {
    uint8_t *field = reserve(writer, length);
    if (field != NULL && length > 0) {
        memcpy(field, bytes, length);
    }
}

bool payload_writer_complete(const struct payload_writer *writer) {
    return !writer->overflowed && writer->offset == writer->size;
}
