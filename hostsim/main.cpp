// vuno-hostsim: the platform around the BMC for tests and demonstrations.
// It owns the MCTP service's bus name, answers for the ME, runs a host
// application that sends heartbeats, and offers a control interface.
#include "bus_loop.hpp"
#include "clock_driver.hpp"
#include "control_object.hpp"
#include "mctp_object.hpp"
#include "options.hpp"
#include "simulator.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string>

namespace {

using namespace vuno::hostsim;

void PrintLine(const std::string &line) {
    std::cout << line << std::endl;
}

std::string DescribeSettings(const Settings &settings) {
    std::string text = "vuno-hostsim: live VMDs:";
    for (uint32_t location : settings.liveLocations) {
        text += " " + Hex32(location);
    }
    text += ", heartbeat period " + std::to_string(settings.heartbeats.period.count()) + " ms";
    if (!settings.heartbeats.enabled) {
        text += ", heartbeats stopped";
    }
    return text;
}

std::string DescribeStorage(const RaidModel &storage) {
    const Inventory &inventory = storage.Contents();
    return "vuno-hostsim: storage: " + std::to_string(inventory.controllers.size()) +
           " controllers, " + std::to_string(inventory.drives.size()) + " drives, " +
           std::to_string(inventory.volumes.size()) + " volumes";
}

int Run(const Settings &settings) {
    boost::asio::io_context io;
    auto connection = sdbus::createSystemBusConnection();
    auto mctpObject = sdbus::createObject(*connection, dbus::kMctpObjectPath);
    auto controlObject = sdbus::createObject(*connection, dbus::kControlObjectPath);
    auto loop = std::make_shared<vuno::dbus::BusLoop>(io, *connection);

    Simulator simulator(
        settings,
        [&mctpObject, &loop](const Bytes &message) {
            dbus::EmitMctpMessageReceived(*mctpObject, message);
            loop->Rearm();
        },
        PrintLine);
    dbus::ClockDriver clock(io, simulator);
    dbus::RegisterMctpService(*mctpObject, simulator, [&clock, &loop] {
        clock.Poke();
        loop->Rearm();
    });
    dbus::RegisterControl(*controlObject, simulator);
    mctpObject->finishRegistration();
    controlObject->finishRegistration();
    connection->requestName(dbus::kMctpServiceName);
    connection->requestName(dbus::kControlServiceName);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code &, int) { io.stop(); });
    loop->Start();
    clock.Start();

    PrintLine(DescribeSettings(settings));
    PrintLine(DescribeStorage(simulator.Storage()));
    PrintLine("vuno-hostsim: ready");
    io.run();
    PrintLine("vuno-hostsim: stopped");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const Options options = ParseOptions(args);
    if (options.error) {
        std::cerr << "vuno-hostsim: " << *options.error << "\n" << Usage(argv[0]);
        return 2;
    }
    if (options.help) {
        std::cout << Usage(argv[0]);
        return 0;
    }
    try {
        return Run(options.settings);
    } catch (const sdbus::Error &error) {
        std::cerr << "vuno-hostsim: D-Bus error: " << error.getName() << ": " << error.getMessage()
                  << std::endl;
        return 1;
    }
}
