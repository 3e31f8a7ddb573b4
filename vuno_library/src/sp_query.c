/*
 * Read-only questions the host process may ask the Service Protocol between
 * calls: whether a processing step has anything to do, so that it can
 * schedule steps instead of making them blindly, and how far a long
 * transfer has got.
 */
#define LOG_SOURCE "service_protocol"

#include "service_protocol.h"

#include <stddef.h>

/* A message in these states is moved on by a processing step; in the
 * others it waits for the ME, the host or a tick. */
static bool step_moves(const struct sp_message *message) {
    return message != NULL && (message->state == SP_MESSAGE_STATE_READY ||
                               message->state == SP_MESSAGE_STATE_COMPLETED ||
                               message->state == SP_MESSAGE_STATE_FAILED);
}

/* The message the next step will look at, chosen as that step chooses. A
 * completed Status message is looked at whatever it lets through. */
static const struct sp_message *next_step_message(const struct sp_context *sp) {
    const struct sp_message *current = sp->current;
    const struct sp_message *head = sp->queue_head;
    if (current == NULL) {
        return head;
    }
    const bool waiting = current->state == SP_MESSAGE_STATE_READY ||
                         current->state == SP_MESSAGE_STATE_WAITING_FOR_STATUS;
    if (waiting && head != NULL && head->type == SP_MESSAGE_TYPE_STATUS) {
        return head;
    }
    return current;
}

bool vuno_has_pending_work(vuno_instance *instance) {
    if (instance == NULL || instance->sp_ctx == NULL) {
        return false;
    }
    const struct sp_context *sp = instance->sp_ctx;
    /* A step that cannot lock either does nothing; asking for one is safe. */
    if (!LOCK(instance, sp->lock, LOCK_OR_GIVE_UP)) {
        return true;
    }
    bool pending;
    if (sp->link_state != SP_LINK_CONNECTED) {
        /* Every message left is ended by the next step. */
        pending = sp->current != NULL || sp->queue_head != NULL;
    } else {
        pending = step_moves(next_step_message(sp));
    }
    UNLOCK(instance, sp->lock);
    return pending;
}

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
        LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        const struct sp_message *message = message_in_transmission(instance->sp_ctx);
        if (message != NULL) {
            sent_bytes = message->offset;
            total_bytes = message->total;
        }
        UNLOCK(instance, instance->sp_ctx->lock);
    }
    if (sent != NULL) {
        *sent = sent_bytes;
    }
    if (total != NULL) {
        *total = total_bytes;
    }
}
