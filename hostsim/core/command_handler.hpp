// The seam between the host's SSI executor, which speaks the SSI message
// format, and whatever carries out the storage commands. The executor
// parses a request, hands its command code and payload to the handler, and
// turns the handler's answer into a response message. A handler answers at
// once or keeps the responder and answers later (a GetEvents request that
// waits for an event); it never answers twice.
#pragma once

#include "bytes.hpp"

#include <cstdint>
#include <functional>

namespace vuno::hostsim {

struct SsiAnswer {
    uint16_t status = 0; // 0 success; SSI statuses otherwise
    Bytes payload;       // command-specific response data
};

class CommandHandler {
  public:
    using Responder = std::function<void(SsiAnswer)>;

    virtual ~CommandHandler() = default;
    virtual void Handle(uint8_t commandCode, ByteView payload, Responder respond) = 0;
    // The application restarted: the answers still owed will be dropped,
    // and whatever the handler kept for the BMC's earlier requests is gone.
    virtual void Restart() {}
};

} // namespace vuno::hostsim
