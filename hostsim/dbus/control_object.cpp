#include "control_object.hpp"

#include <sdbus-c++/sdbus-c++.h>

#include <string>

namespace vuno::hostsim::dbus {
namespace {

void SetResponseMode(Simulator &simulator, const std::string &name, uint32_t count) {
    const auto mode = ParseResponseMode(name);
    if (!mode) {
        throw sdbus::Error(kInvalidArgumentError,
                           "Unknown mode \"" + name + "\": use normal, drop or refuse");
    }
    simulator.Me().SetResponseMode(*mode, count);
}

void RequireAccepted(bool accepted) {
    if (!accepted) {
        throw sdbus::Error(kInvalidArgumentError, "Message longer than " +
                                                      std::to_string(kMaxInjectedSize) +
                                                      " bytes, or too many messages queued");
    }
}

} // namespace

void RegisterControl(sdbus::IObject &object, Simulator &simulator) {
    object.registerMethod("StopHeartbeats")
        .onInterface(kControlInterface)
        .implementedAs([&simulator] { simulator.Host().StopHeartbeats(); });
    object.registerMethod("ResumeHeartbeats")
        .onInterface(kControlInterface)
        .implementedAs([&simulator] { simulator.Host().ResumeHeartbeats(); });
    object.registerMethod("RestartHost").onInterface(kControlInterface).implementedAs([&simulator] {
        simulator.Host().Restart();
    });
    object.registerMethod("SetVmdLive")
        .onInterface(kControlInterface)
        .withInputParamNames("location", "live")
        .implementedAs([&simulator](uint32_t location, bool live) {
            simulator.Me().SetVmdLive(location, live);
        });
    object.registerMethod("SetMeResponseMode")
        .onInterface(kControlInterface)
        .withInputParamNames("mode", "count")
        .implementedAs([&simulator](const std::string &mode, uint32_t count) {
            SetResponseMode(simulator, mode, count);
        });
    object.registerMethod("InjectFrame")
        .onInterface(kControlInterface)
        .withInputParamNames("frame")
        .implementedAs([&simulator](const std::vector<uint8_t> &frame) {
            RequireAccepted(simulator.Me().InjectFrame(frame));
        });
    object.registerMethod("InjectMeMessage")
        .onInterface(kControlInterface)
        .withInputParamNames("message")
        .implementedAs([&simulator](const std::vector<uint8_t> &message) {
            RequireAccepted(simulator.Me().InjectMessage(message));
        });
    object.registerMethod("GetCounters")
        .onInterface(kControlInterface)
        .withOutputParamNames("counters")
        .implementedAs([&simulator] { return simulator.Records().Snapshot(); });
    object.registerMethod("GetConnectAttempts")
        .onInterface(kControlInterface)
        .withOutputParamNames("locations")
        .implementedAs([&simulator] { return simulator.Me().ConnectAttempts(); });
    object.registerMethod("GetLinkState")
        .onInterface(kControlInterface)
        .withOutputParamNames("state")
        .implementedAs([&simulator] {
            return sdbus::make_struct(simulator.Me().Connected(), simulator.Me().Location());
        });
}

} // namespace vuno::hostsim::dbus
