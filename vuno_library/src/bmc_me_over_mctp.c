/*
 * BMC-ME command protocol with the Management Engine. One command toward
 * the ME can be outstanding at a time; its response (or the lack of one)
 * completes it through the stored callback. The ME's own Transfer Data
 * requests carry host frames up to the Service Protocol.
 */
#define LOG_SOURCE "bmc_me_over_mctp"

#include "bmc_me_over_mctp.h"

#include "utils.h"
#include "wire.h"

/* Commands toward the ME go out as MCTP requests with tag 0. */
#define COMMAND_TAG 0u
#define CONNECT_REQUEST_SIZE 4u
#define DISCONNECT_REQUEST_SIZE 1u
#define MAX_VMD_LOCATION 0x07FFFFFFu
#define MAX_PCIE_DEVICE 31u
#define MIN_ME_REQUEST_SIZE (BMC_ME_TRANSFER_HEADER_SIZE + 1u)
#define MAX_ME_REQUEST_SIZE (BMC_ME_TRANSFER_HEADER_SIZE + BMC_ME_TRANSFER_MAX_DATA)

/* Marks a response status that makes no sense for the command answered. */
#define UNEXPECTED (-1)
#define MAPPED_ME_STATUSES 9u

/*
 * Library status reported for each ME status (0..8) in the response to
 * each command (1..4). Statuses beyond the table are unexpected for every
 * command.
 */
static const int8_t response_status_map[][MAPPED_ME_STATUSES] = {
    [BMC_ME_CMD_TRANSFER_DATA - 1] =
        {
            [ME_STATUS_CONNECTED] = UNEXPECTED,
            [ME_STATUS_CONNECT_FAILED] = UNEXPECTED,
            [ME_STATUS_NOT_CONNECTED] = VUNO_STATUS_HOST_NOT_CONNECTED,
            [ME_STATUS_DISCONNECTED] = UNEXPECTED,
            [ME_STATUS_ALREADY_CONNECTED] = UNEXPECTED,
            [ME_STATUS_DATA_RECEIVED] = UNEXPECTED,
            [ME_STATUS_DATA_SENT] = VUNO_STATUS_SUCCESS,
            [ME_STATUS_DATA_FAILED] = VUNO_STATUS_TRANSFER_TO_HOST_FAILED,
            [ME_STATUS_BUSY] = VUNO_STATUS_BUSY,
        },
    [BMC_ME_CMD_CONNECT - 1] =
        {
            [ME_STATUS_CONNECTED] = VUNO_STATUS_SUCCESS,
            [ME_STATUS_CONNECT_FAILED] = VUNO_STATUS_HOST_CONNECTION_FAILED,
            [ME_STATUS_NOT_CONNECTED] = UNEXPECTED,
            [ME_STATUS_DISCONNECTED] = UNEXPECTED,
            [ME_STATUS_ALREADY_CONNECTED] = VUNO_STATUS_HOST_ALREADY_CONNECTED,
            [ME_STATUS_DATA_RECEIVED] = UNEXPECTED,
            [ME_STATUS_DATA_SENT] = UNEXPECTED,
            [ME_STATUS_DATA_FAILED] = UNEXPECTED,
            [ME_STATUS_BUSY] = VUNO_STATUS_BUSY,
        },
    [BMC_ME_CMD_DISCONNECT - 1] =
        {
            [ME_STATUS_CONNECTED] = UNEXPECTED,
            [ME_STATUS_CONNECT_FAILED] = UNEXPECTED,
            [ME_STATUS_NOT_CONNECTED] = VUNO_STATUS_HOST_NOT_CONNECTED,
            [ME_STATUS_DISCONNECTED] = VUNO_STATUS_SUCCESS,
            [ME_STATUS_ALREADY_CONNECTED] = UNEXPECTED,
            [ME_STATUS_DATA_RECEIVED] = UNEXPECTED,
            [ME_STATUS_DATA_SENT] = UNEXPECTED,
            [ME_STATUS_DATA_FAILED] = UNEXPECTED,
            [ME_STATUS_BUSY] = VUNO_STATUS_BUSY,
        },
    [BMC_ME_CMD_FORCE_DISCONNECT - 1] =
        {
            [ME_STATUS_CONNECTED] = UNEXPECTED,
            [ME_STATUS_CONNECT_FAILED] = UNEXPECTED,
            [ME_STATUS_NOT_CONNECTED] = VUNO_STATUS_HOST_NOT_CONNECTED,
            [ME_STATUS_DISCONNECTED] = VUNO_STATUS_SUCCESS,
            [ME_STATUS_ALREADY_CONNECTED] = UNEXPECTED,
            [ME_STATUS_DATA_RECEIVED] = UNEXPECTED,
            [ME_STATUS_DATA_SENT] = UNEXPECTED,
            [ME_STATUS_DATA_FAILED] = UNEXPECTED,
            [ME_STATUS_BUSY] = UNEXPECTED,
        },
};

