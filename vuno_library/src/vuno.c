#define LOG_SOURCE "vuno"

#include "bmc_me_over_mctp.h"
#include "library.h"
#include "service_protocol.h"
#include "ssi.h"
#include "utils.h"

#include <assert.h>
#include <stddef.h>

#define TIMER_PERIOD_S 1u

typedef int (*layer_lifecycle_fn)(vuno_instance *instance);

/* Layers come up in this order and go down in the same order. */
static const layer_lifecycle_fn layer_initializers[] = {bmc_me_initialize, sp_initialize,
                                                        ssi_initialize};
static const layer_lifecycle_fn layer_deinitializers[] = {bmc_me_deinitialize, sp_deinitialize,
                                                          ssi_deinitialize};
#define LAYER_COUNT (sizeof layer_initializers / sizeof layer_initializers[0])

static int callbacks_complete(const vuno_platform_callbacks *callbacks) {
    return callbacks->log != NULL && callbacks->lock_create != NULL &&
           callbacks->lock_destroy != NULL && callbacks->lock != NULL &&
           callbacks->unlock != NULL && callbacks->timer_create != NULL &&
           callbacks->timer_destroy != NULL && callbacks->mctp_send != NULL;
}

static void timer_handler(void *argument) {
    vuno_timer_tick(argument);
}

int vuno_initialize(vuno_instance **instance, void *user_context,
                    const vuno_platform_callbacks *callbacks) {
    if (instance == NULL || callbacks == NULL || !callbacks_complete(callbacks)) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    /* No instance yet to log through: use the caller's table directly. */
    callbacks->log(VUNO_LOG_DEBUG, LOG_SOURCE, __LINE__, "VUNO Initialize");

    /* A failed initialisation leaves nothing behind for the caller to free. */
    *instance = NULL;
    vuno_instance *created = sized_zalloc(sizeof *created);
    if (created == NULL) {
        callbacks->log(VUNO_LOG_ERROR, LOG_SOURCE, __LINE__, "Out of memory");
        return VUNO_STATUS_NOT_ENOUGH_MEMORY;
    }
    created->user_context = user_context;
    created->callbacks = *callbacks;
    created->deliver.frame_received = sp_frame_received;
    created->deliver.message_received = ssi_response_received;
    created->deliver.host_lost = ssi_terminate_requests;

    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        const int status = layer_initializers[i](created);
        if (status != VUNO_STATUS_SUCCESS) {
            vuno_deinitialize(created);
            return status;
        }
    }

    created->timer =
        created->callbacks.timer_create(user_context, created, timer_handler, TIMER_PERIOD_S);
    if (created->timer == NULL) {
        LOG_ERROR(created, "Error during timer create.");
        vuno_deinitialize(created);
        return VUNO_STATUS_INTERNAL_ERROR;
    }
    *instance = created;
    return VUNO_STATUS_SUCCESS;
}

int vuno_deinitialize(vuno_instance *instance) {
    if (instance == NULL) {
        return VUNO_STATUS_INVALID_PARAMETER;
    }
    LOG_DEBUG(instance, "VUNO Deinitialize");
    /* The timer goes first so that no tick runs into a half-dismantled
     * instance. */
    instance->callbacks.timer_destroy(instance->timer);
    instance->timer = NULL;

    int result = VUNO_STATUS_SUCCESS;
    for (size_t i = 0; i < LAYER_COUNT; ++i) {
        const int status = layer_deinitializers[i](instance);
        if (result == VUNO_STATUS_SUCCESS) {
            result = status;
        }
    }
    sized_free(&instance);
    return result;
}

void vuno_timer_tick(vuno_instance *instance) {
    if (instance == NULL) {
        return;
    }
    bmc_me_check_timeout(instance);
    sp_check_timeouts(instance);
    ssi_check_timeouts(instance);
}

bool library_lock(vuno_instance *instance, void *lock, enum lock_policy policy, const char *source,
                  int line) {
    if (instance->callbacks.lock(lock) != 0) {
        return true;
    }
    instance->callbacks.log(VUNO_LOG_ERROR, source, line, "Cannot lock");
    assert(policy != LOCK_OR_STOP && "Cannot lock");
    return false;
}
