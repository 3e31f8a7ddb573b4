#include "utils.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define SIZE_PREFIX_BYTES 4u
/* The prefix is padded to the strictest alignment so that records holding
 * 64-bit fields and pointers are aligned; the size sits in the four bytes
 * just before the block. */
#define BLOCK_HEADER_BYTES ((uint32_t) _Alignof(max_align_t))

/*
 * Records hold protocol state and payloads from the host; zeroing them just
 * before free() is a dead store the compiler may drop, so the wipe goes
 * through a pointer it cannot see through.
 */
static void *(*const volatile wipe)(void *, int, size_t) = memset;

void *sized_alloc(uint32_t size) {
#if SIZE_MAX <= UINT32_MAX
    /* On 32-bit targets the prefix could wrap the allocation size. */
    if (size > SIZE_MAX - BLOCK_HEADER_BYTES) {
        return NULL;
    }
#endif
    uint8_t *base = malloc((size_t)size + BLOCK_HEADER_BYTES);
    if (base == NULL) {
        return NULL;
    }
    uint8_t *block = base + BLOCK_HEADER_BYTES;
    put_le32(block - SIZE_PREFIX_BYTES, size);
    return block;
}

void *sized_zalloc(uint32_t size) {
    void *block = sized_alloc(size);
    if (block != NULL) {
        memset(block, 0, size);
    }
    return block;
}

void sized_free(void *pointer_address) {
    if (pointer_address == NULL) {
        return;
    }
    uint8_t *block;
    /* The caller's pointer may have any object pointer type: copy its
     * representation rather than reading it through a void ** lvalue. */
    memcpy(&block, pointer_address, sizeof block);
    if (block == NULL) {
        return;
    }
    uint8_t *base = block - BLOCK_HEADER_BYTES;
    wipe(base, 0, (size_t)sized_size(block) + BLOCK_HEADER_BYTES);
    free(base);
    memset(pointer_address, 0, sizeof block);
}

uint32_t sized_size(const void *block) {
    if (block == NULL) {
        return 0;
    }
    return get_le32((const uint8_t *)block - SIZE_PREFIX_BYTES);
}

static unsigned mask_shift(uint8_t mask) {
    unsigned shift = 0;
    while ((mask & (1u << shift)) == 0) {
        ++shift;
    }
    return shift;
}

void set_bits(uint8_t *byte, uint8_t mask, uint32_t value) {
    if (byte == NULL || mask == 0) {
        return;
    }
    const uint32_t placed = (value << mask_shift(mask)) & mask;
    *byte = (uint8_t)((*byte & (uint8_t)~mask) | placed);
}

uint8_t get_bits(uint8_t byte, uint8_t mask) {
    if (mask == 0) {
        return 0;
    }
    return (uint8_t)((byte & mask) >> mask_shift(mask));
}

uint16_t get_le16(const uint8_t *p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

void put_le16(uint8_t *p, uint16_t value) {
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
}

uint32_t get_le32(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void put_le32(uint8_t *p, uint32_t value) {
    put_le16(p, (uint16_t)value);
    put_le16(p + 2, (uint16_t)(value >> 16));
}

uint32_t get_be32(const uint8_t *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

void put_be32(uint8_t *p, uint32_t value) {
    p[0] = (uint8_t)(value >> 24);
    p[1] = (uint8_t)(value >> 16);
    p[2] = (uint8_t)(value >> 8);
    p[3] = (uint8_t)value;
}

uint64_t get_le64(const uint8_t *p) {
    return (uint64_t)get_le32(p) | ((uint64_t)get_le32(p + 4) << 32);
}

void put_le64(uint8_t *p, uint64_t value) {
    put_le32(p, (uint32_t)value);
    put_le32(p + 4, (uint32_t)(value >> 32));
}
