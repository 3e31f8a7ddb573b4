// vunoctl against the daemon and the simulated platform on a private bus:
// what it prints, how it exits, and what it leaves behind on the host.
#include "platform_fixture.hpp"

#include <gmock/gmock.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

namespace vuno::testing {
namespace {

const std::string kUnknown = "0102030405060708090a0b0c0d0e0f10";

// busctl's {"type": ..., "data": ...} wrappers removed, as vunoctl prints.
Json Unwrapped(const Json &value) {
    if (value.is_object() && value.size() == 2 && value.contains("type") &&
        value.contains("data")) {
        return Unwrapped(value["data"]);
    }
    Json result = value;
    if (!result.is_structured()) {
        return result;
    }
    for (auto &entry : result.items()) {
        entry.value() = Unwrapped(entry.value());
    }
    return result;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class Vunoctl : public PlatformFixture {
  protected:
    static std::vector<std::string> Command(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), BuiltProgram("VUNOCTL_PATH"));
        return arguments;
    }

    static CommandResult Run(std::vector<std::string> arguments,
                             std::chrono::milliseconds timeout = 30s) {
        return RunCommand(Command(std::move(arguments)), timeout);
    }

    static Json RunJson(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "--json");
        const CommandResult result = Run(std::move(arguments));
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        const Json parsed = Json::parse(result.output, nullptr, false);
        return parsed.is_discarded() ? Json() : parsed;
    }
};

TEST_F(Vunoctl, JsonIsTheDaemonsOwnReply) {
    StartConnected();
    const Json daemonReply = CallVuno("GetDriveInformation", {"ss", "Global", kZero});
    ASSERT_FALSE(daemonReply.is_null());
    EXPECT_EQ(RunJson({"drive", "list"}), Unwrapped(daemonReply));
}

TEST_F(Vunoctl, AVolumesLifeFromCreationToDeletion) {
    StartConnected();
    const std::vector<std::string> drives = FreeDrivePair();
    ASSERT_EQ(drives.size(), 2u);
    const CommandResult created =
        Run({"volume", "create", "Scratch", "--level", "1", "--size", "10G", drives[0], drives[1]});
    ASSERT_EQ(created.exitStatus, 0) << created.output;
    const std::string prefix = "VolumeId:";
    ASSERT_EQ(created.output.rfind(prefix, 0), 0u) << created.output;
    std::string volume =
        created.output.substr(created.output.find_first_not_of(' ', prefix.size()));
    volume.erase(volume.find('\n'));

    EXPECT_EQ(Run({"volume", "rename", volume, "Renamed"}).output, "Done.\n");
    const std::string table = Run({"volume", "list"}).output;
    EXPECT_EQ(Lines(table).at(0).rfind("Id ", 0), 0u) << table;
    EXPECT_NE(table.find(volume + "  Renamed  Level 1  Normal  10.0 GB"), std::string::npos)
        << table;
    EXPECT_THAT(Lines(Run({"volume", "list", "--id", volume}).output),
                ::testing::Contains(::testing::MatchesRegex("Name: +Renamed")));

    EXPECT_EQ(Run({"volume", "delete", volume}).exitStatus, 0);
    EXPECT_EQ(Run({"volume", "list"}).output.find(volume), std::string::npos);
    EXPECT_EQ(Run({"volume", "list", "--drive", drives[0]}).output, "No volumes.\n");
}

TEST_F(Vunoctl, ExitStatusSaysWhoFailed) {
    StartHostSim();
    const CommandResult absent = Run({"executor", "info"});
    EXPECT_EQ(absent.exitStatus, 3);
    EXPECT_NE(absent.output.find("vunod is not running"), std::string::npos) << absent.output;

    ASSERT_NO_FATAL_FAILURE(StartDaemon());
    ExpectDaemonOutput("BMC to Host successfully connected.", 20s);
    // Usage errors themselves are the command line's tests; here only the status.
    EXPECT_EQ(Run({"volume", "expand", kUnknown, "12 parsecs"}).exitStatus, 2);
    EXPECT_EQ(Run({"call", "DeleteVolume", kUnknown, "extra"}).exitStatus, 2);
    const CommandResult refused = Run({"volume", "delete", kUnknown});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, "InvalidVolume: The volume selected for command does not exist.\n");

    const std::string subscription =
        RunJson({"event", "subscribe", "drive-failed"})["SubscriptionId"];
    const CommandResult late = Run({"--timeout", "1", "event", "get", subscription}, 10s);
    EXPECT_EQ(late.exitStatus, 3);
    EXPECT_NE(late.output.find("no answer from vunod within 1 s"), std::string::npos)
        << late.output;
}

