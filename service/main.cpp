// vunod: out-of-band management of the host's software RAID for the other
// BMC services, over D-Bus. Everything runs on one event loop on the thread
// that runs main.
#include "bus_loop.hpp"
#include "connection.hpp"
#include "platform_context.hpp"
#include "platform_hooks.hpp"
#include "steady_wait.hpp"
#include "vuno.h"
#include "vuno_object.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

constexpr auto kRequestProcessingPeriod = std::chrono::milliseconds(10);

std::shared_ptr<vuno::dbus::BusLoop> OpenSystemBus(boost::asio::io_context &io) {
    try {
        return std::make_shared<vuno::dbus::BusLoop>(io, sdbus::createSystemBusConnection());
    } catch (const sdbus::Error &error) {
        std::cerr << "Cannot connect to the system bus: " << error.getName() << ": "
                  << error.getMessage() << std::endl;
        return nullptr;
    }
}

// Moves the library's outgoing messages on, 10 ms after the end of each
// step, for the life of the process.
void ProcessRequests(boost::asio::io_context &io, vuno_instance *instance,
                     boost::asio::yield_context yield) {
    boost::asio::steady_timer timer(io);
    for (;;) {
        vuno_process_requests(instance);
        vuno::WaitFor(timer, kRequestProcessingPeriod, yield);
    }
}

} // namespace

int main() {
    boost::asio::io_context io;

    const auto bus = OpenSystemBus(io);
    if (bus == nullptr) {
        return EXIT_FAILURE;
    }

    const vuno_platform_callbacks callbacks = vuno::platform::Callbacks();
    vuno::PlatformContext platform(bus);

    // A daemon without its library could answer nothing: it exits so that
    // the service manager can start it again.
    vuno_instance *instance = nullptr;
    const int status = vuno_initialize(&instance, &platform, &callbacks);
    if (status != VUNO_STATUS_SUCCESS) {
        std::cerr << "VUNO library initialization failed, status: " << status << std::endl;
        return EXIT_FAILURE;
    }
    platform.instance = instance;

    const auto supervisor = std::make_shared<vuno::Connection>(io, instance);
    supervisor->Check();

    if (!vuno::dbus::RequestWellKnownName(bus->Connection())) {
        return EXIT_FAILURE;
    }
    const vuno::dbus::VunoObject published = vuno::dbus::PublishVunoObject(bus, instance);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code &, int) { io.stop(); });

    boost::asio::spawn(io, [&io, instance](boost::asio::yield_context yield) {
        ProcessRequests(io, instance, yield);
    });

    bus->Start();
    io.run();
    return bus->Failed() ? EXIT_FAILURE : EXIT_SUCCESS;
}