#define MAPPED_COMMANDS (sizeof(response_status_map) / sizeof(response_status_map[0]))

static uint32_t map_response_status(vuno_instance *instance, uint32_t command, uint8_t status) {
    int mapped = UNEXPECTED;
    if (command >= 1 && command <= MAPPED_COMMANDS && status < MAPPED_ME_STATUSES) {
        mapped = response_status_map[command - 1][status];
    }
    if (mapped == UNEXPECTED) {
        LOG_ERROR(instance, "Unexpected status code %d", status);
        return VUNO_STATUS_INTERNAL_ERROR;
    }
    return (uint32_t)mapped;
}

int bmc_me_initialize(vuno_instance *instance) {
    LOG_DEBUG(instance, "BMC-ME over MCTP Initialize");
    instance->me_ctx = sized_zalloc(sizeof(struct bmc_me_context));
    if (instance->me_ctx == NULL) {
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    instance->me_ctx->lock = instance->callbacks.lock_create();
    if (instance->me_ctx->lock == NULL) {
        LOG_ERROR(instance, "Lock not initialized");
        return VUNO_STATUS_LOCK_ERROR;
    }
    return VUNO_STATUS_SUCCESS;
}

int bmc_me_deinitialize(vuno_instance *instance) {
    LOG_DEBUG(instance, "BMC-ME over MCTP Deinitialize");
    if (instance->me_ctx == NULL) {
        LOG_ERROR(instance, "BMC-ME not initialized");
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    if (instance->me_ctx->lock != NULL) {
        instance->callbacks.lock_destroy(instance->me_ctx->lock);
    }
    sized_free(&instance->me_ctx);
    return VUNO_STATUS_SUCCESS;
}

/* Makes the layer busy with this command, unless another one is
 * outstanding. */
static int begin_command(vuno_instance *instance, uint32_t command, bmc_me_callback callback) {
    struct bmc_me_context *ctx = instance->me_ctx;
    if (!LOCK(instance, instance->me_ctx->lock, LOCK_OR_GIVE_UP)) {
        return VUNO_STATUS_LOCK_ERROR;
    }
    if (ctx->busy) {
        UNLOCK(instance, instance->me_ctx->lock);
        LOG_ERROR(instance, "BMC-ME layer is busy.");
        return VUNO_STATUS_BUSY;
    }
    ctx->callback = callback;
    ctx->ticks = 0;
    ctx->command = command;
    ctx->busy = 1;
    UNLOCK(instance, instance->me_ctx->lock);
    return VUNO_STATUS_SUCCESS;
}

/*
 * A command that cannot be sent stays outstanding: the response time-out
 * is what ends it, so its callback is called exactly once either way.
 */
static int send_command(vuno_instance *instance, const uint8_t *message, uint32_t length) {
    const int result =
        instance->callbacks.mctp_send(instance->user_context, true, COMMAND_TAG, message, length);
    if (result != 0) {
        LOG_ERROR(instance, "MCTP error occurred during sending command. Status %d", result);
        return VUNO_STATUS_MCTP_ERROR;
    }
    LOG_DEBUG(instance, "Command sent to ME successfully, waiting for BMC-ME Response message.");
    return VUNO_STATUS_COMMAND_PENDING;
}

static int valid_vmd_location(uint32_t location) {
    const uint32_t device = (location >> 16) & 0xFFu;
    return location <= MAX_VMD_LOCATION && device <= MAX_PCIE_DEVICE;
}

int bmc_me_connect_vmd(vuno_instance *instance, uint32_t vmd_location, bmc_me_callback callback) {
    if (instance == NULL || callback == NULL || !valid_vmd_location(vmd_location)) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "Connect to VMD register.");
    const int status = begin_command(instance, BMC_ME_CMD_CONNECT, callback);
    if (status != VUNO_STATUS_SUCCESS) {
        return status;
    }
    const uint8_t device = (uint8_t)((vmd_location >> 16) & 0xFFu);
    const uint8_t function = (uint8_t)(vmd_location >> 24);
    uint8_t message[CONNECT_REQUEST_SIZE];
    struct wire_writer writer;
    wire_writer_init(&writer, message, sizeof message);
    wire_put_u8(&writer, BMC_ME_CMD_CONNECT);
    wire_put_u8(&writer, (uint8_t)(vmd_location & 0xFFu));
    wire_put_u8(&writer, (uint8_t)((vmd_location >> 8) & 0xFFu));
    wire_put_u8(&writer, (uint8_t)((device << 3) | (function & 0x07u)));
    return send_command(instance, message, writer.offset);
}

int bmc_me_disconnect_vmd(vuno_instance *instance, int force, bmc_me_callback callback) {
    if (instance == NULL || callback == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "Disconnect from VMD register.");
    const uint8_t command = force ? BMC_ME_CMD_FORCE_DISCONNECT : BMC_ME_CMD_DISCONNECT;
    const int status = begin_command(instance, command, callback);
    if (status != VUNO_STATUS_SUCCESS) {
        return status;
    }
    if (force) {
        LOG_DEBUG(instance, "Selected force disconnect option.");
    } else {
        LOG_DEBUG(instance, "Selected disconnect option.");
    }
    uint8_t message[DISCONNECT_REQUEST_SIZE];
    struct wire_writer writer;
    wire_writer_init(&writer, message, sizeof message);
    wire_put_u8(&writer, command);
    return send_command(instance, message, writer.offset);
}

int bmc_me_transfer_data(vuno_instance *instance, const uint8_t *data, uint32_t length,
                         bmc_me_callback callback) {
    if (instance == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    if (callback == NULL || data == NULL || length == 0 || length > BMC_ME_TRANSFER_MAX_DATA) {
        LOG_ERROR(instance, "Invalid parameter");
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "Transfer Data to ME.");
    const int status = begin_command(instance, BMC_ME_CMD_TRANSFER_DATA, callback);
    if (status != VUNO_STATUS_SUCCESS) {
        return status;
    }
    uint8_t *message = sized_alloc(BMC_ME_TRANSFER_HEADER_SIZE + length);
    if (message == NULL) {
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    struct wire_writer writer;
    wire_writer_init(&writer, message, BMC_ME_TRANSFER_HEADER_SIZE + length);
    wire_put_u8(&writer, BMC_ME_CMD_TRANSFER_DATA);
    wire_put_be32(&writer, length);
    wire_put_bytes(&writer, data, length);
    const int result = send_command(instance, message, writer.offset);
    sized_free(&message);
    return result;
}

static void handle_response(vuno_instance *instance, int mctp_status, const uint8_t *data,
                            uint32_t length) {
    struct bmc_me_context *ctx = instance->me_ctx;
    LOG_DEBUG(instance, "BMC-ME Response message received from ME.");
    if (mctp_status != 0) {
        LOG_ERROR(instance, "MCTP status %d", mctp_status);
        return;
    }
    struct wire_reader response;
    wire_reader_init(&response, data, length);
    const uint8_t command = wire_get_u8(&response);
    const uint8_t status = wire_get_u8(&response);
    if (response.overrun) {
        LOG_ERROR(instance, "Invalid Message data parameter");
        return;
    }
    if (!LOCK(instance, instance->me_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    if (command != ctx->command) {
        LOG_ERROR(instance, "Invalid BMC-ME Command command in response message: %d, expected: %d",
                  command, ctx->command);
        UNLOCK(instance, instance->me_ctx->lock);
        return;
    }
    if (!ctx->busy) {
        LOG_ERROR(instance, "MCTP response is not expected - communication is not in progress.");
        UNLOCK(instance, instance->me_ctx->lock);
        return;
    }
    ctx->busy = 0;
    const bmc_me_callback callback = ctx->callback;
    ctx->callback = NULL;
    UNLOCK(instance, instance->me_ctx->lock);

    LOG_DEBUG(instance, "BMC-ME response for command %d with status %d.", command, status);
    callback(instance, map_response_status(instance, command, status));
}

static void send_reply(vuno_instance *instance, uint8_t tag, uint8_t status) {
    LOG_DEBUG(instance, "Send MCTP Response to ME.");
    uint8_t reply[BMC_ME_RESPONSE_SIZE];
    struct wire_writer writer;
    wire_writer_init(&writer, reply, sizeof reply);
    wire_put_u8(&writer, BMC_ME_CMD_TRANSFER_DATA);
    wire_put_u8(&writer, status);
    if (instance->callbacks.mctp_send(instance->user_context, false, tag, reply, writer.offset) !=
        0) {
        LOG_ERROR(instance, "Error during sending MCTP Response to ME.");
    }
}

/* Checks an ME request and leaves the reader on the frame it carries;
 * returns the reply status, ME_STATUS_DATA_RECEIVED when the frame may go
 * up. */
static uint8_t check_request(vuno_instance *instance, struct wire_reader *request) {
    const uint32_t length = request->length;
    if (length < MIN_ME_REQUEST_SIZE || length > MAX_ME_REQUEST_SIZE) {
        LOG_ERROR(instance, "Invalid MCTP Request data length: %d.", length);
        return ME_STATUS_INVALID_LENGTH;
    }
    const uint8_t command = wire_get_u8(request);
    if (wire_get_be32(request) != wire_remaining(request)) {
        LOG_ERROR(instance, "MCTP Request data length: %d.", length);
        return ME_STATUS_INVALID_LENGTH;
    }
    if (command != BMC_ME_CMD_TRANSFER_DATA) {
        LOG_ERROR(instance, "Not expected BMC-ME command: %d.", command);
        return ME_STATUS_UNEXPECTED_COMMAND;
    }
    return ME_STATUS_DATA_RECEIVED;
}

static void handle_request(vuno_instance *instance, uint8_t tag, int mctp_status,
                           const uint8_t *data, uint32_t length) {
    LOG_DEBUG(instance, "BMC-ME Request message received from ME.");
    if (mctp_status != 0) {
        LOG_ERROR(instance, "MCTP Request received with MCTP error: %d.", mctp_status);
        return;
    }
    struct wire_reader request;
    wire_reader_init(&request, data, length);
    const uint8_t status = check_request(instance, &request);
    if (status != ME_STATUS_DATA_RECEIVED) {
        send_reply(instance, tag, status);
        return;
    }
    LOG_DEBUG(instance, "MCTP Request successfully received.");
    /* The ME has delivered the frame either way, so a failed reply does
     * not hold it back. */
    send_reply(instance, tag, status);
    const uint32_t frame_length = wire_remaining(&request);
    const struct wire_reader frame = wire_take(&request, frame_length);
    instance->deliver.frame_received(instance, frame.data, frame.length);
}

void bmc_me_mctp_message_received(vuno_instance *instance, bool request, uint8_t tag,
                                  int mctp_status, const uint8_t *data, uint32_t length) {
    if (instance == NULL || instance->me_ctx == NULL) {
        return;
    }
    if (request) {
        handle_request(instance, tag, mctp_status, data, length);
    } else {
        handle_response(instance, mctp_status, data, length);
    }
}

void bmc_me_check_timeout(vuno_instance *instance) {
    struct bmc_me_context *ctx = instance->me_ctx;
    if (!LOCK(instance, instance->me_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    if (!ctx->busy) {
        UNLOCK(instance, instance->me_ctx->lock);
        return;
    }
    ctx->ticks++;
    if (ctx->ticks < BMC_ME_RESPONSE_TIMEOUT_TICKS) {
        UNLOCK(instance, instance->me_ctx->lock);
        return;
    }
    LOG_ERROR(instance, "Waiting for MCTP response timeout occurred.");
    ctx->busy = 0;
    const bmc_me_callback callback = ctx->callback;
    ctx->callback = NULL;
    UNLOCK(instance, instance->me_ctx->lock);
    callback(instance, VUNO_STATUS_TIMEOUT);
}
