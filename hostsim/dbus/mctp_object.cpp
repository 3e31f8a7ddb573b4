#include "mctp_object.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <memory>

namespace vuno::hostsim::dbus {
namespace {

using SendResult = sdbus::Result<sdbus::Struct<int32_t, std::vector<uint8_t>>>;

} // namespace

void RegisterMctpService(sdbus::IObject &object, Simulator &simulator,
                         std::function<void()> afterExchange) {
    object.registerMethod("sendMessage")
        .onInterface(kMctpInterface)
        .withInputParamNames("eid", "request", "message")
        .withOutputParamNames("result")
        .implementedAs([&simulator, afterExchange = std::move(afterExchange)](
                           SendResult &&call, uint8_t eid, uint8_t request,
                           const std::vector<uint8_t> &message) {
            // Shared because the answer may outlive this handler.
            auto pending = std::make_shared<SendResult>(std::move(call));
            simulator.Mctp().SendMessage(
                eid, request, message, [pending, afterExchange](const MctpResult &result) {
                    pending->returnResults(sdbus::make_struct(result.status, result.message));
                    afterExchange();
                });
        });
    object.registerSignal("mctpMessageReceived")
        .onInterface(kMctpInterface)
        .withParameters<std::vector<uint8_t>>("message");
}

void EmitMctpMessageReceived(sdbus::IObject &object, const Bytes &message) {
    object.emitSignal("mctpMessageReceived").onInterface(kMctpInterface).withArguments(message);
}

} // namespace vuno::hostsim::dbus
