/*
 * BMC-ME command protocol with the Management Engine: Connect, Disconnect
 * and Transfer Data toward the ME (one command outstanding at a time), and
 * the ME's own Transfer Data requests carrying host frames.
 */
#ifndef VUNO_BMC_ME_OVER_MCTP_H
#define VUNO_BMC_ME_OVER_MCTP_H

#include "library.h"

#ifdef __cplusplus
extern "C" {
#endif

enum bmc_me_command {
    BMC_ME_CMD_TRANSFER_DATA = 1,
    BMC_ME_CMD_CONNECT = 2,
    BMC_ME_CMD_DISCONNECT = 3,
    BMC_ME_CMD_FORCE_DISCONNECT = 4,
};

enum me_status {
    ME_STATUS_CONNECTED = 0,
    ME_STATUS_CONNECT_FAILED = 1,
    ME_STATUS_NOT_CONNECTED = 2,
    ME_STATUS_DISCONNECTED = 3,
    ME_STATUS_ALREADY_CONNECTED = 4,
    ME_STATUS_DATA_RECEIVED = 5,
    ME_STATUS_DATA_SENT = 6,
    ME_STATUS_DATA_FAILED = 7,
    ME_STATUS_BUSY = 8,
    ME_STATUS_UNEXPECTED_COMMAND = 9,
    ME_STATUS_INVALID_LENGTH = 10,
};

#define BMC_ME_TRANSFER_HEADER_SIZE 5u
#define BMC_ME_TRANSFER_MAX_DATA 1014u
#define BMC_ME_RESPONSE_SIZE 2u
/* The ME has between 5 and 6 ticks to answer a command. */
#define BMC_ME_RESPONSE_TIMEOUT_TICKS 6u

/* Completion of a command: (instance, library status). */
typedef void (*bmc_me_callback)(vuno_instance *instance, uint32_t status);

struct bmc_me_context {
    uint8_t busy;
    void *lock;
    uint32_t command;
    bmc_me_callback callback;
    uint32_t ticks;
};

int bmc_me_initialize(vuno_instance *instance);
int bmc_me_deinitialize(vuno_instance *instance);

int bmc_me_connect_vmd(vuno_instance *instance, uint32_t vmd_location, bmc_me_callback callback);
int bmc_me_disconnect_vmd(vuno_instance *instance, int force, bmc_me_callback callback);
/* The data is copied into the outgoing message before this returns. */
int bmc_me_transfer_data(vuno_instance *instance, const uint8_t *data, uint32_t length,
                         bmc_me_callback callback);

/* Once per timer tick, before the other layers' time-outs. */
void bmc_me_check_timeout(vuno_instance *instance);

/* bmc_me_mctp_message_received() is declared in vuno.h. */

#ifdef __cplusplus
}
#endif

#endif /* VUNO_BMC_ME_OVER_MCTP_H */
