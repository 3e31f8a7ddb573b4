// The platform's MCTP service as the BMC's daemons use it: `sendMessage`
// carries a vendor-defined message to the ME (a request, or a reply to an
// ME request), and ME requests come out as received messages.
#pragma once

#include "bytes.hpp"
#include "journal.hpp"
#include "management_engine.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace vuno::hostsim {

constexpr uint8_t kMeEndpointId = 8;

// Statuses of `sendMessage`, negative error numbers as the service reports
// them.
constexpr int32_t kMctpSuccess = 0;
constexpr int32_t kMctpInvalidMessage = -22; // -EINVAL
constexpr int32_t kMctpNoResponse = -110;    // -ETIMEDOUT
constexpr int32_t kMctpNoRoute = -113;       // -EHOSTUNREACH

struct MctpResult {
    int32_t status = kMctpSuccess;
    Bytes message; // the ME's response with its vendor header, for requests
};

class MctpService {
  public:
    // Publishes a message received from the ME (vendor header first).
    using Received = std::function<void(const Bytes &message)>;

    MctpService(Journal &journal, ManagementEngine &me, Received received);

    // Receives the outcome of `sendMessage`.
    using Answer = std::function<void(MctpResult result)>;

    // `answer` runs at once, or later when the ME holds its response back.
    void SendMessage(uint8_t endpointId, uint8_t requestFlag, ByteView payload,
                     const Answer &answer);
    // The ME's way out to the BMC.
    void DeliverFromMe(uint8_t instanceId, ByteView message);

  private:
    MctpResult Refuse(int32_t status, const std::string &reason);

    Journal &journal_;
    ManagementEngine &me_;
    Received received_;
};

} // namespace vuno::hostsim
