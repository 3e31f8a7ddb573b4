#include "utils.h"

#include <assert.h>
#include <stddef.h>
#include <stdlib.h>

void list_init(struct list *list, list_destroy_fn destroy) {
    if (list == NULL) {
        return;
    }
    list->head = NULL;
    list->destroy = destroy != NULL ? destroy : free;
}

int list_push_front(struct list *list, void *item) {
    if (list == NULL || item == NULL) {
        return -1;
    }
    struct list_node *node = sized_alloc(sizeof *node);
    if (node == NULL) {
        return -1;
    }
    node->item = item;
    node->prev = NULL;
    node->next = list->head;
    if (list->head != NULL) {
        list->head->prev = node;
    }
    list->head = node;
    return 0;
}

void list_remove(struct list *list, struct list_node *node) {
    if (list == NULL || list->head == NULL || node == NULL) {
        return;
    }
    /* Only the head has no predecessor; anything else means the node
     * belongs to another list. */
    assert(node->prev != NULL || node == list->head);
    if (node->prev != NULL) {
        node->prev->next = node->next;
    } else {
        list->head = node->next;
    }
    if (node->next != NULL) {
        node->next->prev = node->prev;
    }
    list->destroy(node->item);
    sized_free(&node);
}

void list_clear(struct list *list) {
    if (list == NULL) {
        return;
    }
    while (list->head != NULL) {
        list_remove(list, list->head);
    }
}
