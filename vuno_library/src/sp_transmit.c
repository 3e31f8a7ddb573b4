/*
 * Outgoing side of the Service Protocol: the queue of BMC messages (Data
 * messages for the host and the BMC's own Status Frames), segmentation into
 * Data Frames, frame and message retransmission, and completion.
 *
 * Work advances in small steps: vuno_process_requests() starts transfers
 * and completes finished messages, the BMC-ME callbacks and Status Frames
 * from the host change message states, and the timer tick ages the wait
 * for a Status Frame.
 */
#define LOG_SOURCE "service_protocol"

#include "bmc_me_over_mctp.h"
#include "service_protocol.h"
#include "utils.h"

#include <assert.h>

/* ---- queue ---- */

static void queue_append(struct sp_context *context, struct sp_message *message) {
    message->next = NULL;
    *context->queue_tail = message;
    context->queue_tail = &message->next;
}

static void queue_push_head(struct sp_context *context, struct sp_message *message) {
    message->next = context->queue_head;
    if (context->queue_head == NULL) {
        context->queue_tail = &message->next;
    }
    context->queue_head = message;
}

/* Unlinks the message that *link points at. */
static struct sp_message *queue_unlink(struct sp_context *context, struct sp_message **link) {
    struct sp_message *message = *link;
    if (message == NULL) {
        return NULL;
    }
    *link = message->next;
    if (message->next == NULL) {
        context->queue_tail = link;
    }
    message->next = NULL;
    return message;
}

static struct sp_message *queue_pop_head(struct sp_context *context) {
    return queue_unlink(context, &context->queue_head);
}

/* Link to the first queued Data message (only a completed one if asked),
 * or NULL. */
static struct sp_message **queue_find_data(struct sp_context *context, bool completed_only) {
    for (struct sp_message **link = &context->queue_head; *link != NULL; link = &(*link)->next) {
        const struct sp_message *message = *link;
        if (message->type == SP_MESSAGE_TYPE_DATA &&
            (!completed_only || message->state == SP_MESSAGE_STATE_COMPLETED)) {
            return link;
        }
    }
    return NULL;
}

/* ---- message records ---- */

static struct sp_message *allocate_message(uint32_t frame_size) {
    struct sp_message *message = sized_zalloc((uint32_t)sizeof(*message) + frame_size);
    if (message != NULL) {
        message->frame = (uint8_t *)(message + 1);
        message->frame_size = frame_size;
    }
    return message;
}

void sp_free_message(struct sp_message **message) {
    if (message == NULL || *message == NULL) {
        return;
    }
    if ((*message)->type == SP_MESSAGE_TYPE_STATUS) {
        sized_free(&(*message)->payload);
    }
    sized_free(message);
}

/* The frame buffer is sized for the largest frame of its message. */
static void seal_frame(struct sp_message *message, const struct wire_writer *frame) {
    assert(wire_writer_ok(frame) && "frame buffer too small for its frame");
    message->frame_length = frame->offset;
}

/* Builds Data Frame [0] and rewinds the message to it. */
static void prepare_first_frame(vuno_instance *instance, struct sp_message *message) {
    const uint32_t part = sp_first_part_size(message->total);
    LOG_DEBUG(instance, "First Message Payload part size %d", part);
    message->offset = 0;
    message->status_ticks = 0;
    message->state = SP_MESSAGE_STATE_READY;
    message->result = 0;
    message->next_index = 1;
    message->part_size = part;

    const struct sp_first_header header = {
        .service_id = (uint8_t)message->service_id,
        .reserved = message->reserved,
        .total = message->total,
        .crc = message->crc,
    };
    struct wire_writer frame;
    wire_writer_init(&frame, message->frame, message->frame_size);
    sp_put_first_header(&frame, &header);
    wire_put_bytes(&frame, message->payload, part);
    seal_frame(message, &frame);
}

