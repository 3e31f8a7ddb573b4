// vunod: out-of-band management of the host's software RAID for the other
// BMC services, over D-Bus. Everything runs on one event loop on the thread
// that runs main.
#include "bus_loop.hpp"
#include "connection.hpp"
#include "firmware_image.hpp"
#include "mctp_header.hpp"
#include "method_call.hpp"
#include "mirror.hpp"
#include "options.hpp"
#include "platform_context.hpp"
#include "platform_hooks.hpp"
#include "progress_object.hpp"
#include "request_processing.hpp"
#include "steady_wait.hpp"
#include "vuno.h"
#include "vuno_object.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>
#include <variant>

namespace {

std::shared_ptr<vuno::dbus::BusLoop> OpenSystemBus(boost::asio::io_context &io) {
    try {
        return std::make_shared<vuno::dbus::BusLoop>(io, sdbus::createSystemBusConnection());
    } catch (const sdbus::Error &error) {
        std::cout << "Cannot connect to the system bus: " << error.getName() << ": "
                  << error.getMessage() << std::endl;
        return nullptr;
    }
}

// Brings every coroutine to its end on the loop rather than letting the
// io_context tear suspended ones down. The library is de-initialised when
// the supervisor's last owner lets go of it, here or in its coroutine.
void Shutdown(boost::asio::io_context &io, vuno::dbus::BusLoop &bus,
              vuno::PlatformContext &platform, vuno::RequestProcessing &requests,
              std::shared_ptr<vuno::Connection> &supervisor) {
    bus.Stop();
    // Before the library goes, which may still complete their requests.
    vuno::dbus::StopMethodCalls(io);
    platform.mctp.Stop();
    requests.Stop();
    supervisor->Stop();
    supervisor.reset();
    vuno::RunReadyHandlers(io);
}

std::unique_ptr<vuno::inventory::Mirror>
StartMirror(const vuno::Options &options, const std::shared_ptr<vuno::dbus::BusLoop> &bus,
            vuno_instance *instance) {
    if (!options.inventoryMirror) {
        return nullptr;
    }
    auto journal = options.journalExport ? vuno::inventory::ExportFile(*options.journalExport)
                                         : vuno::inventory::SystemJournal();
    auto mirror = std::make_unique<vuno::inventory::Mirror>(bus, instance, std::move(journal));
    mirror->Start();
    return mirror;
}

void Apply(const vuno::Options &options) {
    vuno::mctp::SetMeVendorId(options.meVendorId);
    if (!options.firmwareFolder) {
        return;
    }
    vuno::dbus::AcceptFirmwareImagesOnlyFrom(*options.firmwareFolder);
    std::error_code ignored;
    if (!std::filesystem::is_directory(*options.firmwareFolder, ignored)) {
        std::cout << "Firmware folder " << options.firmwareFolder->string()
                  << " does not exist yet: no image is accepted until it does" << std::endl;
    }
}

} // namespace

int main(int argc, char **argv) {
    const vuno::CommandLine commandLine =
        vuno::ParseCommandLine(argc, argv, vuno::mctp::MeVendorId());
    if (const int *exitStatus = std::get_if<int>(&commandLine)) {
        return *exitStatus;
    }
    const vuno::Options &options = std::get<vuno::Options>(commandLine);
    Apply(options);

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
        std::cout << "VUNO library initialization failed, status: " << status << std::endl;
        return EXIT_FAILURE;
    }
    platform.instance = instance;

    auto supervisor = std::make_shared<vuno::Connection>(io, instance);
    supervisor->Check();
    vuno::RequestProcessing requests(io, instance);

    if (!vuno::dbus::RequestWellKnownName(bus->Connection())) {
        Shutdown(io, *bus, platform, requests, supervisor);
        return EXIT_FAILURE;
    }
    const vuno::dbus::VunoObject published = vuno::dbus::PublishVunoObject(bus, instance);
    vuno::dbus::TransmissionProgress progress(bus, instance);
    // Destroyed after Shutdown, which ends the library its request may
    // still be waiting in.
    const auto mirror = StartMirror(options, bus, instance);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code &, int) { io.stop(); });

    requests.Start();
    bus->Start();
    requests.RunLoop([&progress] { progress.WakeIfTransmitting(); });

    progress.Stop();
    if (mirror) {
        mirror->Stop();
    }
    Shutdown(io, *bus, platform, requests, supervisor);
    return bus->Failed() ? EXIT_FAILURE : EXIT_SUCCESS;
}
