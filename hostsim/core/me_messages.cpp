#include "me_messages.hpp"

#include "wire.hpp"

#include <algorithm>

namespace vuno::hostsim {

Bytes TransferDataRequest(ByteView data) {
    Bytes message(kTransferDataHeaderSize + data.size());
    message[0] = me::kTransferData;
    PutBe32(&message[1], static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), message.begin() + kTransferDataHeaderSize);
    return message;
}

Bytes MeResponse(uint8_t command, uint8_t status) {
    return Bytes{command, status};
}

bool TransferDataLengthValid(ByteView message) {
    if (message.size() <= kTransferDataHeaderSize ||
        message.size() > kTransferDataHeaderSize + sp::kMaxFrameSize) {
        return false;
    }
    return GetBe32(&message[1]) == message.size() - kTransferDataHeaderSize;
}

uint32_t ConnectLocation(ByteView request) {
    const uint32_t device = request[3] >> 3;
    const uint32_t function = request[3] & 0x07;
    return request[1] | static_cast<uint32_t>(request[2]) << 8 | device << 16 | function << 24;
}

uint8_t ExpectedBmcReplyStatus(ByteView request) {
    if (!TransferDataLengthValid(request)) {
        return me::kInvalidLength;
    }
    if (request[0] != me::kTransferData) {
        return me::kUnexpectedCommand;
    }
    return me::kDataReceived;
}

} // namespace vuno::hostsim
