// The daemon as a whole on a private system bus, with no MCTP service.
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

constexpr char kService[] = "xyz.openbmc_project.Vuno";
constexpr char kPath[] = "/xyz/openbmc_project/Vuno";
constexpr char kVersionInterface[] = "xyz.openbmc_project.vuno";
constexpr char kVersionValue[] =
    "a{ss} 2 \"VUNO library version\" \"0.8.0\" \"VUNO version\" \"0.0.1\"\n";

class VunodTest : public ::testing::Test {
  protected:
    // Started and past start-up: the first connect attempt comes only once
    // the name is owned, the object published and the loop running.
    std::unique_ptr<ChildProcess> StartVunod() {
        auto vunod =
            std::make_unique<ChildProcess>(std::vector<std::string>{BuiltProgram("VUNOD_PATH")});
        EXPECT_TRUE(vunod->WaitForOutput("Trying connect to VMD: 0x0 0x0 0x5", 10s))
            << vunod->Output();
        return vunod;
    }

    static testing::CommandResult ReadVersion() {
        return RunCommand(
            {"busctl", "--system", "get-property", kService, kPath, kVersionInterface, "Version"},
            10s);
    }

    testing::PrivateBus bus;
};

TEST_F(VunodTest, VersionHoldsBothVersionsInKeyOrder) {
    const auto vunod = StartVunod();
    const auto version = ReadVersion();
    EXPECT_EQ(version.exitStatus, 0) << version.output;
    EXPECT_EQ(version.output, kVersionValue);
}

TEST_F(VunodTest, VersionIsReadOnly) {
    const auto vunod = StartVunod();
    const auto set = RunCommand({"busctl", "--system", "set-property", kService, kPath,
                                 kVersionInterface, "Version", "a{ss}", "1", "VUNO version", "9"},
                                10s);
    EXPECT_NE(set.exitStatus, 0) << set.output;
    EXPECT_EQ(ReadVersion().output, kVersionValue);
}

TEST_F(VunodTest, PublishesBothInterfacesUnderTheObjectManager) {
    const auto vunod = StartVunod();
    const auto introspection =
        RunCommand({"busctl", "--system", "introspect", kService, kPath}, 10s);
    ASSERT_EQ(introspection.exitStatus, 0) << introspection.output;
    EXPECT_NE(introspection.output.find("xyz.openbmc_project.vuno.pelk"), std::string::npos);
    EXPECT_NE(introspection.output.find(".Version"), std::string::npos);

    const auto managed = RunCommand({"busctl", "--system", "call", kService, "/",
                                     "org.freedesktop.DBus.ObjectManager", "GetManagedObjects"},
                                    10s);
    ASSERT_EQ(managed.exitStatus, 0) << managed.output;
    EXPECT_NE(managed.output.find(kPath), std::string::npos) << managed.output;
    EXPECT_NE(managed.output.find("xyz.openbmc_project.vuno.pelk"), std::string::npos);
}

TEST_F(VunodTest, SurvivesAFailingMctpService) {
    const auto vunod = StartVunod();
    ASSERT_TRUE(vunod->WaitForOutput("MCTP sendMessage failed", 10s)) << vunod->Output();
    EXPECT_FALSE(vunod->WaitForExit(200ms).has_value()) << vunod->Output();
    EXPECT_EQ(ReadVersion().output, kVersionValue);
}

TEST_F(VunodTest, SecondInstanceFailsAtTheNameRequest) {
    const auto first = StartVunod();
    ChildProcess second({BuiltProgram("VUNOD_PATH")});
    const auto status = second.WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << second.Output();
    EXPECT_NE(*status, 0);
    EXPECT_NE(second.Output().find("sd_bus_request_name"), std::string::npos) << second.Output();
    EXPECT_EQ(second.Output().find("Trying connect"), std::string::npos)
        << "the loop ran although start-up failed";
    EXPECT_EQ(ReadVersion().output, kVersionValue);
}

class VunodSignalTest : public VunodTest, public ::testing::WithParamInterface<int> {};

TEST_P(VunodSignalTest, StopsCleanlyAfterTearingTheLibraryDown) {
    const auto vunod = StartVunod();
    const size_t signalled = vunod->Output().size();
    vunod->Signal(GetParam());
    const auto status = vunod->WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << vunod->Output();
    EXPECT_EQ(*status, 0) << vunod->Output();
    const auto deinitialized = vunod->WaitForOutput("VUNO Deinitialize", 0ms, signalled);
    ASSERT_TRUE(deinitialized.has_value()) << vunod->Output();
    EXPECT_TRUE(vunod->WaitForOutput("SSI Deinitialize", 0ms, *deinitialized).has_value())
        << vunod->Output();
}

INSTANTIATE_TEST_SUITE_P(Signals, VunodSignalTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto &info) {
                             return std::string(info.param == SIGTERM ? "Term" : "Int");
                         });

} // namespace
} // namespace vuno
