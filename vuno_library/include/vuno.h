/*
 * Vuno protocol library: the BMC-ME link, the Service Protocol and the SSI
 * engine that carry storage requests from the BMC to the host's RAID
 * executor.
 *
 * The library makes no operating-system calls. Everything it needs from the
 * process that hosts it (logging, locks, one periodic timer and the sending
 * of MCTP messages) comes through the table of platform callbacks given to
 * vuno_initialize(). Every entry point takes the library instance first and
 * returns a library status (enum vuno_status).
 *
 * Ownership: the library owns the instance and everything it allocates.
 * Buffers passed in are only read during the call unless a function says
 * otherwise.
 */
#ifndef VUNO_H
#define VUNO_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VUNO_LIBRARY_VERSION_MAJOR 0
#define VUNO_LIBRARY_VERSION_MINOR 8
#define VUNO_LIBRARY_VERSION_PATCH 0

/* Result of every library operation and first argument of every callback. */
enum vuno_status {
	VUNO_STATUS_SUCCESS = 0,
	VUNO_STATUS_COMMAND_PENDING = 1, /* under way; its callback follows */
	VUNO_STATUS_BUSY = 2,
	VUNO_STATUS_INVALID_PARAMETER = 3,
	VUNO_STATUS_NOT_ENOUGH_MEMORY = 4,
	VUNO_STATUS_INTERNAL_ERROR = 5,
	VUNO_STATUS_HOST_ALREADY_CONNECTED = 6,
	VUNO_STATUS_HOST_CONNECTION_FAILED = 7,
	VUNO_STATUS_HOST_NOT_CONNECTED = 8,
	VUNO_STATUS_HOST_RESET = 9,
	VUNO_STATUS_TRANSFER_TO_HOST_FAILED = 10,
	VUNO_STATUS_TIMEOUT = 11,
	VUNO_STATUS_LOCK_ERROR = 12,
	VUNO_STATUS_MCTP_ERROR = 13,
};

/* SSI status reported to a completion callback when no response arrived. */
#define VUNO_SSI_STATUS_NO_RESPONSE 0xFFFFu

/* Log levels passed to the log callback. */
enum vuno_log_level {
	VUNO_LOG_DEBUG = 0,
	VUNO_LOG_ERROR = 1,
};

typedef struct vuno_instance vuno_instance;

/* Handler of the library's periodic timer; receives the timer argument. */
typedef void (*vuno_timer_handler)(void *argument);

/*
 * The platform callbacks, in this order. The library copies the table at
 * initialisation and refuses a table with any empty entry.
 */
typedef struct vuno_platform_callbacks {
	/* One log line; level is enum vuno_log_level, file the source name. */
	void (*log)(int level, const char *file, int line, const char *format,
		    ...) __attribute__((format(printf, 4, 5)));
	/* A new unlocked, non-recursive lock, or NULL when none can be made. */
	void *(*lock_create)(void);
	void (*lock_destroy)(void *lock);
	/* Blocks until held and returns non-zero; 0 when it cannot be taken. */
	int (*lock)(void *lock);
	void (*unlock)(void *lock);
	/* Calls handler(argument) every period_s seconds until destroyed;
	 * NULL when no timer can be made. */
	void *(*timer_create)(void *user_context, void *argument,
			      vuno_timer_handler handler, uint32_t period_s);
	/* Stops and releases a timer; accepts NULL. */
	void (*timer_destroy)(void *timer);
	/* Sends one BMC-ME message to the ME; 0 when accepted. The bytes are
	 * copied before it returns. The outcome comes back through
	 * bmc_me_mctp_message_received(). */
	int (*mctp_send)(void *user_context, bool request, uint8_t tag,
			 const uint8_t *data, uint32_t length);
} vuno_platform_callbacks;

/* Told whether a host connection succeeded, was lost or was taken down. */
typedef void (*vuno_link_callback)(uint32_t status, void *context);

/*
 * Completion of a request operation: called exactly once for every
 * operation that returned VUNO_STATUS_COMMAND_PENDING. A library status of 0
 * with a non-zero SSI status is a failure reported by the executor. The
 * record belongs to the library and lives only during the call.
 */
typedef void (*vuno_completion_callback)(uint32_t status, uint32_t ssi_status,
					 const void *record,
					 void *user_context);

/* Library instance. */
int vuno_initialize(vuno_instance **instance, void *user_context,
		    const vuno_platform_callbacks *callbacks);
int vuno_deinitialize(vuno_instance *instance);
void vuno_timer_tick(vuno_instance *instance);
/* One step of outgoing message handling; call it regularly. */
void vuno_process_requests(vuno_instance *instance);

/* Host link. vmd_location: byte 0 passed to the ME, byte 1 PCIe bus,
 * byte 2 device (0..31), byte 3 function (0..7). */
int vuno_connect_to_host(vuno_instance *instance, uint32_t vmd_location,
			 vuno_link_callback connected_cb, void *connected_ctx,
			 vuno_link_callback lost_cb, void *lost_ctx);
int vuno_disconnect_from_host(vuno_instance *instance, int force,
			      vuno_link_callback callback, void *context);

/*
 * Entry of the MCTP transport: a BMC-ME message from the ME (request set;
 * its tag is echoed in the reply) or the outcome of the exchange started by
 * the last command (request clear; mctp_status non-zero when it failed).
 * data excludes the transport's vendor header.
 */
void bmc_me_mctp_message_received(vuno_instance *instance, bool request,
				  uint8_t tag, int mctp_status,
				  const uint8_t *data, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_H */
