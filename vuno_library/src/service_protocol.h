/*
 * Service Protocol: link state and heartbeats, message transmission (queue,
 * segmentation, acknowledgement, retransmission) and message reception
 * (checks, reassembly, CRC, Status Frames). One context per instance.
 */
#ifndef VUNO_SERVICE_PROTOCOL_H
#define VUNO_SERVICE_PROTOCOL_H

#include "frames.h"
#include "library.h"

#ifdef __cplusplus
extern "C" {
#endif

enum sp_link_state {
    SP_LINK_DISCONNECTED = 0,
    SP_LINK_WAITING_FOR_HEARTBEAT = 1,
    SP_LINK_CONNECTED = 2,
};

enum sp_message_type {
    SP_MESSAGE_TYPE_DATA = 1,
    SP_MESSAGE_TYPE_STATUS = 2,
};

enum sp_message_state {
    SP_MESSAGE_STATE_READY = 0,
    SP_MESSAGE_STATE_IN_TRANSFER = 1,
    SP_MESSAGE_STATE_WAITING_FOR_STATUS = 2,
    SP_MESSAGE_STATE_COMPLETED = 3,
    SP_MESSAGE_STATE_FAILED = 4,
};

/* More than this many ticks without a heartbeat takes the link down. */
#define SP_HEARTBEAT_TIMEOUT_TICKS 40u
/* More than this many ticks after the last frame without a Status Frame
 * fails the message. */
#define SP_STATUS_TIMEOUT_TICKS 20u
/* Retransmissions of one frame after BMC-ME time-outs (sent at most 4 times). */
#define SP_MAX_FRAME_RETRIES 3u
/* Retransmissions of a whole message after CRC errors (at most 6). */
#define SP_MAX_MESSAGE_RETRIES 6u

/* Completion of a sent Data message: (instance, library status, context). */
typedef void (*sp_message_callback)(vuno_instance *instance, uint32_t status, void *context);

/*
 * One message of the BMC: a Data message (an outgoing message, sent as
 * Data Frames) or a Status message (one Status Frame). The frame buffer
 * follows the record in the same length-prefixed block.
 */
struct sp_message {
    uint32_t service_id;
    uint8_t reserved;
    uint32_t total;
    uint32_t crc;
    /* Data: the sender's payload, not copied. Status: the message received
     * whole and intact, handed over once the Status Frame has been sent. */
    uint8_t *payload;
    uint32_t offset;
    uint32_t received_size;
    uint8_t *frame;
    uint32_t frame_size;   /* capacity of the frame buffer */
    uint32_t frame_length; /* bytes of the frame built last */
    uint32_t next_index;
    uint32_t part_size;
    uint8_t frame_retries;
    uint8_t message_retries;
    sp_message_callback callback;
    void *context;
    uint32_t status_ticks;
    uint32_t state;
    uint32_t result;
    uint32_t type;
    struct sp_message *next;
};

struct sp_context {
    void *lock;
    struct sp_message *current;
    /* Reception of one message from the host. */
    uint32_t rx_service_id;
    uint8_t rx_reserved;
    uint32_t rx_total;
    uint32_t rx_crc;
    uint8_t *rx_payload; /* length-prefixed block of rx_total bytes */
    uint32_t rx_received;
    uint32_t rx_last_index;
    /* Link with the host. */
    uint32_t link_state;
    vuno_link_callback connected_cb;
    void *connected_ctx;
    vuno_link_callback lost_cb;
    void *lost_ctx;
    vuno_link_callback disconnect_cb;
    void *disconnect_ctx;
    uint32_t last_heartbeat_id;
    uint32_t heartbeat_ticks;
    /* Singly linked queue; queue_tail points at the last message's `next`,
     * or at queue_head when the queue is empty. */
    struct sp_message *queue_head;
    struct sp_message **queue_tail;
};

/* Context and lock (link paths, sp_link.c). */
int sp_initialize(vuno_instance *instance);
int sp_deinitialize(vuno_instance *instance);

/* Link and heartbeats (sp_link.c). vuno_connect_to_host() and
 * vuno_disconnect_from_host() are declared in vuno.h. */
void host_connect_result(vuno_instance *instance, uint32_t status);
void host_disconnect_result(vuno_instance *instance, uint32_t status);
void heartbeat_disconnect_result(vuno_instance *instance, uint32_t status);
void sp_heartbeat_received(vuno_instance *instance, uint32_t heartbeat_id);
/* Per tick: the status-wait time-out, then the heartbeat time-out. */
void sp_check_timeouts(vuno_instance *instance);
void sp_check_status_timeout(vuno_instance *instance);    /* sp_transmit.c */
void sp_check_heartbeat_timeout(vuno_instance *instance); /* sp_link.c */

/* Transmission (sp_transmit.c). vuno_process_requests() is in vuno.h. */
int sp_send_message(vuno_instance *instance, uint32_t service_id, const uint8_t *payload,
                    uint32_t size, sp_message_callback callback, void *context);
void sp_queue_status_frame(vuno_instance *instance, uint32_t status);
/* Queues Status 0 for a message received whole with a matching CRC; the
 * Status message takes the message (a length-prefixed block of `size`
 * bytes) and hands it to the SSI engine once the Status Frame has been
 * sent. The message is freed if no Status message can be made. */
void sp_queue_success_status(vuno_instance *instance, uint8_t **message, uint32_t size);
void sp_status_frame_received(vuno_instance *instance, uint32_t status);
/* Fails the message being transferred, if any; the lock is held. */
void sp_fail_current_message(vuno_instance *instance, uint32_t result);
/* Ends every queued Data message with `status` instead of sending it; the
 * message in transfer is left to the link's own handling. */
void sp_withdraw_queued_messages(vuno_instance *instance, uint32_t status);
void response_data_frame_received_cb(vuno_instance *instance, uint32_t status);
void response_status_frame_received_cb(vuno_instance *instance, uint32_t status);
/* Frees a message record with its frame buffer and, for a Status message,
 * the received message it still holds. */
void sp_free_message(struct sp_message **message);

/* Reception (sp_receive.c): one frame from the host, as carried by a
 * Transfer Data request of the ME. */
void sp_frame_received(vuno_instance *instance, const uint8_t *frame, uint32_t length);
/* Delivers a message received whole (from sp_queue_success_status) once
 * its Status Frame has been sent; NULL delivers nothing. */
void sp_hand_over_received(vuno_instance *instance, const uint8_t *message, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VUNO_SERVICE_PROTOCOL_H */
