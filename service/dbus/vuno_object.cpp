#include "vuno_object.hpp"

#include "register_methods.hpp"

#include <sdbus-c++/Error.h>
#include <systemd/sd-bus.h>

#include <iostream>

namespace vuno::dbus {
namespace {

constexpr char kDaemonVersion[] = "0.0.1";

std::string LibraryVersion() {
    return std::to_string(VUNO_LIBRARY_VERSION_MAJOR) + "." +
           std::to_string(VUNO_LIBRARY_VERSION_MINOR) + "." +
           std::to_string(VUNO_LIBRARY_VERSION_PATCH);
}

// sdbus-c++ reports a failed call by the D-Bus name of its error; sd-bus
// maps that name back to the error number.
int ErrorNumberOf(const sdbus::Error &error) {
    const sd_bus_error busError = SD_BUS_ERROR_MAKE_CONST(error.getName().c_str(), nullptr);
    return sd_bus_error_get_errno(&busError);
}

std::unique_ptr<sdbus::IObject> PublishVersionInterface(sdbus::IConnection &connection) {
    auto object = sdbus::createObject(connection, kObjectPath);
    object->registerProperty("Version")
        .onInterface(kVersionInterface)
        .withGetter([] { return VersionDictionary(); })
        .withUpdateBehavior(sdbus::Flags::EMITS_CHANGE_SIGNAL);
    object->finishRegistration();
    return object;
}

} // namespace

bool RequestWellKnownName(sdbus::IConnection &connection) {
    try {
        connection.requestName(kServiceName);
        return true;
    } catch (const sdbus::Error &error) {
        std::cout << "Cannot claim " << kServiceName << ": sd_bus_request_name failed with error "
                  << -ErrorNumberOf(error) << " (" << error.getName() << ": " << error.getMessage()
                  << ")" << std::endl;
        return false;
    }
}

VunoObject PublishVunoObject(const std::shared_ptr<BusLoop> &conn, vuno_instance *instance) {
    sdbus::IConnection &connection = conn->Connection();
    connection.addObjectManager("/", sdbus::floating_slot);

    VunoObject published;
    published.storage = sdbus::createObject(connection, kObjectPath);
    RegisterMethods(*published.storage, conn, instance);
    published.storage->emitInterfacesAddedSignal({kStorageInterface});

    published.version = PublishVersionInterface(connection);
    published.version->emitInterfacesAddedSignal({kVersionInterface});
    return published;
}

std::map<std::string, std::string> VersionDictionary() {
    return {
        {"VUNO library version", LibraryVersion()},
        {"VUNO version", kDaemonVersion},
    };
}

} // namespace vuno::dbus
