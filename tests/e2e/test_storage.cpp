// The storage interface from a client's side: the daemon and the simulated
// platform on a private bus, every call made with busctl. What the daemon
// reports matches the simulated host, changes made through it land there,
// and events travel back. (The bus itself refuses wrong argument types; the
// deployment test checks the signatures it enforces against the interface
// files.)
#include "platform_fixture.hpp"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <set>

namespace vuno::testing {
namespace {

const std::string kUnknown = "0102030405060708090a0b0c0d0e0f10";

struct Call {
    std::string method;
    std::vector<std::string> arguments;
};

// Every method, with arguments that pass the daemon's own checks.
std::vector<Call> EveryMethod(const std::string &image) {
    const std::string &id = kUnknown;
    return {
        {"GetDriveIdentifiers", kGlobal},
        {"GetDriveInformation", {"ss", "Drive", id}},
        {"GetVolumeIdentifiers", {"ss", "Array", id}},
        {"GetVolumeInformation", {"ss", "Volume", id}},
        {"GetVolumeMigrationCapabilities", {"s", id}},
        {"GetArrayIdentifiers", {"ss", "Controller", id}},
        {"GetArrayInformation", kGlobal},
        {"GetControllerIdentifiers", kGlobal},
        {"GetControllerInformation", {"ss", "Controller", id}},
        {"GetControllerRaidCapabilities", {"s", id}},
        {"GetFirmwareSlotInformation", {}},
        {"SendFirmwareToSlot", {"qss", "1", "1.0", image}},
        {"UpdateDriveFirmware", {"qss", "1", id, "OnReset"}},
        {"GetExecutorInformation", {}},
        {"ClearDriveMetadata", {"s", id}},
        {"MarkDriveAsSpare", {"s", id}},
        {"UnmarkSpareDrive", {"s", id}},
        {"MarkDriveAsNormal", {"s", id}},
        {"SetVolatileWriteCacheOnDrive", {"sb", id, "true"}},
        {"ResetSmartEventOnDrive", {"s", id}},
        {"ActivateDriveLed", {"s", id}},
        {"RemoveDrive", {"s", id}},
        {"CreateVolume",
         {"sustsbssas", "Data", "64", "1", "1073741824", "", "false", "Off", "", "2", id, id}},
        {"RebuildVolume", {"sas", id, "1", id}},
        {"ExpandVolume", {"st", id, "1073741824"}},
        {"ChangeRaidLevel", {"susas", id, "64", "5", "0"}},
        {"RenameVolume", {"ss", id, "Renamed"}},
        {"MarkVolumeAsNormal", {"s", id}},
        {"VerifyVolume", {"sb", id, "false"}},
        {"CancelVolumeVerification", {"s", id}},
        {"InitializeVolume", {"s", id}},
        {"SetVolumeCachePolicy", {"ss", id, "Write Through"}},
        {"SetRAIDWriteHolePolicy", {"sss", id, "Journaling Drive", id}},
        {"DeleteVolume", {"s", id}},
        {"AddDrivesToArray", {"sas", id, "0"}},
        {"SetVolatileWriteCacheOnArray", {"sb", id, "true"}},
        {"SetROHIPolicy", {"sb", id, "false"}},
        {"SetReadPatrolPolicy", {"sb", id, "true"}},
        {"CreateEventSubscription", {"ssas", "Global", kZero, "1", "Drive failed"}},
        {"CancelEventSubscription", {"s", id}},
        {"GetEvents", {"su", id, "0"}},
    };
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
    std::transform(ids.begin(), ids.end(), std::inserter(result, result.end()), Canonical);
    return result;
}

std::vector<std::string> ItemTexts(const Json &reply, const std::string &listKey,
                                   const std::string &key) {
    std::vector<std::string> texts;
    for (const Json &item : Items(reply, listKey)) {
        texts.push_back(Text(item, key));
    }
    return texts;
}

bool IsEmptyResult(const Json &reply) {
    return reply.is_object() && reply.empty();
}

class Storage : public PlatformFixture {
  protected:
    // No VMD location of the daemon's candidates is live.
    void StartWithHostDown() {
        ASSERT_NO_FATAL_FAILURE(StartHostSim({"--live-vmd", "0x1"}));
        ASSERT_NO_FATAL_FAILURE(StartDaemon());
    }

