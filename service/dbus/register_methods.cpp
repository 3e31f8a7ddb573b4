#include "register_methods.hpp"

namespace vuno::dbus {

void RegisterMethods(sdbus::IObject &iface, [[maybe_unused]] const std::shared_ptr<BusLoop> &conn,
                     [[maybe_unused]] vuno_instance *instance) {
    // No storage method is registered yet; declaring the interface publishes
    // it, empty, so that clients already find it on the object.
    static_cast<void>(iface.setInterfaceFlags(kStorageInterface));
    iface.finishRegistration();
}

} // namespace vuno::dbus
