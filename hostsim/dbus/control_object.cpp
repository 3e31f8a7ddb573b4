#include "control_object.hpp"

#include "inventory_file.hpp"
#include "malformed_frames.hpp"
#include "ssi_executor.hpp"

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

void SendMalformedFrame(Simulator &simulator, const std::string &kind) {
    if (simulator.SendMalformedFrame(kind)) {
        return;
    }
    if (!MalformedFrames(kind)) {
        std::string kinds;
        for (const auto name : MalformedFrameKinds()) {
            kinds += (kinds.empty() ? "" : ", ") + std::string(name);
        }
        throw sdbus::Error(kInvalidArgumentError,
                           "Unknown kind \"" + kind + "\": use one of " + kinds);
    }
    RequireAccepted(false);
}

void RequireCommandCode(uint8_t code) {
    if (code > kMaxCommandCode) {
        throw sdbus::Error(kInvalidArgumentError, "Command code " + std::to_string(code) +
                                                      " is above " +
                                                      std::to_string(kMaxCommandCode));
    }
}

// Fault injection on the host's message exchange.
void RegisterExchangeFaults(sdbus::IObject &object, Simulator &simulator) {
    object.registerMethod("ReplaceStatusFrames")
        .onInterface(kControlInterface)
        .withInputParamNames("status", "count")
        .implementedAs([&simulator](uint8_t status, uint32_t count) {
            simulator.Host().Protocol().ReplaceVerdicts(status, count);
        });
    object.registerMethod("WithholdStatusFrames")
        .onInterface(kControlInterface)
        .withInputParamNames("count")
        .implementedAs(
            [&simulator](uint32_t count) { simulator.Host().Protocol().WithholdVerdicts(count); });
    object.registerMethod("LeaveRequestsUnanswered")
        .onInterface(kControlInterface)
        .withInputParamNames("count")
        .implementedAs(
            [&simulator](uint32_t count) { simulator.Host().Executor().LeaveUnanswered(count); });
    object.registerMethod("SetCommandStatus")
        .onInterface(kControlInterface)
        .withInputParamNames("code", "status")
        .implementedAs([&simulator](uint8_t code, uint16_t status) {
            RequireCommandCode(code);
            simulator.Host().Executor().OverrideStatus(code, status);
        });
    object.registerMethod("ClearCommandStatus")
        .onInterface(kControlInterface)
        .withInputParamNames("code")
        .implementedAs(
            [&simulator](uint8_t code) { simulator.Host().Executor().ClearStatusOverride(code); });
    object.registerMethod("ClearCommandStatuses")
        .onInterface(kControlInterface)
        .implementedAs([&simulator] { simulator.Host().Executor().ClearStatusOverrides(); });
    object.registerMethod("SendMalformedFrame")
        .onInterface(kControlInterface)
        .withInputParamNames("kind")
        .implementedAs(
            [&simulator](const std::string &kind) { SendMalformedFrame(simulator, kind); });
    object.registerMethod("RestartHostAfterDataFrames")
        .onInterface(kControlInterface)
        .withInputParamNames("count")
        .implementedAs(
            [&simulator](uint32_t count) { simulator.Host().RestartAfterDataFrames(count); });
}

Identifier RequireIdentifier(const std::string &text) {
    if (text.empty()) {
        return kNoIdentifier;
    }
    const auto id = ParseIdentifier(text);
    if (!id) {
        throw sdbus::Error(kInvalidArgumentError,
                           "Not an identifier: \"" + text + "\": use 32 hexadecimal digits");
    }
    return *id;
}

void LoadInventory(Simulator &simulator, const std::string &path) {
    InventoryLoad load = LoadInventoryFile(path);
    if (!load.inventory) {
        throw sdbus::Error(kInvalidArgumentError, load.error);
    }
    simulator.Storage().Replace(std::move(*load.inventory));
}

void TriggerEvent(Simulator &simulator, uint8_t type, const std::string &object) {
    if (!IsEventType(type)) {
        throw sdbus::Error(kInvalidArgumentError,
                           "Event type " + std::to_string(type) + " is not 0..2 or 128..141");
    }
    simulator.Storage().RaiseEvent(static_cast<EventType>(type), RequireIdentifier(object));
}

void RequireDriveChanged(SsiStatus status, const std::string &drive) {
    if (status != SsiStatus::Success) {
        throw sdbus::Error(kInvalidArgumentError, "Drive \"" + drive + "\" is not in that state");
    }
}

// The host's storage: its inventory, and things that happen to drives.
void RegisterStorageControl(sdbus::IObject &object, Simulator &simulator) {
    object.registerMethod("LoadInventory")
        .onInterface(kControlInterface)
        .withInputParamNames("path")
        .implementedAs([&simulator](const std::string &path) { LoadInventory(simulator, path); });
    object.registerMethod("GetInventory")
        .onInterface(kControlInterface)
        .withOutputParamNames("inventory")
        .implementedAs([&simulator] { return WriteInventory(simulator.Storage()); });
    object.registerMethod("TriggerEvent")
        .onInterface(kControlInterface)
        .withInputParamNames("type", "object")
        .implementedAs([&simulator](uint8_t type, const std::string &object) {
            TriggerEvent(simulator, type, object);
        });
    object.registerMethod("FailDrive")
        .onInterface(kControlInterface)
        .withInputParamNames("drive")
        .implementedAs([&simulator](const std::string &drive) {
            RequireDriveChanged(simulator.Storage().FailDrive(RequireIdentifier(drive)), drive);
        });
    object.registerMethod("ReinsertDrive")
        .onInterface(kControlInterface)
        .withInputParamNames("drive")
        .implementedAs([&simulator](const std::string &drive) {
            RequireDriveChanged(simulator.Storage().ReinsertDrive(RequireIdentifier(drive)), drive);
        });
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
    object.registerMethod("SetTransferAnswerDelay")
        .onInterface(kControlInterface)
        .withInputParamNames("milliseconds")
        .implementedAs([&simulator](uint32_t milliseconds) {
            simulator.Me().SetTransferAnswerDelay(Duration{milliseconds});
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
        .implementedAs([&simulator] { return simulator.Counters(); });
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
    RegisterExchangeFaults(object, simulator);
    RegisterStorageControl(object, simulator);
}

} // namespace vuno::hostsim::dbus
