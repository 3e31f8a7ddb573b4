#include "mctp_service.hpp"

#include "vendor_header.hpp"

#include <string>

namespace vuno::hostsim {

MctpService::MctpService(Journal &journal, ManagementEngine &me, Received received)
    : journal_(journal), me_(me), received_(std::move(received)) {}

void MctpService::SendMessage(uint8_t endpointId, uint8_t requestFlag, ByteView payload,
                              const Answer &answer) {
    if (endpointId != kMeEndpointId) {
        return answer(Refuse(kMctpNoRoute, "no endpoint " + std::to_string(endpointId)));
    }
    if (requestFlag > 1) {
        return answer(Refuse(kMctpInvalidMessage, "request flag " + std::to_string(requestFlag)));
    }
    const bool request = requestFlag == 1;
    if (const char *problem = VendorHeaderProblem(payload, request)) {
        return answer(Refuse(kMctpInvalidMessage, problem));
    }
    const ByteView body = payload.subspan(kVendorHeaderSize);
    const uint8_t instanceId = InstanceId(payload);
    if (!request) {
        me_.HandleBmcReply(instanceId, body);
        return answer({});
    }
    if (body.empty()) {
        return answer(Refuse(kMctpInvalidMessage, "request without a command"));
    }
    me_.HandleBmcRequest(body, [answer, instanceId](std::optional<Bytes> response) {
        if (!response) {
            return answer({kMctpNoResponse, {}});
        }
        answer({kMctpSuccess, WithVendorHeader(false, instanceId, *response)});
    });
}

void MctpService::DeliverFromMe(uint8_t instanceId, ByteView message) {
    received_(WithVendorHeader(true, instanceId, message));
}

MctpResult MctpService::Refuse(int32_t status, const std::string &reason) {
    journal_.Count(Counter::MalformedMessages);
    journal_.Note("MCTP: message refused: " + reason);
    return {status, {}};
}

} // namespace vuno::hostsim
