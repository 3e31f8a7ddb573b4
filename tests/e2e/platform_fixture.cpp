#include "platform_fixture.hpp"

#include <map>
#include <thread>

namespace vuno::testing {
namespace {

const std::string kControlName = "xyz.openbmc_project.VunoHostSim";
const std::string kControlPath = "/xyz/openbmc_project/VunoHostSim";
const std::string kControlInterface = "xyz.openbmc_project.VunoHostSim.Control";

Json ParseOutput(const std::string &output) {
    Json parsed = Json::parse(output, nullptr, false);
    return parsed.is_discarded() ? Json() : parsed;
}

} // namespace

std::vector<std::string> VunoCallCommand(const std::string &method,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::seconds timeout) {
    std::vector<std::string> argv{"busctl",
                                  "--system",
                                  "--json=short",
                                  "--timeout=" + std::to_string(timeout.count()),
                                  "call",
                                  "xyz.openbmc_project.Vuno",
                                  "/xyz/openbmc_project/Vuno",
                                  "xyz.openbmc_project.vuno.pelk",
                                  method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

Json ReplyDictionary(const std::string &busctlOutput) {
    const Json parsed = ParseOutput(busctlOutput);
    if (!parsed.is_object() || parsed.value("type", "") != "a{sv}") {
        return Json();
    }
    return parsed.at("data").at(0);
}

std::string Text(const Json &reply, const std::string &key) {
    if (!reply.is_object() || !reply.contains(key) || !reply[key]["data"].is_string()) {
        return "";
    }
    return reply[key]["data"].get<std::string>();
}

Json Items(const Json &reply, const std::string &key) {
    return reply.is_object() && reply.contains(key) ? reply[key]["data"] : Json::array();
}

std::vector<std::string> Ids(const Json &reply) {
    if (!reply.is_object() || !reply.contains("Ids")) {
        ADD_FAILURE() << "no identifier list: " << reply;
        return {};
    }
    return reply["Ids"]["data"].get<std::vector<std::string>>();
}

bool WaitForBusName(const std::string &name, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (RunCommand({"busctl", "--system", "status", name}, 5s).exitStatus == 0) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void PlatformFixture::TearDown() {
    if (HasFailure()) {
        if (daemon) {
            std::cout << "---- vunod output ----\n" << daemon->Output() << std::endl;
        }
        if (hostsim) {
            std::cout << "---- vuno-hostsim output ----\n" << hostsim->Output() << std::endl;
        }
    }
    daemon.reset();
    hostsim.reset();
    bus.reset();
}

void PlatformFixture::StartHostSim(std::vector<std::string> options) {
    if (!bus) {
        bus.emplace();
    }
    std::vector<std::string> argv{BuiltProgram("HOSTSIM_PATH")};
    argv.insert(argv.end(), options.begin(), options.end());
    hostsim.emplace(argv);
    ASSERT_TRUE(WaitForBusName(kControlName, 10s)) << hostsim->Output();
    ASSERT_TRUE(WaitForBusName("xyz.openbmc_project.MCTP", 10s)) << hostsim->Output();
}

void PlatformFixture::StartDaemon(const std::vector<std::string> &options) {
    if (!bus) {
        bus.emplace();
    }
    std::vector<std::string> argv{BuiltProgram("VUNOD_PATH")};
    argv.insert(argv.end(), options.begin(), options.end());
    daemon.emplace(argv);
    ASSERT_TRUE(WaitForBusName("xyz.openbmc_project.Vuno", 10s)) << daemon->Output();
}

void PlatformFixture::StartConnected(const std::vector<std::string> &daemonOptions) {
    ASSERT_NO_FATAL_FAILURE(StartHostSim());
    ASSERT_NO_FATAL_FAILURE(StartDaemon(daemonOptions));
    ExpectDaemonOutput("BMC to Host successfully connected.", 20s);
}

Json PlatformFixture::Control(const std::string &method, std::vector<std::string> arguments) {
    std::vector<std::string> argv{"busctl",     "--system",   "--json=short",    "call",
                                  kControlName, kControlPath, kControlInterface, method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto result = RunCommand(argv, 10s);
    EXPECT_EQ(result.exitStatus, 0) << method << ": " << result.output;
    return ParseOutput(result.output);
}

std::vector<uint32_t> PlatformFixture::ConnectAttempts() {
    const Json reply = Control("GetConnectAttempts");
    return reply.is_object() ? reply["data"][0].get<std::vector<uint32_t>>()
                             : std::vector<uint32_t>{};
}

uint64_t PlatformFixture::Counter(const std::string &name) {
    const Json counters = Control("GetCounters");
    const Json *value = counters.is_object() && counters["data"][0].contains(name)
                            ? &counters["data"][0][name]
                            : nullptr;
    EXPECT_NE(value, nullptr) << name << " missing in " << counters;
    return value == nullptr ? 0 : value->get<uint64_t>();
}

Json PlatformFixture::CallVuno(const std::string &method, const std::vector<std::string> &arguments,
                               std::chrono::seconds timeout) {
    const auto result = RunCommand(VunoCallCommand(method, arguments, timeout), timeout + 5s);
    EXPECT_EQ(result.exitStatus, 0) << method << ": " << result.output;
    const Json reply = ReplyDictionary(result.output);
    EXPECT_TRUE(reply.is_object()) << method << ": " << result.output;
    return reply;
}

std::vector<std::string> PlatformFixture::FreeDrivePair() {
    std::map<std::string, std::vector<std::string>> byController;
    for (const Json &drive : Items(CallVuno("GetDriveInformation", kGlobal), "Drives")) {
        if (Text(drive, "Usage") == "Pass-through") {
            byController[Text(drive, "ControllerId")].push_back(Text(drive, "Id"));
        }
    }
    for (const auto &[controller, drives] : byController) {
        if (drives.size() >= 2) {
            return {drives[0], drives[1]};
        }
    }
    return {};
}

std::string PlatformFixture::Subscribe(const std::vector<std::string> &types) {
    std::vector<std::string> arguments{"ssas", "Global", kZero, std::to_string(types.size())};
    arguments.insert(arguments.end(), types.begin(), types.end());
    const std::string id = Text(CallVuno("CreateEventSubscription", arguments), "SubscriptionId");
    EXPECT_FALSE(id.empty());
    return id;
}

std::vector<std::unique_ptr<ChildProcess>>
PlatformFixture::StartHeldGetEvents(const std::string &subscription, size_t count) {
    const size_t from = daemon->Output().size();
    std::vector<std::unique_ptr<ChildProcess>> held;
    for (size_t i = 0; i < count; ++i) {
        held.push_back(std::make_unique<ChildProcess>(
            VunoCallCommand("GetEvents", {"su", subscription, "0"}, 120s)));
    }
    EXPECT_EQ(WaitForDaemonOutputs(kSentLine, count, 60s, from), count);
    return held;
}

size_t PlatformFixture::ExpectDaemonOutput(const std::string &text,
                                           std::chrono::milliseconds timeout, size_t from) {
    const auto found = daemon->WaitForOutput(text, timeout, from);
    EXPECT_TRUE(found) << "vunod did not write \"" << text << "\"";
    return found.value_or(from);
}

size_t PlatformFixture::WaitForDaemonOutputs(const std::string &text, size_t count,
                                             std::chrono::milliseconds timeout, size_t from) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t seen = 0;
    for (; seen < count; ++seen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto found = daemon->WaitForOutput(text, std::max(left, 0ms), from);
        if (!found) {
            break;
        }
        from = *found;
    }
    return seen;
}

} // namespace vuno::testing