    std::string ImageFile(const std::string &contents) {
        const std::string path = folder_.path / "image.bin";
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    // The identifiers of the simulator's objects of one kind ("drives",
    // "volumes", ...), from its inventory in JSON.
    std::set<std::string> InventoryIds(const std::string &kind) {
        const Json reply = Control("GetInventory");
        const Json inventory =
            Json::parse(reply.is_object() ? reply["data"][0].get<std::string>() : "{}");
        std::vector<std::string> ids;
        for (const Json &item : inventory.value(kind, Json::array())) {
            ids.push_back(item.value("id", ""));
        }
        return CanonicalSet(ids);
    }

    // Raises drive failures until every held call has ended, waiting for
    // one more call to end after each (one event may answer only one).
    void ReleaseHeldGetEvents(const std::vector<std::unique_ptr<ChildProcess>> &held) {
        const std::string drive = Ids(CallVuno("GetDriveIdentifiers", kGlobal)).at(0);
        const auto ended = [&held] {
            return static_cast<size_t>(std::count_if(held.begin(), held.end(), [](const auto &p) {
                return p->WaitForExit(0ms).has_value();
            }));
        };
        for (size_t done = ended(); done < held.size(); done = ended()) {
            Control("TriggerEvent", {"ys", "2", drive});
            const auto deadline = std::chrono::steady_clock::now() + 30s;
            while (ended() == done && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(20ms);
            }
            ASSERT_GT(ended(), done) << "a drive failure answered no held GetEvents";
        }
    }

    static void ExpectDriveFailedEvent(ChildProcess &process) {
        ASSERT_EQ(process.WaitForExit(10s), std::optional<int>(0)) << process.Output();
        ASSERT_TRUE(process.WaitForOutputEnd(5s));
        const Json reply = ReplyDictionary(process.Output());
        EXPECT_EQ(ItemTexts(reply, "Events", "EventType"), std::vector<std::string>{"Drive failed"})
            << process.Output();
    }

    const TemporaryFolder folder_{"vuno-e2e"};
};

TEST_F(Storage, EveryMethodAnswersHostNotConnectedAsADictionaryWhileTheHostIsDown) {
    StartWithHostDown();
    const std::vector<Call> calls = EveryMethod(ImageFile("firmware image"));
    ASSERT_EQ(calls.size(), 41u);
    for (const Call &call : calls) {
        const Json reply = CallVuno(call.method, call.arguments, 10s);
        EXPECT_EQ(ErrorName(reply), "HostNotConnected") << call.method;
        EXPECT_EQ(Text(reply, "ErrorMessage"), "The host is not connected.") << call.method;
    }
    EXPECT_EQ(daemon->CountInOutput("Error during sending request, status: HostNotConnected"), 41u);
}

TEST_F(Storage, RefusedArgumentsAnswerTheirErrorAndSendNothingToTheHost) {
    StartConnected();
    const uint64_t before = Counter("TransferDataRequests");
    const Json scope = CallVuno("GetDriveInformation", {"ss", "Drive", "123"});
    EXPECT_EQ(ErrorName(scope), "InvalidArgument");
    EXPECT_EQ(Text(scope, "ErrorMessage"), "Invalid scope identifier: 123");
    EXPECT_EQ(ErrorName(CallVuno("ChangeRaidLevel", {"susas", kUnknown, "3", "5", "0"})),
              "InvalidStripSize");
    EXPECT_EQ(ErrorName(CallVuno("RenameVolume", {"ss", kUnknown, "seventeen-chars!!"})),
              "InvalidVolumeName");
    EXPECT_EQ(Counter("TransferDataRequests"), before);
}

TEST_F(Storage, InventoryReadThroughTheDaemonMatchesTheSimulatedHost) {
    StartConnected();
    const std::map<std::string, std::string> lists = {{"Controller", "Controllers"},
                                                      {"Drive", "Drives"},
                                                      {"Array", "Arrays"},
                                                      {"Volume", "Volumes"}};
    for (const auto &[kind, listKey] : lists) {
        SCOPED_TRACE(kind);
        std::string inventoryKind = listKey;
        inventoryKind[0] = static_cast<char>(std::tolower(inventoryKind[0]));
        const std::vector<std::string> ids = Ids(CallVuno("Get" + kind + "Identifiers", kGlobal));
        EXPECT_FALSE(ids.empty());
        EXPECT_EQ(CanonicalSet(ids), InventoryIds(inventoryKind));
        EXPECT_EQ(ItemTexts(CallVuno("Get" + kind + "Information", kGlobal), listKey, "Id"), ids);
    }

    const Json volumes = CallVuno("GetVolumeInformation", kGlobal);
    const auto names = ItemTexts(volumes, "Volumes", "Name");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              std::set<std::string>({"System", "Data"}));
    auto levels = ItemTexts(volumes, "Volumes", "Level");
    std::sort(levels.begin(), levels.end());
    EXPECT_EQ(levels, (std::vector<std::string>{"Level 1", "Level 5"}));
    EXPECT_EQ(Items(volumes, "Volumes")[0]["Size"]["type"], "t");

