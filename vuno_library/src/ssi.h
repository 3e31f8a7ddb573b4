/*
 * SSI request engine: request and response headers, the table of
 * outstanding requests with their command identifiers, response matching,
 * time-outs, termination and the GetEvents limit.
 */
#ifndef VUNO_SSI_H
#define VUNO_SSI_H

#include "library.h"
#include "utils.h"
#include "wire.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SSI_REQUEST_HEADER_SIZE 6u
#define SSI_RESPONSE_HEADER_SIZE 7u
#define SSI_MESSAGE_TYPE_REQUEST 0u
#define SSI_MESSAGE_TYPE_RESPONSE 1u
#define SSI_COMMAND_ID_MASK 0xF8u
#define SSI_MESSAGE_TYPE_MASK 0x07u
/* The command identifier is 5 bits wide. */
#define SSI_MAX_OUTSTANDING 32u
#define SSI_GET_EVENTS_LIMIT 30u
/* A sent request times out on the tick after this many. */
#define SSI_TIMEOUT_TICKS 60u

struct ssi_request {
    uint8_t command_id;
    uint8_t command_code;
    uint8_t *message; /* length-prefixed block: header and payload */
    uint32_t message_length;
    vuno_completion_callback callback;
    void *user_context;
    uint8_t sent;
    uint32_t ticks;
    /* Handed to the Service Protocol, which reads the message until it
     * reports the end of transmission. */
    uint8_t in_transmission;
    /* Ended while still in transmission: the entry no longer holds its
     * identifier and only waits for that report to be freed. */
    uint8_t ended;
};

struct ssi_context {
    struct list requests; /* newest first */
    void *lock;
    uint32_t get_events_count;
};

int ssi_initialize(vuno_instance *instance);
int ssi_deinitialize(vuno_instance *instance);
/* Reserves a command identifier and builds the header; the caller writes
 * the payload at offset 6 of request->message and calls ssi_send_request. */
int ssi_prepare_request(vuno_instance *instance, struct ssi_request **request, uint8_t command_code,
                        uint32_t payload_length, vuno_completion_callback callback,
                        void *user_context);
int ssi_send_request(vuno_instance *instance, struct ssi_request *request);
void ssi_request_sent(vuno_instance *instance, uint32_t status, void *request);
/* The message stays owned by the caller. */
void ssi_response_received(vuno_instance *instance, const uint8_t *message, uint32_t length);
void ssi_remove_request(vuno_instance *instance, struct ssi_request *request);
void ssi_terminate_requests(vuno_instance *instance, uint32_t status);
void ssi_check_timeouts(vuno_instance *instance);

/*
 * Decodes the payload of a response with SSI status 0 by the request's
 * command code. Returns 0 with *record set (NULL for commands without
 * response data), or non-zero after logging the failure. The record is
 * freed with sized_free() after the completion callback.
 */
int ssi_decode_response(vuno_instance *instance, uint8_t command_code, struct wire_reader *payload,
                        void **record);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_SSI_H */
