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

struct vuno_instance {
    vuno_platform_callbacks callbacks;
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
