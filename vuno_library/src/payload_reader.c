#include "payload_reader.h"

#include "utils.h"

#include <stddef.h>
#include <string.h>

void payload_reader_init(struct payload_reader *reader, const uint8_t *data, uint32_t length) {
    reader->data = data;
    reader->length = length;
    reader->offset = 0;
    reader->overrun = false;
}

static bool fits(struct payload_reader *reader, uint32_t length) {
    if (length > reader->length - reader->offset) {
        reader->overrun = true;
        return false;
    }
    return true;
}

/* The address of the next `length` (at least 1) bytes, consumed; NULL when
 * they are not all there. */
static const uint8_t *consume(struct payload_reader *reader, uint32_t length) {
    if (!fits(reader, length)) {
        return NULL;
    }
    const uint8_t *field = reader->data + reader->offset;
    reader->offset += length;
    return field;
}

struct payload_reader payload_take(struct payload_reader *reader, uint32_t length) {
    struct payload_reader part;
    payload_reader_init(&part, NULL, 0);
    /* An empty part needs no address: the payload itself may have none. */
    if (length == 0 || !fits(reader, length)) {
        return part;
    }
    payload_reader_init(&part, reader->data + reader->offset, length);
    reader->offset += length;
    return part;
}

void payload_skip(struct payload_reader *reader, uint32_t length) {
    if (fits(reader, length)) {
        reader->offset += length;
    }
}

uint8_t payload_get_u8(struct payload_reader *reader) {
    const uint8_t *field = consume(reader, 1);
    return field == NULL ? 0 : field[0];
}

uint16_t payload_get_le16(struct payload_reader *reader) {
    const uint8_t *field = consume(reader, 2);
    return field == NULL ? 0 : get_le16(field);
}

uint32_t payload_get_le32(struct payload_reader *reader) {
    const uint8_t *field = consume(reader, 4);
    return field == NULL ? 0 : get_le32(field);
}

uint64_t payload_get_le64(struct payload_reader *reader) {
    const uint8_t *field = consume(reader, 8);
    return field == NULL ? 0 : get_le64(field);
}

void payload_get_bytes(struct payload_reader *reader, void *destination, uint32_t length) {
    const uint8_t *field = consume(reader, length);
    if (field == NULL) {
        memset(destination, 0, length);
        return;
    }
    memcpy(destination, field, length);
}

bool payload_reader_complete(const struct payload_reader *reader) {
    return !reader->overrun && reader->offset == reader->length;
}
