/*
 * Frames from the host: heartbeats go to link supervision, Status Frames to
 * transmission, and Data Frames are checked and reassembled into one
 * message, which is answered with a Status Frame.
 *
 * Reception is idle (no rx_payload) or receiving (rx_received < rx_total).
 * A message that arrives whole with a matching CRC leaves reception at once
 * with its Status Frame, so a host that starts its next message before that
 * Status Frame has gone out cannot cost it.
 */
#define LOG_SOURCE "service_protocol"

#include "service_protocol.h"
#include "utils.h"

/* Each handler gets byte 0 of the frame and a reader on the whole frame,
 * already past byte 0. */

static void handle_control_frame(vuno_instance *instance, uint8_t byte0,
                                 struct wire_reader *frame) {
    const uint32_t length = frame->length;
    const uint8_t control_type = get_bits(byte0, SP_CONTROL_TYPE_MASK);
    if (control_type != SP_CONTROL_TYPE_HEARTBEAT) {
        LOG_ERROR(instance, "Received Control Frame with invalid control type %d.", control_type);
        return;
    }
    if (length != SP_HEARTBEAT_FRAME_SIZE) {
        LOG_ERROR(instance, "Received heartbeat with invalid size %d.", length);
        return;
    }
    sp_heartbeat_received(instance, wire_get_le32(frame));
}

static void handle_status_frame(vuno_instance *instance, uint8_t byte0, struct wire_reader *frame) {
    if (frame->length != SP_STATUS_FRAME_SIZE) {
        LOG_ERROR(instance, "Received Status Frame with invalid size %d.", frame->length);
        return;
    }
    const uint8_t message_id = get_bits(byte0, SP_MESSAGE_ID_MASK);
    if (message_id != 0) {
        LOG_ERROR(instance, "Received Status Frame with invalid message ID %d.", message_id);
        return;
    }
    sp_status_frame_received(instance, wire_get_u8(frame));
}

static void abandon_reception(struct sp_context *ctx) {
    sized_free(&ctx->rx_payload);
    ctx->rx_received = 0;
    ctx->rx_last_index = 0;
}

static void check_completion(vuno_instance *instance) {
    struct sp_context *ctx = instance->sp_ctx;
    if (ctx->rx_received < ctx->rx_total) {
        LOG_DEBUG(instance, "Waiting for next Data Frame, received bytes %d, total bytes %d",
                  ctx->rx_received, ctx->rx_total);
        return;
    }
    const uint32_t crc = sp_message_crc((uint8_t)ctx->rx_service_id, ctx->rx_reserved,
                                        ctx->rx_total, ctx->rx_payload, ctx->rx_total);
    if (crc != ctx->rx_crc) {
        LOG_ERROR(instance, "Received message with incorrect CRC.");
        /* The host sends the whole message again. */
        abandon_reception(ctx);
        sp_queue_status_frame(instance, SP_STATUS_CRC_ERROR);
        return;
    }
    LOG_DEBUG(instance, "Message successfully received.");
    sp_queue_success_status(instance, &ctx->rx_payload, ctx->rx_total);
    abandon_reception(ctx);
}

/* Returns the Status value that refuses this first frame, or
 * SP_STATUS_SUCCESS when a reception may start from it. */
static uint32_t check_first_frame(vuno_instance *instance, uint32_t length,
                                  const struct sp_first_header *header) {
    LOG_DEBUG(instance, "Received Data Frame [0] with Message size %d for Service ID %d.",
              header->total, header->service_id);
    if (header->service_id != SP_SERVICE_ID_SSI) {
        LOG_ERROR(instance, "Received Data Frame 0 with Service ID %d.", header->service_id);
        return SP_STATUS_INVALID_SERVICE_ID;
    }
    if (header->total == 0 || header->total > SP_MAX_MESSAGE_SIZE) {
        LOG_ERROR(instance, "Received Data Frame 0 with Total number of bytes equal %d.",
                  header->total);
        return SP_STATUS_INVALID_TOTAL_BYTES;
    }
    if (length - SP_FIRST_HEADER_SIZE > header->total) {
        LOG_ERROR(instance,
                  "Invalid Data Frame [0] size = %d, mismatch between Total Number of Bytes and "
                  "Message Payload part size.",
                  length);
        return SP_STATUS_INVALID_FRAME_SIZE;
    }
    return SP_STATUS_SUCCESS;
}

/*
 * A first frame means the host has given up whatever message it was
 * sending before, so any message in reception ends here, even when the new
 * frame is refused: later frames of a refused message must not be appended
 * to an older one.
 */
