// The whole system's data paths from a client's side: what the daemon
// reports matches the simulated host's storage, changes made through the
// daemon land in it, events travel back, and held GetEvents calls are
// limited. Every call is made with busctl.

// GCC 12 with the sanitizers reports a false maybe-uninitialized inside
// std::regex's automaton (std::function's invoker); nothing here is.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "platform_fixture.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <thread>

namespace vuno::testing {
namespace {

const std::string kZero = "00000000-0000-0000-0000-000000000000";
const std::vector<std::string> kGlobal = {"ss", "Global", kZero};
const std::string kEmptyReply = "a{sv} 0\n";
const std::string kIdPattern =
    R"re([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})re";

std::vector<std::string> Captures(const std::string &text, const std::string &pattern) {
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (auto match = std::sregex_iterator(text.begin(), text.end(), expression);
         match != std::sregex_iterator(); ++match) {
        found.push_back((*match)[1]);
    }
    return found;
}

// Identifiers compared without dashes and case.
std::string Canonical(std::string id) {
    id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

std::set<std::string> CanonicalSet(const std::vector<std::string> &ids) {
    std::set<std::string> result;
    for (const auto &id : ids) {
        result.insert(Canonical(id));
    }
    return result;
}

std::vector<std::string> ListedIds(const std::string &reply) {
    return Captures(reply, "\"(" + kIdPattern + ")\"");
}

std::vector<std::string> Values(const std::string &reply, const std::string &key) {
    return Captures(reply, "\"" + key + "\" s \"([^\"]*)\"");
}

size_t CountOf(const std::vector<std::string> &values, const std::string &value) {
    return static_cast<size_t>(std::count(values.begin(), values.end(), value));
}

size_t Occurrences(const std::string &text, const std::string &needle, size_t from) {
    size_t count = 0;
    for (size_t at = text.find(needle, from); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// Each key must appear with its D-Bus type.
void ExpectKeys(const std::string &reply,
                const std::vector<std::pair<std::string, std::string>> &keys) {
    for (const auto &[key, type] : keys) {
        EXPECT_NE(reply.find("\"" + key + "\" " + type + " "), std::string::npos)
            << key << " " << type << " missing in " << reply;
    }
}

class StorageSystem : public PlatformFixture {
  protected:
    void SetUp() override {
        StartHostSim();
        StartDaemon();
        ExpectDaemonOutput("BMC to Host successfully connected.", 20s);
    }

    // The identifiers of the simulator's objects of one kind, from its
    // inventory text (keyword, label, then id=; busctl shows line breaks as \n).
    std::set<std::string> InventoryIds(const std::string &keyword) {
        const std::string text = Control("GetInventory");
        return CanonicalSet(
            Captures(text, R"(\\n)" + keyword + R"( [A-Za-z0-9_-]+ id=([0-9a-fA-F-]{32,36}))"));
    }

    // Pass-through drives of one controller: members of a volume must
    // share theirs.
    std::vector<std::string> PassThroughDrives() {
        std::map<std::string, std::vector<std::string>> byController;
        for (const std::string &drive : ListedIds(CallVuno("GetDriveIdentifiers", kGlobal))) {
            const std::string info = CallVuno("GetDriveInformation", {"ss", "Drive", drive});
            if (Values(info, "Usage") == std::vector<std::string>{"Pass-through"}) {
                byController[Values(info, "ControllerId").at(0)].push_back(drive);
            }
        }
        for (const auto &[controller, drives] : byController) {
            if (drives.size() >= 2) {
                return drives;
            }
        }
        return {};
    }

    // Creates a RAID 0 volume of 1 GiB on two pass-through drives.
    std::string CreateVolume(const std::string &name) {
        const auto drives = PassThroughDrives();
        EXPECT_GE(drives.size(), 2u) << "the simulated host has too few free drives";
        if (drives.size() < 2) {
            return {};
        }
        const std::string reply =
            CallVuno("CreateVolume", {"sustsbssas", name, "64", "0", "1073741824", "", "false",
                                      "Off", "", "2", drives[0], drives[1]});
        const auto created = Captures(reply, "\"VolumeId\" s \"(" + kIdPattern + ")\"");
        EXPECT_EQ(created.size(), 1u) << reply;
        return created.empty() ? std::string() : created[0];
    }

    std::string Subscribe(const std::vector<std::string> &types) {
        std::vector<std::string> arguments{"ssas", "Global", kZero, std::to_string(types.size())};
        arguments.insert(arguments.end(), types.begin(), types.end());
        const auto ids = Captures(CallVuno("CreateEventSubscription", arguments),
                                  "\"SubscriptionId\" s \"(" + kIdPattern + ")\"");
        EXPECT_EQ(ids.size(), 1u);
        return ids.empty() ? std::string() : ids[0];
    }
};

TEST_F(StorageSystem, InventoryReadThroughTheDaemonMatchesTheSimulatedHost) {
    for (const std::string kind : {"Controller", "Drive", "Array", "Volume"}) {
        SCOPED_TRACE(kind);
        std::string keyword = kind;
        keyword[0] = static_cast<char>(std::tolower(keyword[0]));
        const auto fromDaemon =
            CanonicalSet(ListedIds(CallVuno("Get" + kind + "Identifiers", kGlobal)));
        EXPECT_FALSE(fromDaemon.empty());
        EXPECT_EQ(fromDaemon, InventoryIds(keyword));
    }

    const std::string volumes = CallVuno("GetVolumeInformation", kGlobal);
    const auto names = Values(volumes, "Name");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              std::set<std::string>({"System", "Data"}));
    const auto levels = Values(volumes, "Level");
    EXPECT_EQ(CountOf(levels, "Level 1"), 1u);
    EXPECT_EQ(CountOf(levels, "Level 5"), 1u);
    ExpectKeys(volumes, {{"ArrayId", "s"},
                         {"State", "s"},
                         {"Size", "t"},
                         {"StripSizeKiB", "t"},
                         {"MigrationProgress", "d"},
                         {"SystemVolume", "b"},
                         {"VolumeCachePolicy", "s"},
                         {"RAIDWriteHolePolicy", "s"}});

    const std::string drives = CallVuno("GetDriveInformation", kGlobal);
    EXPECT_NE(drives.find("\"Count\" q 8 "), std::string::npos) << drives;
    EXPECT_EQ(Values(drives, "Id").size(), 8u);
    EXPECT_EQ(CountOf(Values(drives, "Usage"), "Spare"), 1u);

    const std::string controllers = CallVuno("GetControllerInformation", kGlobal);
    const auto types = Values(controllers, "Type");
    EXPECT_EQ(std::multiset<std::string>(types.begin(), types.end()),
              std::multiset<std::string>({"VMD", "AHCI"}));
    ExpectKeys(controllers, {{"Name", "s"},
                             {"VendorId", "q"},
                             {"HardwareRev", "y"},
                             {"OSDriverVer", "s"},
                             {"MaxVolumesPerArray", "q"},
                             {"ROHIEnabled", "b"},
                             {"ControllerMode", "s"}});
    EXPECT_EQ(Values(controllers, "ControllerMode").size(), 1u) << "only AHCI has a mode";

    ExpectKeys(CallVuno("GetArrayInformation", kGlobal), {{"Id", "s"},
                                                          {"Name", "s"},
                                                          {"TotalSize", "t"},
                                                          {"FreeSize", "t"},
                                                          {"VolatileWriteCacheState", "b"}});
    ExpectKeys(CallVuno("GetExecutorInformation"), {{"SSIVersion", "s"}, {"ExecutorVersion", "s"}});
    ExpectKeys(CallVuno("GetFirmwareSlotInformation"), {{"Count", "q"},
                                                        {"Capacity", "u"},
                                                        {"Slots", "aa{sv}"},
                                                        {"Number", "q"},
                                                        {"Revision", "s"}});

    const std::string controller = ListedIds(CallVuno("GetControllerIdentifiers", kGlobal)).at(0);
    ExpectKeys(CallVuno("GetControllerRaidCapabilities", {"s", controller}),
               {{"Count", "y"},
                {"Capabilities", "aa{sv}"},
                {"Level", "s"},
                {"MinDrivesCount", "q"},
                {"MaxDrivesCount", "q"},
                {"OddDriveCount", "b"},
                {"EvenDriveCount", "b"},
                {"DefaultStripSizeKiB", "t"},
                {"SupportedStripSizesKiB", "at"}});
    const std::string volume = ListedIds(CallVuno("GetVolumeIdentifiers", kGlobal)).at(0);
    const std::string migrations = CallVuno("GetVolumeMigrationCapabilities", {"s", volume});
    ExpectKeys(migrations, {{"Count", "q"}, {"Capabilities", "aa{sv}"}});
    if (migrations.find("\"Count\" q 0 ") == std::string::npos) {
        ExpectKeys(migrations, {{"TargetRAIDLevel", "s"}, {"MinAdditionalDrivesCount", "y"}});
    }
}

TEST_F(StorageSystem, AVolumeIsCreatedRenamedAndDeletedOnTheHost) {
    const std::string volume = CreateVolume("Scratch");
    ASSERT_FALSE(volume.empty());
    const std::string info = CallVuno("GetVolumeInformation", {"ss", "Volume", volume});
    EXPECT_EQ(Values(info, "Name"), std::vector<std::string>{"Scratch"});
    EXPECT_EQ(Values(info, "Level"), std::vector<std::string>{"Level 0"});
    EXPECT_EQ(InventoryIds("volume").count(Canonical(volume)), 1u);

    EXPECT_EQ(CallVuno("RenameVolume", {"ss", volume, "Renamed"}), kEmptyReply);
    EXPECT_EQ(Values(CallVuno("GetVolumeInformation", {"ss", "Volume", volume}), "Name"),
              std::vector<std::string>{"Renamed"});

    EXPECT_EQ(CallVuno("DeleteVolume", {"s", volume}), kEmptyReply);
    EXPECT_EQ(
        CanonicalSet(ListedIds(CallVuno("GetVolumeIdentifiers", kGlobal))).count(Canonical(volume)),
        0u);
    EXPECT_EQ(InventoryIds("volume").count(Canonical(volume)), 0u);
}

TEST_F(StorageSystem, VolumeChangesComeBackAsEventsOfTheSubscription) {
    const std::string subscription = Subscribe({"Volume added", "Volume removed"});
    ASSERT_FALSE(subscription.empty());
    const std::string volume = CreateVolume("Evented");
    ASSERT_FALSE(volume.empty());
    EXPECT_EQ(CallVuno("DeleteVolume", {"s", volume}), kEmptyReply);

    // The events may come in one answer or in two.
    std::vector<std::string> types;
    for (int round = 0; round < 2 && types.size() < 2; ++round) {
        const std::string events = CallVuno("GetEvents", {"su", subscription, "0"}, 20s);
        const auto more = Values(events, "EventType");
        for (const auto &id : Values(events, "EventIdentifier")) {
            EXPECT_EQ(Canonical(id), Canonical(volume)) << events;
        }
        types.insert(types.end(), more.begin(), more.end());
    }
    EXPECT_EQ(types, (std::vector<std::string>{"Volume added", "Volume removed"}));
    EXPECT_EQ(CallVuno("CancelEventSubscription", {"s", subscription}), kEmptyReply);
}

TEST_F(StorageSystem, ThirtyGetEventsWaitAtOnceAndTheThirtyFirstIsBusy) {
    const std::string subscription = Subscribe({"Drive failed"});
    ASSERT_FALSE(subscription.empty());
    const size_t from = daemon->Output().size();
    std::vector<std::unique_ptr<ChildProcess>> waiting;
    for (int i = 0; i < 30; ++i) {
        waiting.push_back(std::make_unique<ChildProcess>(
            VunoCallCommand("GetEvents", {"su", subscription, "0"}, 120s)));
    }
    // Every one of them has reached the host before the next is tried.
    const std::string sentLine = "SSI Request successfully sent.";
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (Occurrences(daemon->Output(), sentLine, from) < 30 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    const size_t sent = Occurrences(daemon->Output(), sentLine, from);
    ASSERT_EQ(sent, 30u);
    for (const auto &process : waiting) {
        EXPECT_FALSE(process->WaitForExit(0ms)) << process->Output();
    }

    EXPECT_EQ(CallVuno("GetEvents", {"su", subscription, "0"}, 10s),
              "a{sv} 2 \"Error\" s \"Busy\" \"ErrorMessage\" s \"The VUNO is busy. Wait until the "
              "last command has executed.\"\n");

    // Drive failures end the held calls; one event may answer only one.
    const std::string drive = ListedIds(CallVuno("GetDriveIdentifiers", kGlobal)).at(0);
    for (int event = 0; event < 30; ++event) {
        if (std::all_of(waiting.begin(), waiting.end(), [](const auto &process) {
                return process->WaitForExit(0ms).has_value();
            })) {
            break;
        }
        Control("TriggerEvent", {"ys", "2", drive});
        for (const auto &process : waiting) {
            if (process->WaitForExit(2s)) {
                break;
            }
        }
    }
    for (const auto &process : waiting) {
        ASSERT_EQ(process->WaitForExit(10s), std::optional<int>(0)) << process->Output();
        ASSERT_TRUE(process->WaitForOutputEnd(5s));
        EXPECT_NE(process->Output().find("\"EventType\" s \"Drive failed\""), std::string::npos)
            << process->Output();
    }
    // The limit counts only calls still held: a new one is accepted.
    Control("TriggerEvent", {"ys", "2", drive});
    EXPECT_NE(CallVuno("GetEvents", {"su", subscription, "0"}, 20s)
                  .find("\"EventType\" s \"Drive failed\""),
              std::string::npos);
    EXPECT_EQ(CallVuno("CancelEventSubscription", {"s", subscription}), kEmptyReply);
}

} // namespace
} // namespace vuno::testing