    const auto usages = ItemTexts(CallVuno("GetDriveInformation", kGlobal), "Drives", "Usage");
    EXPECT_EQ(usages.size(), 8u);
    EXPECT_EQ(std::count(usages.begin(), usages.end(), "Spare"), 1);

    // A scope selects: the drives of a controller are those that name it.
    const std::string controller = Ids(CallVuno("GetControllerIdentifiers", kGlobal)).at(0);
    const auto owners =
        ItemTexts(CallVuno("GetDriveInformation", kGlobal), "Drives", "ControllerId");
    EXPECT_EQ(Ids(CallVuno("GetDriveIdentifiers", {"ss", "Controller", controller})).size(),
              static_cast<size_t>(std::count(owners.begin(), owners.end(), controller)));
    EXPECT_FALSE(Items(CallVuno("GetControllerRaidCapabilities", {"s", controller}), "Capabilities")
                     .empty());
    EXPECT_FALSE(Text(CallVuno("GetExecutorInformation"), "ExecutorVersion").empty());
}

TEST_F(Storage, ActionsChangeTheHostAndTheExecutorsRefusalsAnswerTheirError) {
    StartConnected();
    const std::vector<std::string> drives = FreeDrivePair();
    ASSERT_GE(drives.size(), 2u) << "the simulated host has too few free drives";
    EXPECT_TRUE(IsEmptyResult(CallVuno("MarkDriveAsSpare", {"s", drives[0]})));
    EXPECT_EQ(
        ItemTexts(CallVuno("GetDriveInformation", {"ss", "Drive", drives[0]}), "Drives", "Usage"),
        std::vector<std::string>{"Spare"});

    const Json refused = CallVuno("DeleteVolume", {"s", kUnknown});
    EXPECT_EQ(ErrorName(refused), "InvalidVolume");
    EXPECT_EQ(Text(refused, "ErrorMessage"), "The volume selected for command does not exist.");

    // The image travels whole, in many frames, and lands in its slot.
    EXPECT_TRUE(IsEmptyResult(
        CallVuno("SendFirmwareToSlot", {"qss", "3", "4.0.1", ImageFile(std::string(5000, 'F'))})));
    const Json slots = CallVuno("GetFirmwareSlotInformation");
    bool found = false;
    for (const Json &slot : Items(slots, "Slots")) {
        found |= slot["Number"]["data"] == 3 && Text(slot, "Revision") == "4.0.1";
    }
    EXPECT_TRUE(found) << slots;
}

TEST_F(Storage, AVolumesLifeOnTheHostComesBackAsEventsOfASubscription) {
    StartConnected();
    const std::string subscription = Subscribe({"Volume added", "Volume removed"});
    const std::vector<std::string> drives = FreeDrivePair();
    ASSERT_GE(drives.size(), 2u) << "the simulated host has too few free drives";

    const std::string volume =
        Text(CallVuno("CreateVolume", {"sustsbssas", "Scratch", "64", "0", "1073741824", "",
                                       "false", "Off", "", "2", drives[0], drives[1]}),
             "VolumeId");
    ASSERT_FALSE(volume.empty());
    const Json info = CallVuno("GetVolumeInformation", {"ss", "Volume", volume});
    EXPECT_EQ(ItemTexts(info, "Volumes", "Level"), std::vector<std::string>{"Level 0"});
    EXPECT_EQ(InventoryIds("volumes").count(Canonical(volume)), 1u);

    EXPECT_TRUE(IsEmptyResult(CallVuno("RenameVolume", {"ss", volume, "Renamed"})));
    EXPECT_EQ(
        ItemTexts(CallVuno("GetVolumeInformation", {"ss", "Volume", volume}), "Volumes", "Name"),
        std::vector<std::string>{"Renamed"});
    EXPECT_TRUE(IsEmptyResult(CallVuno("DeleteVolume", {"s", volume})));
    EXPECT_EQ(InventoryIds("volumes").count(Canonical(volume)), 0u);

    // The events may come in one answer or in two.
    std::vector<std::string> types;
    for (int round = 0; round < 2 && types.size() < 2; ++round) {
        const Json events = CallVuno("GetEvents", {"su", subscription, "0"}, 20s);
        for (const auto &id : ItemTexts(events, "Events", "EventIdentifier")) {
            EXPECT_EQ(Canonical(id), Canonical(volume)) << events;
        }
        const auto more = ItemTexts(events, "Events", "EventType");
        types.insert(types.end(), more.begin(), more.end());
    }
    EXPECT_EQ(types, (std::vector<std::string>{"Volume added", "Volume removed"}));
    EXPECT_TRUE(IsEmptyResult(CallVuno("CancelEventSubscription", {"s", subscription})));
}

TEST_F(Storage, ThirtyGetEventsWaitAtOnceAndTheThirtyFirstIsBusy) {
    StartConnected();
    const std::string subscription = Subscribe({"Drive failed"});
    const auto held = StartHeldGetEvents(subscription, 30);
    for (const auto &process : held) {
        EXPECT_FALSE(process->WaitForExit(0ms)) << process->Output();
    }
    const Json busy = CallVuno("GetEvents", {"su", subscription, "0"}, 10s);
    EXPECT_EQ(ErrorName(busy), "Busy");
    EXPECT_EQ(Text(busy, "ErrorMessage"),
              "The VUNO is busy. Wait until the last command has executed.");
    // Other calls still go through while the thirty wait.
    EXPECT_FALSE(Text(CallVuno("GetExecutorInformation"), "ExecutorVersion").empty());

    ReleaseHeldGetEvents(held);
    for (const auto &process : held) {
        ExpectDriveFailedEvent(*process);
    }
    // The limit counts only calls still held: a new one is accepted.
    const auto again = StartHeldGetEvents(subscription, 1);
    ReleaseHeldGetEvents(again);
    ExpectDriveFailedEvent(*again[0]);
}

// The host answers several requests back to back, and the ME answers our
// Status Frame transfers only after the host already has each Status Frame
// and has started its next message: every answer must still reach its call.
TEST_F(Storage, ResponsesThatOvertakeOurStatusFrameTransferAreAllDelivered) {
    StartConnected();
    const std::string subscription = Subscribe({"Drive failed"});
    const std::string drive = Ids(CallVuno("GetDriveIdentifiers", kGlobal)).at(0);
    const auto held = StartHeldGetEvents(subscription, 3);
    Control("SetTransferAnswerDelay", {"u", "300"});
    for (int event = 0; event < 3; ++event) {
        Control("TriggerEvent", {"ys", "2", drive});
    }
    for (const auto &process : held) {
        ExpectDriveFailedEvent(*process);
    }
}

TEST_F(Storage, StopsCleanlyWithACallInFlight) {
    StartConnected();
    const auto held = StartHeldGetEvents(Subscribe({"Drive removed"}), 1);
    const size_t from = daemon->Output().size();
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitForExit(10s), std::optional<int>(0));
    ExpectDaemonOutput("VUNO Deinitialize", 1s, from);
    // The call is not answered; its client learns that the daemon left.
    EXPECT_NE(held[0]->WaitForExit(10s), std::optional<int>(0));
}

} // namespace
} // namespace vuno::testing