static void handle_first_frame(vuno_instance *instance, struct wire_reader *frame) {
    struct sp_context *ctx = instance->sp_ctx;
    const uint32_t length = frame->length;
    abandon_reception(ctx);
    if (length < SP_FIRST_HEADER_SIZE) {
        LOG_ERROR(instance, "Invalid Data Frame [0] size = %d, expected minimum value = %d.",
                  length, SP_FIRST_HEADER_SIZE);
        sp_queue_status_frame(instance, SP_STATUS_INVALID_FRAME_SIZE);
        return;
    }
    struct sp_first_header header;
    sp_get_first_header_fields(frame, &header);
    const uint32_t refusal = check_first_frame(instance, length, &header);
    if (refusal != SP_STATUS_SUCCESS) {
        sp_queue_status_frame(instance, refusal);
        /* A header the host should never have sent is named after its
         * Status Frame is on its way. */
        if (refusal == SP_STATUS_INVALID_SERVICE_ID || refusal == SP_STATUS_INVALID_TOTAL_BYTES) {
            LOG_ERROR(instance, "Invalid Message Header");
        }
        return;
    }
    ctx->rx_service_id = header.service_id;
    ctx->rx_reserved = header.reserved;
    ctx->rx_total = header.total;
    ctx->rx_crc = header.crc;
    ctx->rx_payload = sized_alloc(header.total);
    if (ctx->rx_payload == NULL) {
        LOG_ERROR(instance, "Out of memory");
        sp_queue_status_frame(instance, SP_STATUS_NO_RESOURCES);
        return;
    }
    const uint32_t part = wire_remaining(frame);
    wire_get_bytes(frame, ctx->rx_payload, part);
    ctx->rx_received = part;
    ctx->rx_last_index = 0;
    check_completion(instance);
}

/* Returns the Status value that refuses this later frame, or
 * SP_STATUS_SUCCESS when it continues the message in reception. */
static uint32_t check_next_frame(vuno_instance *instance, uint16_t index, uint32_t length) {
    const struct sp_context *ctx = instance->sp_ctx;
    const uint32_t expected = ctx->rx_last_index + 1;
    if (ctx->rx_payload == NULL) {
        LOG_ERROR(instance, "Memory for payload not allocated - lack of Data Frame [0].");
        return SP_STATUS_NO_RESOURCES;
    }
    if (length == SP_NEXT_HEADER_SIZE) {
        LOG_ERROR(instance, "Invalid Data Frame [%d], size = %d, expected minimum value = %d.",
                  expected, length, SP_NEXT_HEADER_SIZE + 1);
        return SP_STATUS_INVALID_FRAME_SIZE;
    }
    if (length - SP_NEXT_HEADER_SIZE > ctx->rx_total - ctx->rx_received) {
        LOG_ERROR(instance,
                  "Invalid Data Frame [%d] size = %d, Message Payload part size exceeds Total "
                  "number of bytes.",
                  expected, length);
        return SP_STATUS_SIZE_EXCEEDS_TOTAL;
    }
    if (index != expected) {
        LOG_ERROR(instance,
                  "Invalid Data Frames sequence, last Data Frame ID: %d, received Data Frame ID: "
                  "%d.",
                  ctx->rx_last_index, index);
        return SP_STATUS_INVALID_SEQUENCE;
    }
    return SP_STATUS_SUCCESS;
}

/* A refused later frame leaves the reception as it was, so the host may
 * still send the frame that was expected. */
static void handle_next_frame(vuno_instance *instance, uint16_t index, struct wire_reader *frame) {
    struct sp_context *ctx = instance->sp_ctx;
    const uint32_t length = frame->length;
    LOG_DEBUG(instance, "Received Data Frame [%d] with Message part size %d.", index,
              length - SP_NEXT_HEADER_SIZE);
    const uint32_t refusal = check_next_frame(instance, index, length);
    if (refusal != SP_STATUS_SUCCESS) {
        sp_queue_status_frame(instance, refusal);
        return;
    }
    const uint32_t part = wire_remaining(frame);
    wire_get_bytes(frame, ctx->rx_payload + ctx->rx_received, part);
    ctx->rx_received += part;
    ctx->rx_last_index++;
    check_completion(instance);
}

static void handle_data_frame(vuno_instance *instance, uint8_t byte0, struct wire_reader *frame) {
    if (frame->length < SP_NEXT_HEADER_SIZE) {
        LOG_ERROR(instance, "Data Frame size = %d", frame->length);
        sp_queue_status_frame(instance, SP_STATUS_INVALID_FRAME_SIZE);
        return;
    }
    const uint8_t message_id = get_bits(byte0, SP_MESSAGE_ID_MASK);
    if (message_id != 0) {
        LOG_ERROR(instance, "Received Data Frame with invalid message ID %d.", message_id);
        sp_queue_status_frame(instance, SP_STATUS_INVALID_MESSAGE_ID);
        return;
    }
    const uint16_t index = wire_get_le16(frame);
    if (index == 0) {
        handle_first_frame(instance, frame);
    } else {
        handle_next_frame(instance, index, frame);
    }
}

void sp_hand_over_received(vuno_instance *instance, const uint8_t *message, uint32_t size) {
    if (message != NULL) {
        instance->deliver.message_received(instance, message, size);
    }
}

void sp_frame_received(vuno_instance *instance, const uint8_t *frame, uint32_t length) {
    if (frame == NULL || length == 0 || length > SP_MAX_FRAME_SIZE) {
        LOG_ERROR(instance, "Invalid Parameter");
        return;
    }
    struct wire_reader reader;
    wire_reader_init(&reader, frame, length);
    const uint8_t byte0 = wire_get_u8(&reader);
    const uint8_t type = get_bits(byte0, SP_FRAME_TYPE_MASK);
    LOG_DEBUG(instance, "Frame type %d received.", type);
    switch (type) {
    case SP_FRAME_TYPE_CONTROL:
        handle_control_frame(instance, byte0, &reader);
        break;
    case SP_FRAME_TYPE_DATA:
        handle_data_frame(instance, byte0, &reader);
        break;
    case SP_FRAME_TYPE_STATUS:
        handle_status_frame(instance, byte0, &reader);
        break;
    default:
        LOG_ERROR(instance, "Received Frame with invalid type %d.", type);
        break;
    }
}
