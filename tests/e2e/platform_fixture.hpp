// A private system bus with the simulated platform and the daemon on it.
// Calls go through busctl (a different D-Bus client than the daemon's, so
// marshalling mistakes that one library would hide on both ends show up),
// and replies are read from busctl's JSON form.
#pragma once

#include "processes.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vuno::testing {

using Json = nlohmann::json;

inline const std::string kZero = "00000000-0000-0000-0000-000000000000";
inline const std::vector<std::string> kGlobal = {"ss", "Global", kZero};
inline const std::string kSentLine = "SSI Request successfully sent.";

// busctl's command line for a call of the daemon's storage interface;
// `arguments` start with their signature.
std::vector<std::string> VunoCallCommand(const std::string &method,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::seconds timeout);

// The reply dictionary in a busctl --json=short output: each key maps to
// {"type": signature, "data": value}. Null when the output is no reply.
Json ReplyDictionary(const std::string &busctlOutput);
// The text of a string entry, or "" when the key is missing.
std::string Text(const Json &reply, const std::string &key);
// The items of an information list, each a dictionary as busctl shows it.
Json Items(const Json &reply, const std::string &key);
// The identifiers of an identifier-list reply ("Ids").
std::vector<std::string> Ids(const Json &reply);
// The error name of an error dictionary, or "" for a result.
inline std::string ErrorName(const Json &reply) {
    return Text(reply, "Error");
}

class PlatformFixture : public ::testing::Test {
  protected:
    void TearDown() override;

    // Starts the simulator with the given options and waits until it owns
    // its names.
    void StartHostSim(std::vector<std::string> options = {});
    void StartDaemon(const std::vector<std::string> &options = {});
    void StartConnected(const std::vector<std::string> &daemonOptions = {});

    // Calls a method of the simulator's control interface; returns its
    // reply in busctl's JSON form ("data" holds the values).
    Json Control(const std::string &method, std::vector<std::string> arguments = {});
    std::vector<uint32_t> ConnectAttempts();
    // One of the simulator's counters (GetCounters).
    uint64_t Counter(const std::string &name);

    // Calls a method of the daemon's storage interface and returns the
    // reply dictionary.
    Json CallVuno(const std::string &method, const std::vector<std::string> &arguments = {},
                  std::chrono::seconds timeout = 30s);

    // Two pass-through drives of one controller, which can form a volume;
    // empty if the host has none.
    std::vector<std::string> FreeDrivePair();
    // Subscribes to events of the given types on the whole host.
    std::string Subscribe(const std::vector<std::string> &types);
    // Starts `count` GetEvents calls on the subscription and waits until
    // the host holds every one of them, for want of events.
    std::vector<std::unique_ptr<ChildProcess>> StartHeldGetEvents(const std::string &subscription,
                                                                  size_t count);

    // Waits for `text` in the daemon's output, from `from` on; fails the
    // test on time-out and returns the offset behind the text.
    size_t ExpectDaemonOutput(const std::string &text, std::chrono::milliseconds timeout,
                              size_t from = 0);
    // Waits until the daemon has written `text` `count` times from `from`
    // on; returns how often it did within the time-out.
    size_t WaitForDaemonOutputs(const std::string &text, size_t count,
                                std::chrono::milliseconds timeout, size_t from);

    std::optional<PrivateBus> bus;
    std::optional<ChildProcess> hostsim;
    std::optional<ChildProcess> daemon;
};

// Waits until `name` has an owner on the private bus.
bool WaitForBusName(const std::string &name, std::chrono::milliseconds timeout);

} // namespace vuno::testing
