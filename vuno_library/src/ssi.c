/*
 * SSI request engine: builds request headers, keeps the table of
 * outstanding requests (newest first) with their command identifiers,
 * matches responses to them, ages sent requests and ends each request with
 * exactly one completion callback.
 *
 * A request that ends while the Service Protocol still reads its message
 * (a termination, or a response that overtook the end of transmission)
 * gives up its identifier at once but keeps its entry, marked ended, until
 * the Service Protocol reports back: its buffer stays valid and its
 * address cannot be taken by a new request in the meantime.
 */
#define LOG_SOURCE "ssi"

#include "ssi.h"

#include "commands.h"
#include "frames.h"
#include "service_protocol.h"
#include "wire.h"

#include <stddef.h>

/* ---- table ---- */

static void destroy_request(void *item) {
    struct ssi_request *request = item;
    if (request == NULL) {
        return;
    }
    sized_free(&request->message);
    sized_free(&request);
}

static struct list_node *find_node(const struct ssi_context *ssi,
                                   const struct ssi_request *request) {
    for (struct list_node *node = ssi->requests.head; node != NULL; node = node->next) {
        if (node->item == request) {
            return node;
        }
    }
    return NULL;
}

static struct ssi_request *outstanding(const struct list_node *node) {
    struct ssi_request *request = node->item;
    return request->ended ? NULL : request;
}

static struct ssi_request *find_by_command_id(const struct ssi_context *ssi, uint8_t command_id) {
    for (struct list_node *node = ssi->requests.head; node != NULL; node = node->next) {
        struct ssi_request *request = outstanding(node);
        if (request != NULL && request->command_id == command_id) {
            return request;
        }
    }
    return NULL;
}

/* The smallest identifier no outstanding request uses, or -1. */
static int smallest_free_command_id(const struct ssi_context *ssi) {
    uint32_t used = 0;
    for (struct list_node *node = ssi->requests.head; node != NULL; node = node->next) {
        const struct ssi_request *request = outstanding(node);
        if (request != NULL) {
            used |= 1u << request->command_id;
        }
    }
    for (int id = 0; id < (int)SSI_MAX_OUTSTANDING; ++id) {
        if ((used & (1u << id)) == 0) {
            return id;
        }
    }
    return -1;
}

/* Takes an outstanding request out of the table; the lock is held. */
static void remove_locked(vuno_instance *instance, struct list_node *node) {
    struct ssi_context *ssi = instance->ssi_ctx;
    struct ssi_request *request = node->item;
    if (request->command_code == CMD_get_events) {
        if (ssi->get_events_count == 0) {
            LOG_ERROR(instance, "Unexpected number of get_events calls");
        } else {
            ssi->get_events_count--;
        }
    }
    if (request->in_transmission) {
        request->ended = 1;
        return;
    }
    list_remove(&ssi->requests, node);
}

/* Ends an outstanding request without a response; the lock is held. */
static void end_unanswered_locked(vuno_instance *instance, struct list_node *node,
                                  uint32_t status) {
    const struct ssi_request *request = node->item;
    request->callback(status, VUNO_SSI_STATUS_NO_RESPONSE, NULL, request->user_context);
    remove_locked(instance, node);
}

/* ---- life cycle ---- */

