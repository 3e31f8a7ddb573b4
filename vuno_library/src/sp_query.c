/*
 * Read-only views of the Service Protocol's state for the process that
 * hosts the library, for example to show how far a long transfer has got.
 */
#include "service_protocol.h"

#include <stddef.h>

/*
 * The Data message whose frames are on the way: the current one, or the
 * one a Status Frame has just overtaken, which waits at the head of the
 * queue with part of it already sent.
 */
static const struct sp_message *message_in_transmission(const struct sp_context *sp) {
    const struct sp_message *current = sp->current;
    if (current != NULL && current->type == SP_MESSAGE_TYPE_DATA) {
        return current;
    }
    const struct sp_message *head = sp->queue_head;
    if (head != NULL && head->type == SP_MESSAGE_TYPE_DATA && head->offset > 0) {
        return head;
    }
    return NULL;
}

void vuno_transmit_progress(vuno_instance *instance, uint32_t *sent, uint32_t *total) {
    uint32_t sent_bytes = 0;
    uint32_t total_bytes = 0;
    if (instance != NULL && instance->sp_ctx != NULL &&
        instance->callbacks.lock(instance->sp_ctx->lock) != 0) {
        const struct sp_message *message = message_in_transmission(instance->sp_ctx);
        if (message != NULL) {
            sent_bytes = message->offset;
            total_bytes = message->total;
        }
        instance->callbacks.unlock(instance->sp_ctx->lock);
    }
    if (sent != NULL) {
        *sent = sent_bytes;
    }
    if (total != NULL) {
        *total = total_bytes;
    }
}
