// The command protocol spoken between the BMC and the ME inside the
// vendor-defined messages: command codes, status bytes and the two message
// shapes that carry more than a command code.
#pragma once

#include "bytes.hpp"

#include <cstdint>

namespace vuno::hostsim {

namespace me {

enum Command : uint8_t {
    kTransferData = 1,
    kConnect = 2,
    kDisconnect = 3,
    kForceDisconnect = 4,
};

enum Status : uint8_t {
    kConnected = 0,
    kConnectFailed = 1,
    kNotConnected = 2,
    kDisconnected = 3,
    kAlreadyConnected = 4,
    kDataReceived = 5,
    kDataSent = 6,
    kDataFailed = 7,
    kBusy = 8,
    kUnexpectedCommand = 9,
    kInvalidLength = 10,
};

} // namespace me

constexpr size_t kTransferDataHeaderSize = 5;
constexpr size_t kConnectRequestSize = 4;
constexpr size_t kDisconnectRequestSize = 1;
constexpr size_t kResponseSize = 2;

// Transfer Data request carrying `data`; the length field is big-endian.
Bytes TransferDataRequest(ByteView data);
Bytes MeResponse(uint8_t command, uint8_t status);

// Whether a Transfer Data request's size is within the frame limit and
// agrees with its length field. The command byte is not looked at.
bool TransferDataLengthValid(ByteView message);

// The VMD location value a Connect request names (byte 1 the PCIe bus,
// byte 3 the device in bits 7..3 and the function in bits 2..0). The
// request must be kConnectRequestSize bytes.
uint32_t ConnectLocation(ByteView request);

// The status a correct BMC answers an ME request with.
uint8_t ExpectedBmcReplyStatus(ByteView request);

} // namespace vuno::hostsim
