#include "wire.h"

#include "utils.h"

#include <stddef.h>
#include <string.h>

void wire_reader_init(struct wire_reader *reader, const uint8_t *data, uint32_t length) {
    reader->data = data;
    reader->length = data == NULL ? 0 : length;
    reader->offset = 0;
    reader->overrun = false;
}

static bool fits(struct wire_reader *reader, uint32_t length) {
    if (length > reader->length - reader->offset) {
        reader->overrun = true;
        return false;
    }
    return true;
}

/* The address of the next `length` (at least 1) bytes, consumed; NULL when
 * they are not all there. */
static const uint8_t *consume(struct wire_reader *reader, uint32_t length) {
    if (!fits(reader, length)) {
        return NULL;
    }
    const uint8_t *field = reader->data + reader->offset;
    reader->offset += length;
    return field;
}

struct wire_reader wire_take(struct wire_reader *reader, uint32_t length) {
    struct wire_reader part;
    wire_reader_init(&part, NULL, 0);
    /* An empty part needs no address: the payload itself may have none. */
    if (length == 0 || !fits(reader, length)) {
        return part;
    }
    wire_reader_init(&part, reader->data + reader->offset, length);
    reader->offset += length;
    return part;
}

uint32_t wire_remaining(const struct wire_reader *reader) {
    return reader->length - reader->offset;
}

uint8_t wire_get_u8(struct wire_reader *reader) {
    const uint8_t *field = consume(reader, 1);
    return field == NULL ? 0 : field[0];
}

uint16_t wire_get_le16(struct wire_reader *reader) {
    const uint8_t *field = consume(reader, 2);
    return field == NULL ? 0 : get_le16(field);
}

uint32_t wire_get_le32(struct wire_reader *reader) {
    const uint8_t *field = consume(reader, 4);
    return field == NULL ? 0 : get_le32(field);
}

uint64_t wire_get_le64(struct wire_reader *reader) {
    const uint8_t *field = consume(reader, 8);
    return field == NULL ? 0 : get_le64(field);
}

uint32_t wire_get_be32(struct wire_reader *reader) {
    const uint8_t *field = consume(reader, 4);
    return field == NULL ? 0 : get_be32(field);
}

void wire_get_bytes(struct wire_reader *reader, void *destination, uint32_t length) {
    const uint8_t *field = consume(reader, length);
    if (field == NULL) {
        memset(destination, 0, length);
        return;
    }
    memcpy(destination, field, length);
}

bool wire_reader_complete(const struct wire_reader *reader) {
    return !reader->overrun && reader->offset == reader->length;
}

void wire_writer_init(struct wire_writer *writer, uint8_t *data, uint32_t size) {
    writer->data = data;
    writer->size = data == NULL ? 0 : size;
    writer->offset = 0;
    writer->overflowed = false;
}

/* Claims the next `length` bytes, or NULL when they would run past the end;
 * once a write has been refused, later ones are refused too so that the
 * fields after it cannot land at the wrong offsets. */
static uint8_t *reserve(struct wire_writer *writer, uint32_t length) {
    if (writer->overflowed || length > writer->size - writer->offset) {
        writer->overflowed = true;
        return NULL;
    }
    uint8_t *field = writer->data + writer->offset;
    writer->offset += length;
    return field;
}

void wire_put_u8(struct wire_writer *writer, uint8_t value) {
    uint8_t *field = reserve(writer, 1);
    if (field != NULL) {
        *field = value;
    }
}

void wire_put_le16(struct wire_writer *writer, uint16_t value) {
    uint8_t *field = reserve(writer, 2);
    if (field != NULL) {
        put_le16(field, value);
    }
}

void wire_put_le32(struct wire_writer *writer, uint32_t value) {
    uint8_t *field = reserve(writer, 4);
    if (field != NULL) {
        put_le32(field, value);
    }
}

void wire_put_le64(struct wire_writer *writer, uint64_t value) {
    uint8_t *field = reserve(writer, 8);
    if (field != NULL) {
        put_le64(field, value);
    }
}

void wire_put_be32(struct wire_writer *writer, uint32_t value) {
    uint8_t *field = reserve(writer, 4);
    if (field != NULL) {
        put_be32(field, value);
    }
}

void wire_put_bytes(struct wire_writer *writer, const uint8_t *bytes, uint32_t length) {
    uint8_t *field = reserve(writer, length);
    if (field != NULL && length > 0) {
        memcpy(field, bytes, length);
    }
}

bool wire_writer_ok(const struct wire_writer *writer) {
    return !writer->overflowed;
}

bool wire_writer_complete(const struct wire_writer *writer) {
    return !writer->overflowed && writer->offset == writer->size;
}
