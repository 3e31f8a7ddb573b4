/*
 * Internal view of the library instance, shared by every layer: the
 * instance record and the logging helpers.
 */
#ifndef VUNO_LIBRARY_H
#define VUNO_LIBRARY_H

#include "vuno.h"

struct bmc_me_context;
struct sp_context;
struct ssi_context;

/*
 * Deliveries up the layers. vuno_initialize() wires them before any layer
 * comes up, so no layer calls the one above it by name (and a layer's
 * tests can watch what it delivers).
 */
struct vuno_deliveries {
    /* BMC-ME to Service Protocol: a frame from the host, carried by a
     * Transfer Data request of the ME. */
    void (*frame_received)(vuno_instance *instance, const uint8_t *frame, uint32_t length);
    /* Service Protocol to SSI: a message received whole and intact, once
     * its Status Frame has been sent; the buffer stays the caller's. */
    void (*message_received)(vuno_instance *instance, const uint8_t *message, uint32_t length);
    /* Service Protocol to SSI: the link went down (HostNotConnected) or the
     * host application restarted (HostReset). */
    void (*host_lost)(vuno_instance *instance, uint32_t status);
};

struct vuno_instance {
    vuno_platform_callbacks callbacks;
    struct vuno_deliveries deliver;
    void *timer;
    void *user_context;
    struct ssi_context *ssi_ctx;
    struct sp_context *sp_ctx;
    struct bmc_me_context *me_ctx;
};

/*
 * Each source file defines LOG_SOURCE (its layer's name, for example
 * "service_protocol") before using these.
 */
#define LOG_DEBUG(instance, ...)                                                                   \
    (instance)->callbacks.log(VUNO_LOG_DEBUG, LOG_SOURCE, __LINE__, __VA_ARGS__)
#define LOG_ERROR(instance, ...)                                                                   \
    (instance)->callbacks.log(VUNO_LOG_ERROR, LOG_SOURCE, __LINE__, __VA_ARGS__)

/*
 * The layers' locks. What a path does when the platform cannot take one is
 * named at the call:
 * - LOCK_OR_GIVE_UP: log "Cannot lock" and drop what the path was doing
 *   (link events, time-out scans, the SSI table); LOCK() is false.
 * - LOCK_OR_STOP: the Service Protocol's message paths, which cannot leave
 *   a message half-moved; log "Cannot lock" and stop on an assertion.
 */
enum lock_policy {
    LOCK_OR_GIVE_UP,
    LOCK_OR_STOP,
};

#define LOCK(instance, lock, policy)                                                               \
    library_lock((instance), (lock), (policy), LOG_SOURCE, __LINE__)
#define UNLOCK(instance, lock) (instance)->callbacks.unlock(lock)

bool library_lock(vuno_instance *instance, void *lock, enum lock_policy policy, const char *source,
                  int line);

#endif /* VUNO_LIBRARY_H */
