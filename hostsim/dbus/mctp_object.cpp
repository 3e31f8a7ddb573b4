#include "mctp_object.hpp"

#include <sdbus-c++/sdbus-c++.h>

namespace vuno::hostsim::dbus {

void RegisterMctpService(sdbus::IObject &object, Simulator &simulator,
                         std::function<void()> afterExchange) {
    object.registerMethod("sendMessage")
        .onInterface(kMctpInterface)
        .withInputParamNames("eid", "request", "message")
        .withOutputParamNames("result")
        .implementedAs([&simulator, afterExchange = std::move(afterExchange)](
                           uint8_t eid, uint8_t request, const std::vector<uint8_t> &message) {
            auto result = simulator.Mctp().SendMessage(eid, request, message);
            afterExchange();
            return sdbus::make_struct(result.status, std::move(result.message));
        });
    object.registerSignal("mctpMessageReceived")
        .onInterface(kMctpInterface)
        .withParameters<std::vector<uint8_t>>("message");
}

void EmitMctpMessageReceived(sdbus::IObject &object, const Bytes &message) {
    object.emitSignal("mctpMessageReceived").onInterface(kMctpInterface).withArguments(message);
}

} // namespace vuno::hostsim::dbus
