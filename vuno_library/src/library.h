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

#endif /* VUNO_LIBRARY_H */
