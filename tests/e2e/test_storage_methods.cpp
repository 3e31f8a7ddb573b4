// The storage interface from a client's side: the daemon and the simulated
// platform on a private bus, every call made with busctl (or dbus-send
// where the D-Bus error name matters).
#include "platform_fixture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>

namespace vuno::testing {
namespace {

const std::string kZeroIdentifier = "00000000-0000-0000-0000-000000000000";
const std::string kUnknownIdentifier = "0102030405060708090a0b0c0d0e0f10";
const std::string kInvalidImage = "Invalid Firmware image file.";
// No VMD location of the daemon's candidate list: the host stays down.
const std::vector<std::string> kHostDown = {"--live-vmd", "0x1"};

struct MethodCall {
    std::string method;
    std::vector<std::string> arguments;
};

// Every method with arguments that pass the daemon's own checks.
std::vector<MethodCall> EveryMethod(const std::string &image) {
    const std::string &id = kUnknownIdentifier;
    return {
        {"GetDriveIdentifiers", {"ss", "Global", kZeroIdentifier}},
        {"GetDriveInformation", {"ss", "Drive", id}},
        {"GetVolumeIdentifiers", {"ss", "Array", id}},
        {"GetVolumeInformation", {"ss", "Volume", id}},
        {"GetVolumeMigrationCapabilities", {"s", id}},
        {"GetArrayIdentifiers", {"ss", "Controller", id}},
        {"GetArrayInformation", {"ss", "Global", kZeroIdentifier}},
        {"GetControllerIdentifiers", {"ss", "Global", kZeroIdentifier}},
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
        {"CreateEventSubscription", {"ssas", "Global", kZeroIdentifier, "1", "Drive failed"}},
        {"CancelEventSubscription", {"s", id}},
        {"GetEvents", {"su", id, "0"}},
    };
}

void ExpectError(const VunoReply &reply, const std::string &name, const std::string &message) {
    EXPECT_EQ(reply.exitStatus, 0) << reply.output;
    EXPECT_EQ(reply.values.size(), 2u) << reply.output;
    EXPECT_EQ(reply.types.count("Error") + reply.types.count("ErrorMessage"), 2u);
    EXPECT_EQ(reply.Error(), name);
    EXPECT_EQ(reply.Text("ErrorMessage"), message);
}

void ExpectSuccess(const VunoReply &reply) {
    EXPECT_EQ(reply.exitStatus, 0) << reply.output;
    EXPECT_EQ(reply.Error(), "") << reply.output;
}

std::vector<std::string> Texts(const Json &array) {
    std::vector<std::string> texts;
    for (const Json &item : array.items) {
        texts.push_back(item.text);
    }
    return texts;
}

// The "Id" of every item of a list result.
std::vector<std::string> ItemIds(const VunoReply &reply, const std::string &list) {
    std::vector<std::string> ids;
    for (const Json &item : reply.values.at(list).items) {
        ids.push_back(item.At("Id").At("data").text);
    }
    return ids;
}

std::string ItemField(const Json &item, const std::string &key) {
    return item.At(key).At("data").text;
}

class StorageMethods : public PlatformFixture {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vuno-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }

    void TearDown() override {
        PlatformFixture::TearDown();
        for (const auto &path : created_) {
            ::unlink(path.c_str());
        }
        ::rmdir(folder_.c_str());
    }

    void StartConnected() {
        StartHostSim();
        StartDaemon();
        ExpectDaemonOutput("BMC to Host successfully connected.", 20s);
    }

    void StartWithHostDown() {
        StartHostSim(kHostDown);
        StartDaemon();
    }

    std::string Path(const std::string &name) {
        created_.push_back(folder_ + "/" + name);
        return created_.back();
    }