TEST_F(Vunoctl, EventWatchPrintsEventsAndCancelsItsSubscriptionOnSigterm) {
    StartConnected();
    ChildProcess watch(Command({"event", "watch", "Drive failed"}));
    const std::string banner = "Watching events of subscription ";
    const auto idAt = watch.WaitForOutput(banner, 20s);
    ASSERT_TRUE(idAt) << watch.Output();
    // The identifier may follow the banner in a later read.
    ASSERT_TRUE(watch.WaitForOutput(";", 20s, *idAt)) << watch.Output();
    const std::string subscription = watch.Output().substr(*idAt, 36);
    ASSERT_TRUE(daemon->WaitForOutput("cmd code 0x28", 20s)) << "no GetEvents sent";

    const std::string drive = RunJson({"drive", "ids"})["Ids"][0];
    Control("TriggerEvent", {"ys", "2", drive});
    ASSERT_TRUE(watch.WaitForOutput("  Drive failed  " + drive + "\n", 20s)) << watch.Output();

    watch.Signal(SIGTERM);
    EXPECT_EQ(watch.WaitForExit(20s), std::optional<int>(0)) << watch.Output();
    const CommandResult after = Run({"--timeout", "10", "event", "get", subscription}, 20s);
    EXPECT_EQ(after.exitStatus, 1) << after.output;
    EXPECT_EQ(after.output.rfind("InvalidSubscription: ", 0), 0u) << after.output;
}

TEST_F(Vunoctl, FirmwareSendPrintsOneLineAndTheDaemonAnnouncesProgress) {
    StartConnected();
    const TemporaryFolder folder("vunoctl-test");
    const std::string image = folder.path / "image.bin";
    std::ofstream(image, std::ios::binary) << std::string(150000, 'F');
    ChildProcess monitor({"busctl", "--system", "monitor", "--json=short",
                          "--match=type='signal',member='PropertiesChanged',path='/xyz/"
                          "openbmc_project/Vuno'"});
    ASSERT_TRUE(monitor.WaitForOutput("Monitoring", 10s));

    const CommandResult sent = Run({"firmware", "send", "--slot", "3", "--revision", "7.1", image});
    EXPECT_EQ(sent.exitStatus, 0);
    EXPECT_EQ(Lines(sent.output).size(), 1u) << sent.output;
    EXPECT_EQ(sent.output.rfind("Sent " + image + ": 150.0 KB in ", 0), 0u) << sent.output;
    EXPECT_EQ(sent.output.find('\r'), std::string::npos);
    EXPECT_NE(Run({"firmware", "slots"}).output.find("3       7.1\n"), std::string::npos);

    ASSERT_TRUE(monitor.WaitForOutput("[0,0]", 5s)) << monitor.Output();
    std::vector<std::pair<uint64_t, Json>> changes;
    for (const std::string &line : Lines(monitor.Output())) {
        const Json message = Json::parse(line, nullptr, false);
        if (message.is_object() && message.contains("payload")) {
            changes.emplace_back(message["timestamp-realtime"].get<uint64_t>(),
                                 message["payload"]["data"][1]["Progress"]["data"]);
        }
    }
    ASSERT_GE(changes.size(), 3u);
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const auto &change) {
        const uint32_t sent = change.second[0];
        return sent > 0 && sent < change.second[1].template get<uint32_t>();
    })) << monitor.Output();
    // At most four a second; the monitor's receive times jitter with load.
    const double span = static_cast<double>(changes.back().first - changes.front().first) / 1e6;
    EXPECT_LE(changes.size(), static_cast<size_t>(span * 4) + 2) << span << " s";
}

} // namespace
} // namespace vuno::testing
