// A private system bus with the simulated platform and the daemon on it,
// and small helpers to drive the simulator's control interface with busctl
// (a different D-Bus client than the daemon's, so marshalling mistakes
// that one library would hide on both ends show up).
#pragma once

#include "busctl_json.hpp"
#include "processes.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vuno::testing {

// A reply of the daemon's storage interface as busctl printed it.
struct VunoReply {
    int exitStatus = -1;
    std::string output;
    // The entries of the a{sv} dictionary: their values and their types.
    std::map<std::string, Json> values;
    std::map<std::string, std::string> types;

    // A string entry, or the empty text when there is none.
    std::string Text(const std::string &key) const;
    // The "Error" entry: empty for a successful call.
    std::string Error() const { return Text("Error"); }
};

// busctl's command line for a call of the daemon's storage interface;
// `arguments` start with their signature.
std::vector<std::string> VunoCallCommand(const std::string &method,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::seconds timeout);
// Reads what busctl printed for such a call; fails the test when it is not
// a dictionary.
VunoReply ReadVunoReply(int exitStatus, std::string output);

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
    std::map<std::string, uint64_t> Counters();

    VunoReply CallVuno(const std::string &method, std::vector<std::string> arguments = {},
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