    std::string ImageFile(const std::string &contents) {
        const std::string path = Path("image.bin");
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    VunoReply Inventory(const std::string &method) {
        return CallVuno(method, {"ss", "Global", kZeroIdentifier});
    }

    // dbus-send names the D-Bus error that refused a call.
    std::string CallWithDbusSend(const std::string &method, std::vector<std::string> arguments) {
        std::vector<std::string> argv{"dbus-send",
                                      "--system",
                                      "--print-reply",
                                      "--reply-timeout=5000",
                                      "--dest=xyz.openbmc_project.Vuno",
                                      "/xyz/openbmc_project/Vuno",
                                      "xyz.openbmc_project.vuno.pelk." + method};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunCommand(argv, 10s).output;
    }

    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(StorageMethods, ArgumentsOfTheWrongTypesAreRefusedByTheBusBeforeTheDaemonSeesThem) {
    StartWithHostDown();
    const std::vector<MethodCall> wrongCalls = {
        {"GetExecutorInformation", {"string:extra"}},
        {"GetFirmwareSlotInformation", {"uint32:1"}},
        {"GetDriveIdentifiers", {"string:Global"}},
        {"SendFirmwareToSlot", {"uint32:1", "string:1.0", "string:/dev/null"}},
        {"SetROHIPolicy", {"string:" + kUnknownIdentifier, "uint32:1"}},
        {"RebuildVolume", {"string:" + kUnknownIdentifier, "string:" + kUnknownIdentifier}},
    };
    for (const MethodCall &call : wrongCalls) {
        SCOPED_TRACE(call.method);
        EXPECT_NE(CallWithDbusSend(call.method, call.arguments)
                      .find("Error org.freedesktop.DBus.Error.InvalidArgs"),
                  std::string::npos);
    }
    EXPECT_EQ(daemon->CountInOutput("Error during sending request"), 0u);
    EXPECT_EQ(daemon->CountInOutput("Invalid argument"), 0u);

    // The same methods with the right types reach the daemon.
    ExpectError(CallVuno("GetExecutorInformation"), "HostNotConnected",
                "The host is not connected.");
}

TEST_F(StorageMethods, EveryMethodAnswersHostNotConnectedAsADictionaryWhileTheHostIsDown) {
    StartWithHostDown();
    const std::vector<MethodCall> calls = EveryMethod(ImageFile("firmware image"));
    ASSERT_EQ(calls.size(), 41u);
    for (const MethodCall &call : calls) {
        SCOPED_TRACE(call.method);
        ExpectError(CallVuno(call.method, call.arguments, 10s), "HostNotConnected",
                    "The host is not connected.");
    }
    EXPECT_EQ(daemon->CountInOutput("Error during sending request, status: HostNotConnected"), 41u);
}

TEST_F(StorageMethods, RefusedArgumentsAnswerTheirErrorAndSendNothingToTheHost) {
    StartConnected();
    const uint64_t before = Counters()["TransferDataRequests"];

    ExpectError(CallVuno("GetDriveInformation", {"ss", "Drive", "123"}), "InvalidArgument",
                "Invalid scope identifier: 123");
    ExpectError(CallVuno("GetDriveIdentifiers", {"ss", "global", kZeroIdentifier}),
                "InvalidArgument", "Invalid scope type: global");
    ExpectError(CallVuno("ChangeRaidLevel", {"susas", kUnknownIdentifier, "3", "5", "0"}),
                "InvalidStripSize", "The strip size is not valid for the specified RAID level.");
    ExpectError(CallVuno("RenameVolume", {"ss", kUnknownIdentifier, "seventeen-chars!!"}),
                "InvalidVolumeName",
                "Volume name contains one or more invalid characters. Invalid string size. "
                "Maximum length: 16");
    ExpectError(CallVuno("AddDrivesToArray", {"sas", kUnknownIdentifier, "2", "", "x"}),
                "InvalidArgument", "Invalid scope identifier: ");
    EXPECT_EQ(Counters()["TransferDataRequests"], before);

    // A well-formed call does reach the host.
    ExpectSuccess(Inventory("GetDriveIdentifiers"));
    EXPECT_GT(Counters()["TransferDataRequests"], before);
}

TEST_F(StorageMethods, EachInventoryMethodAnswersWithItsOwnObjects) {
    StartConnected();
    const VunoReply executor = CallVuno("GetExecutorInformation");
    ExpectSuccess(executor);
    EXPECT_FALSE(executor.Text("ExecutorVersion").empty());
    EXPECT_EQ(executor.types.at("SSIVersion"), "s");

    // Each identifier list names the objects of its own information list,
    // and the four kinds of objects are told apart.
    const std::vector<std::pair<std::string, std::string>> kinds = {{"Drive", "Drives"},
                                                                    {"Volume", "Volumes"},
                                                                    {"Array", "Arrays"},
                                                                    {"Controller", "Controllers"}};
    std::set<std::vector<std::string>> distinctLists;
    std::map<std::string, std::vector<std::string>> idsOf;
    for (const auto &[kind, list] : kinds) {
        SCOPED_TRACE(kind);
        const VunoReply identifiers = Inventory("Get" + kind + "Identifiers");
        const VunoReply information = Inventory("Get" + kind + "Information");
        ExpectSuccess(identifiers);
        ExpectSuccess(information);
        ASSERT_EQ(identifiers.values.count("Ids"), 1u) << identifiers.output;
        ASSERT_EQ(information.values.count(list), 1u) << information.output;
        const std::vector<std::string> ids = Texts(identifiers.values.at("Ids"));
        EXPECT_FALSE(ids.empty());
        EXPECT_EQ(identifiers.values.at("Count").Unsigned(), ids.size());
        EXPECT_EQ(ItemIds(information, list), ids);
        distinctLists.insert(ids);
        idsOf[kind] = ids;
    }
    EXPECT_EQ(distinctLists.size(), kinds.size());

    // A scope selects: the drives of one controller are those that name it.
    const std::string controller = idsOf["Controller"].front();
    std::vector<std::string> drivesOfController;
    const VunoReply drives = Inventory("GetDriveInformation");
    for (const Json &drive : drives.values.at("Drives").items) {
        if (ItemField(drive, "ControllerId") == controller) {
            drivesOfController.push_back(ItemField(drive, "Id"));
        }
    }
    const VunoReply scoped = CallVuno("GetDriveIdentifiers", {"ss", "Controller", controller});
    ExpectSuccess(scoped);
    EXPECT_EQ(Texts(scoped.values.at("Ids")), drivesOfController);

    const VunoReply raid = CallVuno("GetControllerRaidCapabilities", {"s", controller});
    ExpectSuccess(raid);
    EXPECT_EQ(raid.values.count("Capabilities"), 1u) << raid.output;
    const VunoReply migration =
        CallVuno("GetVolumeMigrationCapabilities", {"s", idsOf["Volume"].front()});
    ExpectSuccess(migration);
    EXPECT_EQ(migration.values.count("Capabilities"), 1u) << migration.output;
    const VunoReply slots = CallVuno("GetFirmwareSlotInformation");
    ExpectSuccess(slots);
    EXPECT_EQ(slots.values.count("Slots"), 1u) << slots.output;
}

TEST_F(StorageMethods, ActionsAnswerAnEmptyDictionaryAndTheExecutorsRefusalsTheirError) {
    StartConnected();
    std::string passThroughDrive;
    const VunoReply drives = Inventory("GetDriveInformation");
    for (const Json &drive : drives.values.at("Drives").items) {
        if (ItemField(drive, "Usage") == "Pass-through") {
            passThroughDrive = ItemField(drive, "Id");
        }
    }
    ASSERT_FALSE(passThroughDrive.empty()) << "the simulated host has no pass-through drive";

    const VunoReply spare = CallVuno("MarkDriveAsSpare", {"s", passThroughDrive});
    ExpectSuccess(spare);
    EXPECT_TRUE(spare.values.empty()) << spare.output;
    const VunoReply drive = CallVuno("GetDriveInformation", {"ss", "Drive", passThroughDrive});
    ASSERT_EQ(drive.values.at("Drives").items.size(), 1u) << drive.output;
    EXPECT_EQ(ItemField(drive.values.at("Drives").items[0], "Usage"), "Spare");

    const std::string volume = Texts(Inventory("GetVolumeIdentifiers").values.at("Ids")).front();
    ExpectSuccess(CallVuno("RenameVolume", {"ss", volume, "Renamed by BMC"}));
    const VunoReply renamed = CallVuno("GetVolumeInformation", {"ss", "Volume", volume});
    ASSERT_EQ(renamed.values.at("Volumes").items.size(), 1u) << renamed.output;
    EXPECT_EQ(ItemField(renamed.values.at("Volumes").items[0], "Name"), "Renamed by BMC");

    ExpectError(CallVuno("DeleteVolume", {"s", kUnknownIdentifier}), "InvalidVolume",
                "The volume selected for command does not exist.");
    EXPECT_EQ(daemon->CountInOutput("Error in callback function, SSI status: InvalidVolume"), 1u);

    // The image travels whole and lands in its slot.
    const VunoReply sent =
        CallVuno("SendFirmwareToSlot", {"qss", "3", "4.0.1", ImageFile(std::string(5000, 'F'))});
    ExpectSuccess(sent);
    EXPECT_TRUE(sent.values.empty()) << sent.output;
    bool slotFound = false;
    const VunoReply slots = CallVuno("GetFirmwareSlotInformation");
    for (const Json &slot : slots.values.at("Slots").items) {
        if (slot.At("Number").At("data").Unsigned() == 3) {
            slotFound = true;
            EXPECT_EQ(ItemField(slot, "Revision"), "4.0.1");
        }
    }
    EXPECT_TRUE(slotFound);
}

TEST_F(StorageMethods, CallsInFlightAreAnsweredIndependently) {
    StartConnected();
    const VunoReply subscription = CallVuno(
        "CreateEventSubscription", {"ssas", "Global", kZeroIdentifier, "1", "Drive failed"});
    ExpectSuccess(subscription);
    const std::string subscriptionId = subscription.Text("SubscriptionId");
    ASSERT_FALSE(subscriptionId.empty()) << subscription.output;

    // With no event queued the executor keeps the request until one comes.
    const size_t sent = daemon->Output().size();
    ChildProcess waiting(VunoCallCommand("GetEvents", {"su", subscriptionId, "0"}, 60s));
    ASSERT_TRUE(daemon->WaitForOutput("SSI Request successfully sent.", 10s, sent));
    ExpectSuccess(CallVuno("GetExecutorInformation"));
    EXPECT_FALSE(waiting.WaitForExit(0ms)) << waiting.Output();

    const std::string drive = Texts(Inventory("GetDriveIdentifiers").values.at("Ids")).front();
    Control("TriggerEvent", {"ys", "2", drive});
    ASSERT_EQ(waiting.WaitForExit(10s), std::optional<int>(0)) << waiting.Output();
    ASSERT_TRUE(waiting.WaitForOutputEnd(5s));
    const VunoReply events = ReadVunoReply(0, waiting.Output());
    ExpectSuccess(events);
    ASSERT_EQ(events.values.count("Events"), 1u) << events.output;
    ASSERT_EQ(events.values.at("Events").items.size(), 1u) << events.output;
    const Json &event = events.values.at("Events").items[0];
    EXPECT_EQ(ItemField(event, "EventType"), "Drive failed");
    EXPECT_EQ(ItemField(event, "EventIdentifier"), drive);
}

TEST_F(StorageMethods, StopsCleanlyWithACallInFlight) {
    StartConnected();
    const VunoReply subscription = CallVuno(
        "CreateEventSubscription", {"ssas", "Global", kZeroIdentifier, "1", "Drive removed"});
    ExpectSuccess(subscription);
    const size_t sent = daemon->Output().size();
    ChildProcess waiting(
        VunoCallCommand("GetEvents", {"su", subscription.Text("SubscriptionId"), "0"}, 60s));
    ASSERT_TRUE(daemon->WaitForOutput("SSI Request successfully sent.", 10s, sent));

    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitForExit(10s), std::optional<int>(0));
    ExpectDaemonOutput("VUNO Deinitialize", 1s, sent);
    // The call is not answered; its client learns that the daemon left.
    EXPECT_NE(waiting.WaitForExit(10s), std::optional<int>(0));
}

TEST_F(StorageMethods, FirmwareImagesThatAreNoRegularFilesAreRefusedAtOnce) {
    StartWithHostDown();
    const std::string fifo = Path("image.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> images = {
        {"a FIFO without writer", fifo},
        {"a directory", folder_},
        {"a missing file", folder_ + "/missing.bin"},
    };
    for (const auto &[what, path] : images) {
        SCOPED_TRACE(what);
        ExpectError(CallVuno("SendFirmwareToSlot", {"qss", "1", "1.0", path}, 5s),
                    "InvalidArgument", kInvalidImage);
    }
    // The loop never blocked: the daemon still answers.
    ExpectError(CallVuno("GetFirmwareSlotInformation", {}, 5s), "HostNotConnected",
                "The host is not connected.");
}

} // namespace
} // namespace vuno::testing
