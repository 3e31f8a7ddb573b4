#include "platform_fixture.hpp"

#include <sstream>
#include <thread>

namespace vuno::testing {
namespace {

const std::string kControlName = "xyz.openbmc_project.VunoHostSim";
const std::string kControlPath = "/xyz/openbmc_project/VunoHostSim";
const std::string kControlInterface = "xyz.openbmc_project.VunoHostSim.Control";

} // namespace

std::vector<std::string> VunoCallCommand(const std::string &method,
                                         const std::vector<std::string> &arguments,
                                         std::chrono::seconds timeout) {
    std::vector<std::string> argv{"busctl",
                                  "--system",
                                  "--timeout=" + std::to_string(timeout.count()),
                                  "call",
                                  "xyz.openbmc_project.Vuno",
                                  "/xyz/openbmc_project/Vuno",
                                  "xyz.openbmc_project.vuno.pelk",
                                  method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
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

void PlatformFixture::StartDaemon() {
    if (!bus) {
        bus.emplace();
    }
    daemon.emplace(std::vector<std::string>{BuiltProgram("VUNOD_PATH")});
    ASSERT_TRUE(WaitForBusName("xyz.openbmc_project.Vuno", 10s)) << daemon->Output();
}

std::string PlatformFixture::Control(const std::string &method,
                                     std::vector<std::string> arguments) {
    std::vector<std::string> argv{"busctl",     "--system",        "call", kControlName,
                                  kControlPath, kControlInterface, method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto result = RunCommand(argv, 10s);
    EXPECT_EQ(result.exitStatus, 0) << method << ": " << result.output;
    return result.output;
}

std::vector<uint32_t> PlatformFixture::ConnectAttempts() {
    // busctl prints: au N v1 v2 ...
    std::istringstream reply(Control("GetConnectAttempts"));
    std::string signature;
    size_t count = 0;
    reply >> signature >> count;
    std::vector<uint32_t> values(count);
    for (auto &value : values) {
        reply >> value;
    }
    return values;
}

uint64_t PlatformFixture::Counter(const std::string &name) {
    // busctl prints: a{st} N "name" value "name" value ...
    const std::string counters = Control("GetCounters");
    const std::string key = "\"" + name + "\" ";
    const size_t at = counters.find(key);
    EXPECT_NE(at, std::string::npos) << counters;
    return at == std::string::npos ? 0 : std::stoull(counters.substr(at + key.size()));
}

std::string PlatformFixture::CallVuno(const std::string &method,
                                      const std::vector<std::string> &arguments,
                                      std::chrono::seconds timeout) {
    const auto result = RunCommand(VunoCallCommand(method, arguments, timeout), timeout + 5s);
    EXPECT_EQ(result.exitStatus, 0) << method << ": " << result.output;
    return result.output;
}

size_t PlatformFixture::ExpectDaemonOutput(const std::string &text,
                                           std::chrono::milliseconds timeout, size_t from) {
    const auto found = daemon->WaitForOutput(text, timeout, from);
    EXPECT_TRUE(found) << "vunod did not write \"" << text << "\"";
    return found.value_or(from);
}

} // namespace vuno::testing
