// A private system bus with the simulated platform and the daemon on it,
// and small helpers to drive the simulator's control interface with busctl
// (a different D-Bus client than the daemon's, so marshalling mistakes
// that one library would hide on both ends show up).
#pragma once

#include "processes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vuno::testing {

// busctl's command line for a call of the daemon's storage interface;
// `arguments` start with their signature.
std::vector<std::string> VunoCallCommand(const std::string &method,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::seconds timeout);

class PlatformFixture : public ::testing::Test {
  protected:
    void TearDown() override;

    // Starts the simulator with the given options and waits until it owns
    // its names.
    void StartHostSim(std::vector<std::string> options = {});
    void StartDaemon();

    // Calls a method of the simulator's control interface; returns busctl's
    // output (the reply in busctl's text form).
    std::string Control(const std::string &method, std::vector<std::string> arguments = {});
    std::vector<uint32_t> ConnectAttempts();
    // One of the simulator's counters (GetCounters).
    uint64_t Counter(const std::string &name);

    // Calls a method of the daemon's storage interface with busctl and
    // returns the reply in busctl's text form.
    std::string CallVuno(const std::string &method, const std::vector<std::string> &arguments = {},
                         std::chrono::seconds timeout = 30s);

    // Waits for `text` in the daemon's output, from `from` on; fails the
    // test on time-out and returns the offset behind the text.
    size_t ExpectDaemonOutput(const std::string &text, std::chrono::milliseconds timeout,
                              size_t from = 0);

    std::optional<PrivateBus> bus;
    std::optional<ChildProcess> hostsim;
    std::optional<ChildProcess> daemon;
};

// Waits until `name` has an owner on the private bus.
bool WaitForBusName(const std::string &name, std::chrono::milliseconds timeout);

} // namespace vuno::testing
