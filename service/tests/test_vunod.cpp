// The daemon as a whole on a private system bus, with no MCTP service: what
// it publishes and how it starts and stops.
#include "processes.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::BuiltProgram;
using testing::ChildProcess;
using testing::RunCommand;

const std::vector<std::string> kVersionProperty = {
    "xyz.openbmc_project.Vuno", "/xyz/openbmc_project/Vuno", "xyz.openbmc_project.vuno", "Version"};
constexpr char kVersionValue[] =
    "a{ss} 2 \"VUNO library version\" \"0.8.0\" \"VUNO version\" \"0.0.1\"\n";

class VunodTest : public ::testing::Test {
  protected:
    // Past start-up: the first connect attempt comes only once the name is
    // owned, the object published and the loop running.
    void SetUp() override {
        vunod.emplace(std::vector<std::string>{BuiltProgram("VUNOD_PATH")});
        ASSERT_TRUE(vunod->WaitForOutput("Trying connect to VMD: 0x0 0x0 0x5", 10s))
            << vunod->Output();
    }

    static testing::CommandResult Busctl(const std::string &verb,
                                         std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"busctl", "--system", verb});
        return RunCommand(arguments, 10s);
    }

    testing::PrivateBus bus;
    std::optional<ChildProcess> vunod;
};

TEST_F(VunodTest, PublishesAReadOnlyVersionAndItsObjectUnderTheManager) {
    EXPECT_EQ(Busctl("get-property", kVersionProperty).output, kVersionValue);
    std::vector<std::string> set = kVersionProperty;
    set.insert(set.end(), {"a{ss}", "1", "VUNO version", "9"});
    EXPECT_NE(Busctl("set-property", set).exitStatus, 0);
    EXPECT_EQ(Busctl("get-property", kVersionProperty).output, kVersionValue);

    const auto managed =
        Busctl("call", {"xyz.openbmc_project.Vuno", "/", "org.freedesktop.DBus.ObjectManager",
                        "GetManagedObjects"});
    EXPECT_NE(managed.output.find("\"xyz.openbmc_project.vuno.pelk\""), std::string::npos)
        << managed.output;
}

TEST_F(VunodTest, ASecondInstanceFailsAtTheNameRequestBeforeItsLoopRuns) {
    ChildProcess second({BuiltProgram("VUNOD_PATH")});
    const auto status = second.WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << second.Output();
    EXPECT_NE(*status, 0);
    EXPECT_NE(second.Output().find("sd_bus_request_name"), std::string::npos) << second.Output();
    EXPECT_EQ(second.Output().find("Trying connect"), std::string::npos);
    EXPECT_EQ(Busctl("get-property", kVersionProperty).output, kVersionValue);
}

TEST_F(VunodTest, SigintStopsItCleanlyAfterTheLibrarysTearDown) {
    const size_t signalled = vunod->Output().size();
    vunod->Signal(SIGINT);
    EXPECT_EQ(vunod->WaitForExit(10s), std::optional<int>(0)) << vunod->Output();
    const auto deinitialized = vunod->WaitForOutput("VUNO Deinitialize", 0ms, signalled);
    ASSERT_TRUE(deinitialized.has_value()) << vunod->Output();
    EXPECT_TRUE(vunod->WaitForOutput("SSI Deinitialize", 0ms, *deinitialized).has_value());
}

} // namespace
} // namespace vuno
