// The daemon as a whole on a private system bus, with no MCTP service: how
// it claims its name and how it stops.
#include "processes.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::BuiltProgram;
using testing::ChildProcess;

TEST(Vunod, OwnsItsNameAloneAndStopsCleanlyOnSigint) {
    testing::PrivateBus bus;
    ChildProcess vunod({BuiltProgram("VUNOD_PATH")});
    // The first connect attempt comes only once the name is owned, the
    // object published and the loop running.
    ASSERT_TRUE(vunod.WaitForOutput("Trying connect to VMD: 0x0 0x0 0x5", 10s)) << vunod.Output();
    ChildProcess second({BuiltProgram("VUNOD_PATH")});
    EXPECT_NE(second.WaitForExit(10s).value_or(0), 0) << second.Output();
    EXPECT_NE(second.Output().find("sd_bus_request_name"), std::string::npos) << second.Output();
    EXPECT_EQ(second.Output().find("Trying connect"), std::string::npos);

    const size_t signalled = vunod.Output().size();
    vunod.Signal(SIGINT);
    EXPECT_EQ(vunod.WaitForExit(10s), std::optional<int>(0)) << vunod.Output();
    const auto deinitialized = vunod.WaitForOutput("VUNO Deinitialize", 1s, signalled);
    ASSERT_TRUE(deinitialized.has_value()) << vunod.Output();
    EXPECT_TRUE(vunod.WaitForOutput("SSI Deinitialize", 1s, *deinitialized).has_value());
}

} // namespace
} // namespace vuno