int ssi_initialize(vuno_instance *instance) {
    if (instance == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "SSI Initialize");
    struct ssi_context *ssi = sized_zalloc((uint32_t)sizeof(*ssi));
    if (ssi == NULL) {
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    list_init(&ssi->requests, destroy_request);
    ssi->get_events_count = 0;
    instance->ssi_ctx = ssi;
    ssi->lock = instance->callbacks.lock_create();
    if (ssi->lock == NULL) {
        LOG_ERROR(instance, "Lock not initialized");
        return VUNO_STATUS_LOCK_ERROR;
    }
    return VUNO_STATUS_SUCCESS;
}

int ssi_deinitialize(vuno_instance *instance) {
    if (instance == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "SSI Deinitialize");
    struct ssi_context *ssi = instance->ssi_ctx;
    if (ssi == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    /* Without a lock the initialisation failed before any request existed. */
    if (ssi->lock != NULL) {
        if (LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
            list_clear(&ssi->requests);
            UNLOCK(instance, instance->ssi_ctx->lock);
        }
        instance->callbacks.lock_destroy(ssi->lock);
    }
    sized_free(&instance->ssi_ctx);
    return VUNO_STATUS_SUCCESS;
}

/* ---- requests ---- */

/* Gives the request an identifier and a place in the table. */
static int reserve_request(vuno_instance *instance, struct ssi_request *request) {
    struct ssi_context *ssi = instance->ssi_ctx;
    if (!LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        LOG_DEBUG(instance, "Lack of free command identifier.");
        return VUNO_STATUS_BUSY;
    }
    const int command_id = smallest_free_command_id(ssi);
    if (command_id < 0) {
        UNLOCK(instance, instance->ssi_ctx->lock);
        LOG_DEBUG(instance, "Lack of free command identifier.");
        return VUNO_STATUS_BUSY;
    }
    const int get_events = request->command_code == CMD_get_events;
    if (get_events && ssi->get_events_count >= SSI_GET_EVENTS_LIMIT) {
        UNLOCK(instance, instance->ssi_ctx->lock);
        LOG_ERROR(instance, "Exceeded get_events call limit");
        return VUNO_STATUS_BUSY;
    }
    request->command_id = (uint8_t)command_id;
    if (list_push_front(&ssi->requests, request) != 0) {
        UNLOCK(instance, instance->ssi_ctx->lock);
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    if (get_events) {
        ssi->get_events_count++;
    }
    UNLOCK(instance, instance->ssi_ctx->lock);
    return VUNO_STATUS_SUCCESS;
}

static void write_request_header(struct ssi_request *request, uint32_t payload_length) {
    uint8_t byte0 = 0;
    set_bits(&byte0, SSI_COMMAND_ID_MASK, request->command_id);
    set_bits(&byte0, SSI_MESSAGE_TYPE_MASK, SSI_MESSAGE_TYPE_REQUEST);
    struct wire_writer header;
    wire_writer_init(&header, request->message, SSI_REQUEST_HEADER_SIZE);
    wire_put_u8(&header, byte0);
    wire_put_u8(&header, request->command_code);
    wire_put_le32(&header, payload_length);
}

/*
 * Everything is allocated before an identifier is reserved, so that the
 * table only ever holds complete requests.
 */
int ssi_prepare_request(vuno_instance *instance, struct ssi_request **request, uint8_t command_code,
                        uint32_t payload_length, vuno_completion_callback callback,
                        void *user_context) {
    if (instance == NULL || instance->ssi_ctx == NULL || request == NULL || callback == NULL ||
        payload_length > UINT32_MAX - SSI_REQUEST_HEADER_SIZE) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    const uint32_t message_length = payload_length + SSI_REQUEST_HEADER_SIZE;
    struct ssi_request *prepared = sized_zalloc((uint32_t)sizeof(*prepared));
    if (prepared != NULL) {
        prepared->message = sized_zalloc(message_length);
    }
    if (prepared == NULL || prepared->message == NULL) {
        destroy_request(prepared);
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    prepared->command_code = command_code;
    prepared->message_length = message_length;
    prepared->callback = callback;
    prepared->user_context = user_context;

    const int status = reserve_request(instance, prepared);
    if (status != VUNO_STATUS_SUCCESS) {
        destroy_request(prepared);
        return status;
    }
    write_request_header(prepared, payload_length);
    *request = prepared;
    return VUNO_STATUS_SUCCESS;
}

int ssi_send_request(vuno_instance *instance, struct ssi_request *request) {
    if (instance == NULL || instance->ssi_ctx == NULL || request == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "Send SSI request with cmd id %d, cmd code 0x%X ", request->command_id,
              request->command_code);
    request->in_transmission = 1;
    const int status = sp_send_message(instance, SP_SERVICE_ID_SSI, request->message,
                                       request->message_length, ssi_request_sent, request);
    if (status == VUNO_STATUS_COMMAND_PENDING) {
        return status;
    }
    request->in_transmission = 0;
    ssi_remove_request(instance, request);
    return status;
}

void ssi_request_sent(vuno_instance *instance, uint32_t status, void *context) {
    struct ssi_context *ssi = instance->ssi_ctx;
    if (!LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    struct list_node *node = find_node(ssi, context);
    if (node == NULL || outstanding(node) == NULL) {
        if (node != NULL) {
            list_remove(&ssi->requests, node);
        }
        LOG_ERROR(instance, "Request %p was already terminated", context);
        UNLOCK(instance, instance->ssi_ctx->lock);
        return;
    }
    struct ssi_request *request = node->item;
    request->in_transmission = 0;
    request->sent = 1;
    request->ticks = 0;
    const vuno_completion_callback callback = request->callback;
    void *const user_context = request->user_context;
    UNLOCK(instance, instance->ssi_ctx->lock);

    if (status == VUNO_STATUS_SUCCESS) {
        LOG_DEBUG(instance, "SSI Request successfully sent.");
        return;
    }
    callback(status, VUNO_SSI_STATUS_NO_RESPONSE, NULL, user_context);
    ssi_remove_request(instance, request);
    LOG_DEBUG(instance, "Error during sending SSI request, status %d", status);
}

void ssi_remove_request(vuno_instance *instance, struct ssi_request *request) {
    if (instance == NULL || instance->ssi_ctx == NULL || request == NULL) {
        return;
    }
    if (!LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    struct list_node *node = find_node(instance->ssi_ctx, request);
    if (node != NULL && outstanding(node) != NULL) {
        remove_locked(instance, node);
    }
    UNLOCK(instance, instance->ssi_ctx->lock);
}

void ssi_terminate_requests(vuno_instance *instance, uint32_t status) {
    if (instance == NULL || instance->ssi_ctx == NULL) {
        return;
    }
    LOG_DEBUG(instance, "SSI Requests terminated.");
    /* A message still queued would reach the host under an identifier that
     * a new request may hold by then, and its answer would be taken for
     * that request's: such requests end through their withdrawn message. */
    sp_withdraw_queued_messages(instance, status);
    if (!LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    struct list_node *node = instance->ssi_ctx->requests.head;
    while (node != NULL) {
        struct list_node *next = node->next;
        if (outstanding(node) != NULL) {
            end_unanswered_locked(instance, node, status);
        }
        node = next;
    }
    UNLOCK(instance, instance->ssi_ctx->lock);
}

/*
 * Requests age only once sent; the newest come first, and the scan stops
 * at the first one still waiting to be transmitted. GetEvents requests wait
 * for events as long as it takes.
 */
void ssi_check_timeouts(vuno_instance *instance) {
    if (instance == NULL || instance->ssi_ctx == NULL) {
        return;
    }
    if (!LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    for (struct list_node *node = instance->ssi_ctx->requests.head; node != NULL;
         node = node->next) {
        struct ssi_request *request = outstanding(node);
        if (request == NULL || request->command_code == CMD_get_events) {
            continue;
        }
        if (!request->sent) {
            break;
        }
        if (++request->ticks > SSI_TIMEOUT_TICKS) {
            LOG_ERROR(instance, "Timeout: SSI Request with Command Id %d terminated.",
                      request->command_id);
            end_unanswered_locked(instance, node, VUNO_STATUS_TIMEOUT);
            break;
        }
    }
    UNLOCK(instance, instance->ssi_ctx->lock);
}

/* ---- responses ---- */

static struct ssi_request *match_response(vuno_instance *instance, uint8_t command_id) {
    struct ssi_request *request = NULL;
    if (LOCK(instance, instance->ssi_ctx->lock, LOCK_OR_GIVE_UP)) {
        request = find_by_command_id(instance->ssi_ctx, command_id);
        UNLOCK(instance, instance->ssi_ctx->lock);
    }
    if (request == NULL) {
        LOG_ERROR(instance, "Invalid SSI Response command identifier: %d.", command_id);
    }
    return request;
}

/* Checks the response header; returns 0 when the response is to be dropped. */
struct response_header {
    uint8_t command_id;
    uint32_t ssi_status;
};

/* Reads the response header and leaves the reader on the payload; returns 0
 * when the response is to be dropped. */
static int read_response_header(vuno_instance *instance, struct wire_reader *message,
                                struct response_header *header) {
    const uint32_t length = message->length;
    const uint8_t byte0 = wire_get_u8(message);
    header->ssi_status = wire_get_le16(message);
    const uint32_t payload_length = wire_get_le32(message);
    if (message->overrun) {
        LOG_ERROR(instance, "SSI Response size in bytes: %d is too small.", length);
        return 0;
    }
    const uint8_t type = get_bits(byte0, SSI_MESSAGE_TYPE_MASK);
    if (type != SSI_MESSAGE_TYPE_RESPONSE) {
        LOG_ERROR(instance, "SSI Response received with invalid Message Type: %d.", type);
        return 0;
    }
    if (payload_length != wire_remaining(message)) {
        LOG_ERROR(instance, "Invalid SSI Response message size: %d.", length);
        return 0;
    }
    header->command_id = get_bits(byte0, SSI_COMMAND_ID_MASK);
    return 1;
}

void ssi_response_received(vuno_instance *instance, const uint8_t *message, uint32_t length) {
    if (instance == NULL || instance->ssi_ctx == NULL) {
        return;
    }
    struct wire_reader reader;
    wire_reader_init(&reader, message, length);
    struct response_header header;
    if (!read_response_header(instance, &reader, &header)) {
        return;
    }
    const uint8_t command_id = header.command_id;
    struct ssi_request *request = match_response(instance, command_id);
    if (request == NULL) {
        return;
    }

    const uint32_t ssi_status = header.ssi_status;
    const uint8_t command_code = request->command_code;
    uint32_t status = VUNO_STATUS_SUCCESS;
    void *record = NULL;
    if (!request->sent) {
        LOG_ERROR(instance, "Received SSI Response for an unsent SSI Request %p", (void *)request);
        status = VUNO_STATUS_INTERNAL_ERROR;
    } else if (ssi_status != 0) {
        LOG_DEBUG(instance,
                  "SSI Response (cmd id %d, cmd code 0x%X) successfully received with invalid SSI "
                  "status 0x%X.",
                  command_id, command_code, ssi_status);
    } else if (ssi_decode_response(instance, command_code, &reader, &record) == 0) {
        LOG_DEBUG(instance, "SSI Response (cmd id %d, cmd code 0x%X) successfully received.",
                  command_id, command_code);
    } else {
        sized_free(&record);
        LOG_ERROR(instance,
                  "SSI Response (cmd id %d, cmd code 0x%X) successfully received - SSI Response "
                  "parsing error.",
                  command_id, command_code);
        status = VUNO_STATUS_INTERNAL_ERROR;
    }

    const vuno_completion_callback callback = request->callback;
    void *const user_context = request->user_context;
    ssi_remove_request(instance, request);
    callback(status, ssi_status, record, user_context);
    sized_free(&record);
}
