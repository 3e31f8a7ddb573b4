// The daemon as a whole on a private system bus, with no MCTP service: what
// it publishes and how it starts and stops.
#include "processes.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::BuiltProgram;
using testing::ChildProcess;
using testing::RunCommand;

testing::CommandResult Version(const std::vector<std::string> &set = {}) {
    std::vector<std::string> command{"busctl",
                                     "--system",
                                     set.empty() ? "get-property" : "set-property",
                                     "xyz.openbmc_project.Vuno",
                                     "/xyz/openbmc_project/Vuno",
                                     "xyz.openbmc_project.vuno",
                                     "Version"};
    command.insert(command.end(), set.begin(), set.end());
    return RunCommand(command, 10s);
}

TEST(Vunod, PublishesAReadOnlyVersionOwnsItsNameAloneAndStopsCleanlyOnSigint) {
    testing::PrivateBus bus;
    ChildProcess vunod({BuiltProgram("VUNOD_PATH")});
    // The first connect attempt comes only once the name is owned, the
    // object published and the loop running.
    ASSERT_TRUE(vunod.WaitForOutput("Trying connect to VMD: 0x0 0x0 0x5", 10s)) << vunod.Output();
    const std::string version =
        "a{ss} 2 \"VUNO library version\" \"0.8.0\" \"VUNO version\" \"0.0.1\"\n";
    EXPECT_EQ(Version().output, version);
    EXPECT_NE(Version({"a{ss}", "1", "VUNO version", "9"}).exitStatus, 0);
    EXPECT_EQ(Version().output, version);

    ChildProcess second({BuiltProgram("VUNOD_PATH")});
    EXPECT_NE(second.WaitForExit(10s).value_or(0), 0) << second.Output();
    EXPECT_NE(second.Output().find("sd_bus_request_name"), std::string::npos) << second.Output();
    EXPECT_EQ(second.Output().find("Trying connect"), std::string::npos);

    const size_t signalled = vunod.Output().size();
    vunod.Signal(SIGINT);
    EXPECT_EQ(vunod.WaitForExit(10s), std::optional<int>(0)) << vunod.Output();
    const auto deinitialized = vunod.WaitForOutput("VUNO Deinitialize", 0ms, signalled);
    ASSERT_TRUE(deinitialized.has_value()) << vunod.Output();
    EXPECT_TRUE(vunod.WaitForOutput("SSI Deinitialize", 0ms, *deinitialized).has_value());
}

} // namespace
} // namespace vuno
