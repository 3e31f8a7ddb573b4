// The record the library receives as its user context and hands back to the
// timer and MCTP callbacks.
#pragma once

#include "bus_loop.hpp"
#include "mctp_interface.hpp"
#include "vuno.h"

#include <memory>
#include <optional>

namespace vuno {

struct PlatformContext {
    explicit PlatformContext(std::shared_ptr<dbus::BusLoop> bus,
                             MCTPInterface::MessageSink sink = bmc_me_mctp_message_received)
        : conn(bus), mctp(bus, instance, std::move(sink)) {}

    // Empty until the library has been initialised.
    std::optional<vuno_instance *> instance;
    std::shared_ptr<dbus::BusLoop> conn;
    MCTPInterface mctp;
};

} // namespace vuno
