/*
 * Small stateless helpers shared by all layers: length-prefixed heap blocks,
 * bit fields inside one byte, byte-order accessors for unaligned buffers,
 * chained CRC-32C and a doubly linked list.
 */
#ifndef VUNO_UTILS_H
#define VUNO_UTILS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Length-prefixed block: n bytes behind a prefix whose last 4 bytes hold n
 * (little-endian); the owner holds the address behind the prefix. The
 * prefix is padded so that the block is aligned for any type. The n bytes are not
 * cleared. Returns NULL when the heap is exhausted.
 */
void *sized_alloc(uint32_t size);
/* Like sized_alloc, with the n bytes zeroed. */
void *sized_zalloc(uint32_t size);
/*
 * Takes the address of a pointer to a block (any object pointer type).
 * Wipes the whole block with zeros, frees it and sets the pointer to NULL.
 * A NULL pointer is left alone.
 */
void sized_free(void *pointer_address);
/* Size n recorded in a block's prefix. */
uint32_t sized_size(const void *block);

/* Bit fields: the value is shifted by the position of the mask's lowest
 * set bit; mask 0 does nothing (get_bits gives 0). */
void set_bits(uint8_t *byte, uint8_t mask, uint32_t value);
uint8_t get_bits(uint8_t byte, uint8_t mask);

uint16_t get_le16(const uint8_t *p);
void put_le16(uint8_t *p, uint16_t value);
uint32_t get_le32(const uint8_t *p);
void put_le32(uint8_t *p, uint32_t value);
uint32_t get_be32(const uint8_t *p);
void put_be32(uint8_t *p, uint32_t value);
uint64_t get_le64(const uint8_t *p);
void put_le64(uint8_t *p, uint64_t value);

/*
 * CRC-32C (Castagnoli, reflected 0x82F63B78). With a previous CRC the
 * computation continues from it, so crc32c(&crc(A), B) == crc(A || B).
 * A zero length returns the previous CRC, or 0 when there is none.
 */
uint32_t crc32c(const uint32_t *previous, const uint8_t *data, uint32_t length);

/* Doubly linked list owning its items. */
struct list_node {
    struct list_node *next; /* toward the tail */
    struct list_node *prev; /* toward the head */
    void *item;
};

typedef void (*list_destroy_fn)(void *item);

struct list {
    struct list_node *head;
    list_destroy_fn destroy; /* free() when none was given */
};

void list_init(struct list *list, list_destroy_fn destroy);
/* Inserts at the head. Returns 0, or -1 when the list or item is NULL or no
 * node could be allocated: the item is then not inserted and stays the
 * caller's. */
int list_push_front(struct list *list, void *item);
/* Unlinks the node, destroys its item and frees the node. */
void list_remove(struct list *list, struct list_node *node);
void list_clear(struct list *list);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_UTILS_H */
