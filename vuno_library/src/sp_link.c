/*
 * Service Protocol context and the link with the host: Connect through the
 * ME's VMD mailbox register, the wait for the host application's first
 * heartbeat, heartbeat supervision and the Disconnect when heartbeats stop.
 */
#define LOG_SOURCE "service_protocol"

#include "bmc_me_over_mctp.h"
#include "service_protocol.h"
#include "utils.h"

int sp_initialize(vuno_instance *instance) {
    LOG_DEBUG(instance, "Service Protocol Initialize");
    struct sp_context *ctx = sized_zalloc(sizeof(struct sp_context));
    if (ctx == NULL) {
        LOG_ERROR(instance, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    ctx->queue_head = NULL;
    ctx->queue_tail = &ctx->queue_head;
    instance->sp_ctx = ctx;
    ctx->lock = instance->callbacks.lock_create();
    if (ctx->lock == NULL) {
        LOG_ERROR(instance, "Lock not initialized");
        return VUNO_STATUS_LOCK_ERROR;
    }
    return VUNO_STATUS_SUCCESS;
}

int sp_deinitialize(vuno_instance *instance) {
    LOG_DEBUG(instance, "Service Protocol Deinitialize");
    struct sp_context *ctx = instance->sp_ctx;
    if (ctx == NULL) {
        LOG_ERROR(instance, "Service Protocol not initialized");
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    sp_free_message(&ctx->current);
    while (ctx->queue_head != NULL) {
        struct sp_message *message = ctx->queue_head;
        ctx->queue_head = message->next;
        sp_free_message(&message);
    }
    sized_free(&ctx->rx_payload);
    if (ctx->lock != NULL) {
        instance->callbacks.lock_destroy(ctx->lock);
    }
    sized_free(&instance->sp_ctx);
    return VUNO_STATUS_SUCCESS;
}

static void notify(vuno_link_callback callback, uint32_t status, void *context) {
    if (callback != NULL) {
        callback(status, context);
    }
}

int vuno_connect_to_host(vuno_instance *instance, uint32_t vmd_location,
                         vuno_link_callback connected_cb, void *connected_ctx,
                         vuno_link_callback lost_cb, void *lost_ctx) {
    if (instance == NULL || connected_cb == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "VUNO Connect to Host");
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return VUNO_STATUS_LOCK_ERROR;
    }
    struct sp_context *ctx = instance->sp_ctx;
    ctx->connected_cb = connected_cb;
    ctx->connected_ctx = connected_ctx;
    ctx->lost_cb = lost_cb;
    ctx->lost_ctx = lost_ctx;
    UNLOCK(instance, instance->sp_ctx->lock);
    return bmc_me_connect_vmd(instance, vmd_location, host_connect_result);
}

int vuno_disconnect_from_host(vuno_instance *instance, int force, vuno_link_callback callback,
                              void *context) {
    if (instance == NULL || callback == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "VUNO Disconnect from Host");
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return VUNO_STATUS_LOCK_ERROR;
    }
    instance->sp_ctx->disconnect_cb = callback;
    instance->sp_ctx->disconnect_ctx = context;
    UNLOCK(instance, instance->sp_ctx->lock);
    return bmc_me_disconnect_vmd(instance, force, host_disconnect_result);
}

void host_connect_result(vuno_instance *instance, uint32_t status) {
    struct sp_context *ctx = instance->sp_ctx;
    LOG_DEBUG(instance, "VUNO Connect to Host - callback");
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    if (status == VUNO_STATUS_SUCCESS || status == VUNO_STATUS_HOST_ALREADY_CONNECTED) {
        /* The link is only up once the host application answers. */
        ctx->link_state = SP_LINK_WAITING_FOR_HEARTBEAT;
        LOG_DEBUG(instance, "Waiting for first Heartbeat.");
        ctx->heartbeat_ticks = 0;
    } else {
        LOG_ERROR(instance, "The Host connection error, status %d.", status);
        ctx->link_state = SP_LINK_DISCONNECTED;
        notify(ctx->connected_cb, status, ctx->connected_ctx);
        ctx->connected_ctx = NULL;
    }
    UNLOCK(instance, instance->sp_ctx->lock);
}

void host_disconnect_result(vuno_instance *instance, uint32_t status) {
    struct sp_context *ctx = instance->sp_ctx;
    LOG_DEBUG(instance, "VUNO Disconnect from Host - callback");
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    ctx->link_state = SP_LINK_DISCONNECTED;
    notify(ctx->disconnect_cb, status, ctx->disconnect_ctx);
    UNLOCK(instance, instance->sp_ctx->lock);
}

void heartbeat_disconnect_result(vuno_instance *instance, uint32_t status) {
    struct sp_context *ctx = instance->sp_ctx;
    if (status != VUNO_STATUS_SUCCESS && status != VUNO_STATUS_HOST_NOT_CONNECTED) {
        /* The heartbeat time-out still holds and tries again next tick. */
        LOG_ERROR(instance, "Cannot disconnect from ME.");
        return;
    }
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    if (ctx->link_state == SP_LINK_WAITING_FOR_HEARTBEAT) {
        notify(ctx->connected_cb, VUNO_STATUS_HOST_CONNECTION_FAILED, ctx->connected_ctx);
    } else {
        notify(ctx->lost_cb, VUNO_STATUS_HOST_NOT_CONNECTED, ctx->lost_ctx);
    }
    ctx->link_state = SP_LINK_DISCONNECTED;
    ctx->connected_cb = NULL;
    ctx->connected_ctx = NULL;
    ctx->heartbeat_ticks = 0;
    UNLOCK(instance, instance->sp_ctx->lock);
    instance->deliver.host_lost(instance, VUNO_STATUS_HOST_NOT_CONNECTED);
}

/* Returns whether the host application restarted. Called with the lock
 * held. */
static int accept_heartbeat(vuno_instance *instance, uint32_t heartbeat_id) {
    struct sp_context *ctx = instance->sp_ctx;
    LOG_DEBUG(instance, "Heartbeat ID %d received, previous %d.", heartbeat_id,
              ctx->last_heartbeat_id);
    const int restarted = heartbeat_id < ctx->last_heartbeat_id;
    if (restarted) {
        LOG_ERROR(instance, "Received Heartbeat with lower ID");
        /* A restarted host application has forgotten whatever was on its
         * way to it. */
        sp_fail_current_message(instance, VUNO_STATUS_TIMEOUT);
    }
    ctx->last_heartbeat_id = heartbeat_id;
    ctx->heartbeat_ticks = 0;
    return restarted;
}

void sp_heartbeat_received(vuno_instance *instance, uint32_t heartbeat_id) {
    struct sp_context *ctx = instance->sp_ctx;
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    int restarted = 0;
    switch (ctx->link_state) {
    case SP_LINK_WAITING_FOR_HEARTBEAT:
        LOG_DEBUG(instance, "First Heartbeat received - connection with Host established");
        ctx->link_state = SP_LINK_CONNECTED;
        notify(ctx->connected_cb, VUNO_STATUS_SUCCESS, ctx->connected_ctx);
        ctx->connected_cb = NULL;
        ctx->last_heartbeat_id = heartbeat_id;
        ctx->heartbeat_ticks = 0;
        break;
    case SP_LINK_CONNECTED:
        restarted = accept_heartbeat(instance, heartbeat_id);
        break;
    default:
        LOG_ERROR(instance, "Heartbeat received but connection with host is not established");
        break;
    }
    UNLOCK(instance, instance->sp_ctx->lock);
    if (restarted) {
        instance->deliver.host_lost(instance, VUNO_STATUS_HOST_RESET);
    }
}

void sp_check_heartbeat_timeout(vuno_instance *instance) {
    struct sp_context *ctx = instance->sp_ctx;
    if (!LOCK(instance, instance->sp_ctx->lock, LOCK_OR_GIVE_UP)) {
        return;
    }
    const int disconnected = ctx->link_state == SP_LINK_DISCONNECTED;
    UNLOCK(instance, instance->sp_ctx->lock);
    if (disconnected) {
        return;
    }
    ctx->heartbeat_ticks++;
    if (ctx->heartbeat_ticks <= SP_HEARTBEAT_TIMEOUT_TICKS) {
        return;
    }
    LOG_ERROR(instance, "Heartbeat timeout occured - disconnect with ME.");
    if (bmc_me_disconnect_vmd(instance, 0, heartbeat_disconnect_result) !=
        VUNO_STATUS_COMMAND_PENDING) {
        LOG_ERROR(instance, "Cannot disconnect from ME.");
    }
}

void sp_check_timeouts(vuno_instance *instance) {
    sp_check_status_timeout(instance);
    sp_check_heartbeat_timeout(instance);
}
