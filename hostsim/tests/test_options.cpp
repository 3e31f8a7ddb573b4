#include "options.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace vuno::hostsim {
namespace {

TEST(OptionsTest, DefaultsWithoutArguments) {
    const Options options = ParseOptions({});
    EXPECT_FALSE(options.error);
    EXPECT_FALSE(options.help);
    EXPECT_EQ(options.settings.liveLocations, std::set<uint32_t>{kDefaultLiveLocation});
    EXPECT_EQ(options.settings.heartbeats.period, kDefaultHeartbeatPeriod);
    EXPECT_TRUE(options.settings.heartbeats.enabled);
}

TEST(OptionsTest, LiveVmdsReplaceTheDefault) {
    const Options options = ParseOptions({"--live-vmd", "0x0500C901", "--live-vmd", "83906560",
                                          "--no-heartbeats", "--heartbeat-period-ms", "250"});
    ASSERT_FALSE(options.error) << *options.error;
    EXPECT_EQ(options.settings.liveLocations, (std::set<uint32_t>{0x0500C901, 0x05005000}));
    EXPECT_EQ(options.settings.heartbeats.period, Duration{250});
    EXPECT_FALSE(options.settings.heartbeats.enabled);
}

TEST(OptionsTest, HelpIsRecognised) {
    EXPECT_TRUE(ParseOptions({"--help"}).help);
}

TEST(OptionsTest, BadArgumentsAreErrors) {
    const std::vector<std::vector<std::string_view>> cases = {
        {"--live-vmd"},
        {"--live-vmd", "0x"},
        {"--live-vmd", "0x100000000"},
        {"--live-vmd", "5x"},
        {"--live-vmd", "-1"},
        {"--heartbeat-period-ms", "0"},
        {"--heartbeat-period-ms", "3600001"},
        {"--heartbeat-period-ms", "1.5"},
        {"--heartbeat-period-ms"},
        {"--verbose"},
        {"0x05000000"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(std::string(args[0]) + (args.size() > 1 ? " " + std::string(args[1]) : ""));
        EXPECT_TRUE(ParseOptions(args).error);
    }
}

TEST(OptionsTest, InventoryComesFromTheNamedFile) {
    EXPECT_FALSE(ParseOptions({}).settings.inventory) << "the default inventory";
    const std::string path = ::testing::TempDir() + "/options_inventory.txt";
    std::ofstream(path) << "controller c type=VMD\n";
    const Options options = ParseOptions({"--inventory", path});
    ASSERT_FALSE(options.error) << *options.error;
    ASSERT_TRUE(options.settings.inventory);
    EXPECT_EQ(options.settings.inventory->controllers.size(), 1u);

    std::ofstream(path) << "controller c type=VMD\ncontroller c type=VMD\n";
    EXPECT_EQ(ParseOptions({"--inventory", path}).error,
              path + ": line 2: controller c given twice");
    EXPECT_TRUE(ParseOptions({"--inventory"}).error);
}

} // namespace
} // namespace vuno::hostsim