/* Builds the frame that follows the one just transferred. */
static void prepare_next_frame(vuno_instance *instance, struct sp_message *message) {
    const uint32_t part = sp_next_part_size(message->total, message->offset);
    const uint32_t index = message->next_index++;
    message->part_size = part;
    message->state = SP_MESSAGE_STATE_READY;
    LOG_DEBUG(instance, "Sending Data Frame [%d] with Message Payload part size %d.", index, part);
    struct wire_writer frame;
    wire_writer_init(&frame, message->frame, message->frame_size);
    sp_put_next_header(&frame, (uint16_t)index);
    wire_put_bytes(&frame, message->payload + message->offset, part);
    seal_frame(message, &frame);
}

static void fail_message(struct sp_message *message, uint32_t result) {
    message->state = SP_MESSAGE_STATE_FAILED;
    message->result = result;
}

/* ---- submission ---- */

int sp_send_message(vuno_instance *instance, uint32_t service_id, const uint8_t *payload,
                    uint32_t size, sp_message_callback callback, void *context) {
    if (instance == NULL || instance->sp_ctx == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "Send message with size %d to service ID %d.", size, service_id);
    if (callback == NULL || payload == NULL) {
        LOG_ERROR(instance, "Invalid Parameter");
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    if (size == 0 || size > SP_MAX_MESSAGE_SIZE) {
        LOG_ERROR(instance, "Invalid Message size: %d", size);
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    if (service_id != SP_SERVICE_ID_SSI) {
        LOG_ERROR(instance, "Invalid Service ID: %d", service_id);
        return VUNO_STATUS_INVALID_PARAMETER;
    }

    struct sp_message *message = allocate_message(SP_FIRST_HEADER_SIZE + sp_first_part_size(size));
    if (message == NULL) {
        LOG_ERROR(instance, "Failed to allocate message buffer");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    message->type = SP_MESSAGE_TYPE_DATA;
    message->service_id = service_id;
    message->total = size;
    /* The payload stays the sender's until the callback: frames are cut
     * from it one at a time. */
    message->payload = (uint8_t *)payload;
    message->callback = callback;
    message->context = context;
    message->crc = sp_message_crc((uint8_t)service_id, message->reserved, size, payload, size);
    prepare_first_frame(instance, message);

    struct sp_context *sp = instance->sp_ctx;
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    if (sp->link_state != SP_LINK_CONNECTED) {
        LOG_ERROR(instance, "Host not connected, state %d", sp->link_state);
        UNLOCK(instance, instance->sp_ctx->lock);
        sp_free_message(&message);
        return VUNO_STATUS_HOST_NOT_CONNECTED;
    }
    queue_append(sp, message);
    UNLOCK(instance, instance->sp_ctx->lock);
    return VUNO_STATUS_COMMAND_PENDING;
}

/* The Status message keeps its status value as its result, which a failed
 * transfer overwrites; only a result of 0 hands its payload on. */
static void queue_status_message(vuno_instance *instance, uint32_t status, uint8_t **payload,
                                 uint32_t size) {
    struct sp_message *message = allocate_message(SP_STATUS_FRAME_SIZE);
    if (message == NULL) {
        LOG_ERROR(instance, "Unable to allocate memory for status message");
        sized_free(payload);
        return;
    }
    message->type = SP_MESSAGE_TYPE_STATUS;
    struct wire_writer frame;
    wire_writer_init(&frame, message->frame, message->frame_size);
    sp_put_byte0(&frame, SP_FRAME_TYPE_STATUS);
    wire_put_u8(&frame, (uint8_t)status);
    seal_frame(message, &frame);
    message->state = SP_MESSAGE_STATE_READY;
    message->result = status;
    message->payload = *payload;
    message->received_size = size;
    *payload = NULL;
    LOG_DEBUG(instance, "Queuing status frame");

    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    queue_push_head(instance->sp_ctx, message);
    UNLOCK(instance, instance->sp_ctx->lock);
}

void sp_queue_status_frame(vuno_instance *instance, uint32_t status) {
    uint8_t *none = NULL;
    queue_status_message(instance, status, &none, 0);
}

void sp_queue_success_status(vuno_instance *instance, uint8_t **message, uint32_t size) {
    queue_status_message(instance, SP_STATUS_SUCCESS, message, size);
}

void sp_fail_current_message(vuno_instance *instance, uint32_t result) {
    struct sp_message *message = instance->sp_ctx->current;
    if (message != NULL) {
        fail_message(message, result);
    }
}

/* ---- the host's verdict on a Data message ---- */

void sp_status_frame_received(vuno_instance *instance, uint32_t status) {
    struct sp_context *sp = instance->sp_ctx;
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    struct sp_message *message = sp->current;
    if (message == NULL || message->type != SP_MESSAGE_TYPE_DATA) {
        struct sp_message **link = queue_find_data(sp, false);
        message = link != NULL ? *link : NULL;
    }
    if (message == NULL) {
        LOG_ERROR(instance, "Received status frame for a non-existing message");
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    }

    if (status == SP_STATUS_SUCCESS) {
        LOG_DEBUG(instance, "Received Status Frame - Message successfully sent");
        message->state = SP_MESSAGE_STATE_COMPLETED;
    } else if (status == SP_STATUS_CRC_ERROR) {
        LOG_ERROR(instance, "Received Status Frame with CRC error");
        if (message->message_retries < SP_MAX_MESSAGE_RETRIES) {
            LOG_DEBUG(instance, "Message retransmission, times %d", message->message_retries);
            message->message_retries++;
            prepare_first_frame(instance, message);
        } else {
            LOG_ERROR(instance, "Reached maximum Message retransmissions");
            fail_message(message, VUNO_STATUS_INTERNAL_ERROR);
        }
    } else {
        LOG_ERROR(instance, "Received Status Frame with status %d", status);
        fail_message(message, VUNO_STATUS_INTERNAL_ERROR);
    }
    UNLOCK(instance, instance->sp_ctx->lock);
}

/* ---- BMC-ME completion of a transfer ---- */

/*
 * The BMC-ME layer has one command outstanding at a time, and a message is
 * IN_TRANSFER exactly while its frame is that command. A report for a
 * message in any other state is a late one (for a transfer that was
 * refused after being accepted, or a message failed meanwhile) and must
 * not revive it.
 */
static struct sp_message *transfer_owner(struct sp_context *sp, uint32_t type) {
    struct sp_message *message = sp->current;
    if (message == NULL || message->type != type ||
        message->state != SP_MESSAGE_STATE_IN_TRANSFER) {
        return NULL;
    }
    return message;
}

static void data_frame_transferred(vuno_instance *instance, struct sp_message *message) {
    message->offset += message->part_size;
    message->frame_retries = 0;
    if (message->offset < message->total) {
        prepare_next_frame(instance, message);
    } else if (message->offset == message->total) {
        LOG_DEBUG(instance, "Message has been sent. Waiting for Status Frame.");
        message->status_ticks = 0;
        message->state = SP_MESSAGE_STATE_WAITING_FOR_STATUS;
    } else {
        LOG_ERROR(instance, "Message Payload offset %d exceeds Message Payload size %d.",
                  message->offset, message->total);
        fail_message(message, VUNO_STATUS_INTERNAL_ERROR);
    }
}

void response_data_frame_received_cb(vuno_instance *instance, uint32_t status) {
    struct sp_context *sp = instance->sp_ctx;
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    if (sp->current == NULL) {
        UNLOCK(instance, instance->sp_ctx->lock);
        LOG_ERROR(instance, "Invalid Parameter");
        return;
    }
    struct sp_message *message = transfer_owner(sp, SP_MESSAGE_TYPE_DATA);
    if (message == NULL) {
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    }

    const uint32_t index = message->next_index - 1;
    if (status == VUNO_STATUS_TIMEOUT && message->frame_retries < SP_MAX_FRAME_RETRIES) {
        LOG_DEBUG(instance, "Timeout occured during transferring Data Frame [%d].", index);
        message->frame_retries++;
        LOG_DEBUG(instance, "Frame will be retransmitted %d time.", message->frame_retries);
        message->state = SP_MESSAGE_STATE_READY;
    } else if (status == VUNO_STATUS_SUCCESS) {
        data_frame_transferred(instance, message);
    } else {
        LOG_ERROR(instance, "Error during transferring Data Frame [%d], status: %d.", index,
                  status);
        fail_message(message, status);
    }
    UNLOCK(instance, instance->sp_ctx->lock);
}

void response_status_frame_received_cb(vuno_instance *instance, uint32_t status) {
    if (status == VUNO_STATUS_SUCCESS) {
        LOG_DEBUG(instance, "Status Frame was sent successfully.");
    } else {
        LOG_ERROR(instance, "Error during sending Status Frame, status %d.", status);
    }

    struct sp_context *sp = instance->sp_ctx;
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    if (sp->current == NULL) {
        LOG_ERROR(instance, "Received response while nothing was sent");
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    }
    struct sp_message *message = transfer_owner(sp, SP_MESSAGE_TYPE_STATUS);
    if (message == NULL) {
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    }
    /* The host has the verdict or will time out on its own; either way the
     * received message is decided now. */
    message->state = SP_MESSAGE_STATE_COMPLETED;
    UNLOCK(instance, instance->sp_ctx->lock);
}

/* ---- time-outs ---- */

void sp_check_status_timeout(vuno_instance *instance) {
    if (instance == NULL || instance->sp_ctx == NULL) {
        return;
    }
    struct sp_context *sp = instance->sp_ctx;
    if (!LOCK(instance, sp->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    struct sp_message *message = sp->current;
    if (message != NULL && message->state == SP_MESSAGE_STATE_WAITING_FOR_STATUS &&
        ++message->status_ticks > SP_STATUS_TIMEOUT_TICKS) {
        LOG_ERROR(instance, "Waiting for status timeout occurred.");
        fail_message(message, VUNO_STATUS_TIMEOUT);
    }
    UNLOCK(instance, sp->lock);
}

/* ---- processing ---- */

/* Called without the lock, so that the callback may take it. */
static void end_message(vuno_instance *instance, struct sp_message *message, uint32_t status) {
    if (message->callback != NULL) {
        message->callback(instance, status, message->context);
    }
    sp_free_message(&message);
}

/* Ends every message with HostNotConnected, one at a time so that the
 * callbacks run without the lock. */
static void abort_all_messages(vuno_instance *instance) {
    struct sp_context *sp = instance->sp_ctx;
    for (;;) {
        LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
        struct sp_message *message = sp->current;
        if (message != NULL) {
            sp->current = NULL;
        } else {
            message = queue_pop_head(sp);
        }
        UNLOCK(instance, instance->sp_ctx->lock);
        if (message == NULL) {
            return;
        }
        end_message(instance, message, VUNO_STATUS_HOST_NOT_CONNECTED);
    }
}

void sp_withdraw_queued_messages(vuno_instance *instance, uint32_t status) {
    struct sp_context *sp = instance->sp_ctx;
    if (sp == NULL) {
        return;
    }
    for (;;) {
        LOCK(instance, sp->lock, LOCK_OR_STOP);
        struct sp_message **link = queue_find_data(sp, false);
        struct sp_message *message = link != NULL ? queue_unlink(sp, link) : NULL;
        UNLOCK(instance, sp->lock);
        if (message == NULL) {
            return;
        }
        LOG_DEBUG(instance, "Queued message withdrawn, status %d", status);
        end_message(instance, message, status);
    }
}

/*
 * Status Frames overtake Data messages that are waiting, and a Data
 * message the host has acknowledged completes before the received message
 * that a finished Status Frame delivers, so that the SSI engine learns of
 * the transmission before it sees the answer.
 */
static void choose_current(struct sp_context *sp) {
    struct sp_message *current = sp->current;
    if (current == NULL) {
        sp->current = queue_pop_head(sp);
        return;
    }
    if (current->type == SP_MESSAGE_TYPE_STATUS && current->state == SP_MESSAGE_STATE_COMPLETED) {
        struct sp_message **link = queue_find_data(sp, true);
        if (link != NULL) {
            sp->current = queue_unlink(sp, link);
            queue_push_head(sp, current);
        }
        return;
    }
    const int waiting = current->state == SP_MESSAGE_STATE_READY ||
                        current->state == SP_MESSAGE_STATE_WAITING_FOR_STATUS;
    if (waiting && sp->queue_head != NULL && sp->queue_head->type == SP_MESSAGE_TYPE_STATUS) {
        sp->current = queue_pop_head(sp);
        queue_push_head(sp, current);
    }
}

/* Called with the lock held; releases it. */
static void handle_message_transfer(vuno_instance *instance, struct sp_message *message) {
    message->state = SP_MESSAGE_STATE_IN_TRANSFER;
    UNLOCK(instance, instance->sp_ctx->lock);

    int result;
    if (message->type == SP_MESSAGE_TYPE_DATA) {
        LOG_DEBUG(instance, "Sending Data Frame [%u] with payload size %u", message->next_index - 1,
                  message->part_size);
        result = bmc_me_transfer_data(instance, message->frame, message->frame_length,
                                      response_data_frame_received_cb);
    } else {
        LOG_DEBUG(instance, "Sending Status Frame");
        result = bmc_me_transfer_data(instance, message->frame, message->frame_length,
                                      response_status_frame_received_cb);
    }
    if (result == VUNO_STATUS_COMMAND_PENDING) {
        return;
    }
    LOG_ERROR(instance, "Error %d during transfer", result);
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    fail_message(message, VUNO_STATUS_TRANSFER_TO_HOST_FAILED);
    UNLOCK(instance, instance->sp_ctx->lock);
}

/* Called with the lock held; releases it. */
static void handle_message_completion(vuno_instance *instance, struct sp_message *message) {
    instance->sp_ctx->current = NULL;
    UNLOCK(instance, instance->sp_ctx->lock);

    if (message->type == SP_MESSAGE_TYPE_DATA) {
        message->callback(instance, message->result, message->context);
    } else if (message->result == SP_STATUS_SUCCESS) {
        sp_hand_over_received(instance, message->payload, message->received_size);
    }
    sp_free_message(&message);
}

void vuno_process_requests(vuno_instance *instance) {
    if (instance == NULL || instance->sp_ctx == NULL) {
        return;
    }
    struct sp_context *sp = instance->sp_ctx;
    LOCK(instance, instance->sp_ctx->lock, LOCK_OR_STOP);
    if (sp->link_state != SP_LINK_CONNECTED) {
        UNLOCK(instance, instance->sp_ctx->lock);
        abort_all_messages(instance);
        return;
    }
    choose_current(sp);
    struct sp_message *message = sp->current;
    if (message == NULL) {
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    }
    switch (message->state) {
    case SP_MESSAGE_STATE_READY:
        handle_message_transfer(instance, message);
        return;
    case SP_MESSAGE_STATE_IN_TRANSFER:
    case SP_MESSAGE_STATE_WAITING_FOR_STATUS:
        UNLOCK(instance, instance->sp_ctx->lock);
        return;
    case SP_MESSAGE_STATE_COMPLETED:
    case SP_MESSAGE_STATE_FAILED:
        handle_message_completion(instance, message);
        return;
    default:
        UNLOCK(instance, instance->sp_ctx->lock);
        LOG_ERROR(instance, "Invalid message state: %d", message->state);
        assert(0 && "Invalid message state");
        return;
    }
}
