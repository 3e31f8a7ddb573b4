// The storage interface from a client's side: the daemon and the simulated
// platform on a private bus, every call made with busctl (or dbus-send
// where the D-Bus error name matters).
#include "platform_fixture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iomanip>
#include <memory>
#include <set>
#include <sstream>

namespace vuno::testing {
namespace {

const std::string kZero = "00000000-0000-0000-0000-000000000000";
const std::string kUnknown = "0102030405060708090a0b0c0d0e0f10";
const std::vector<std::string> kGlobal = {"ss", "Global", kZero};
const std::string kEmptyReply = "a{sv} 0\n";

std::string ErrorReply(const std::string &name, const std::string &message) {
    return "a{sv} 2 \"Error\" s \"" + name + "\" \"ErrorMessage\" s \"" + message + "\"\n";
}

const std::string kHostNotConnected = ErrorReply("HostNotConnected", "The host is not connected.");

// The quoted texts that follow `prefix`, in order.
std::vector<std::string> QuotedAfter(const std::string &text, const std::string &prefix) {
    std::vector<std::string> found;
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
        std::istringstream rest(text.substr(at + prefix.size()));
        found.emplace_back();
        rest >> std::quoted(found.back());
        at += prefix.size();
    }
    return found;
}

// The "Ids" of an identifier list reply: busctl prints "Ids" as N "id"...
std::vector<std::string> ListedIds(const std::string &reply) {
    const std::string prefix = "\"Ids\" as ";
    const size_t at = reply.find(prefix);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no identifier list: " << reply;
        return {};
    }
    std::istringstream rest(reply.substr(at + prefix.size()));
    size_t count = 0;
    rest >> count;
    std::vector<std::string> ids(count);
    for (std::string &id : ids) {
        rest >> std::quoted(id);
    }
    return ids;
}

// The "Id" of every item of an information list.
std::vector<std::string> ItemIds(const std::string &reply) {
    return QuotedAfter(reply, "\"Id\" s ");
}

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

    // No VMD location of the daemon's candidates is live.
    void StartWithHostDown() {
        StartHostSim({"--live-vmd", "0x1"});
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

    // Starts GetEvents on a new subscription and waits until the host holds
    // it, for want of events.
    std::unique_ptr<ChildProcess> StartWaitingForEvents(const std::string &eventType) {
        const std::string reply =
            CallVuno("CreateEventSubscription", {"ssas", "Global", kZero, "1", eventType});
        const auto subscription = QuotedAfter(reply, "\"SubscriptionId\" s ");
        EXPECT_EQ(subscription.size(), 1u) << reply;
        const size_t from = daemon->Output().size();
        auto waiting = std::make_unique<ChildProcess>(
            VunoCallCommand("GetEvents", {"su", subscription.at(0), "0"}, 60s));
        EXPECT_TRUE(daemon->WaitForOutput("SSI Request successfully sent.", 10s, from));
        return waiting;
    }

    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(StorageMethods, ArgumentsOfTheWrongTypesAreRefusedByTheBusBeforeTheDaemonSeesThem) {
    StartWithHostDown();
    const std::vector<Call> wrongCalls = {
        {"GetExecutorInformation", {"string:extra"}},
        {"GetFirmwareSlotInformation", {"uint32:1"}},
        {"GetDriveIdentifiers", {"string:Global"}},
        {"SendFirmwareToSlot", {"uint32:1", "string:1.0", "string:/dev/null"}},
        {"SetROHIPolicy", {"string:" + kUnknown, "uint32:1"}},
    };
    for (const Call &call : wrongCalls) {
        SCOPED_TRACE(call.method);
        // dbus-send, unlike busctl, names the error.
        std::vector<std::string> argv{"dbus-send",
                                      "--system",
                                      "--print-reply",
                                      "--dest=xyz.openbmc_project.Vuno",
                                      "/xyz/openbmc_project/Vuno",
                                      "xyz.openbmc_project.vuno.pelk." + call.method};
        argv.insert(argv.end(), call.arguments.begin(), call.arguments.end());
        EXPECT_NE(RunCommand(argv, 10s).output.find("org.freedesktop.DBus.Error.InvalidArgs"),
                  std::string::npos);
    }
    EXPECT_EQ(daemon->CountInOutput("Error during sending request"), 0u);
    EXPECT_EQ(CallVuno("GetExecutorInformation"), kHostNotConnected);
}

TEST_F(StorageMethods, EveryMethodAnswersHostNotConnectedAsADictionaryWhileTheHostIsDown) {
    StartWithHostDown();
    const std::vector<Call> calls = EveryMethod(ImageFile("firmware image"));
    ASSERT_EQ(calls.size(), 41u);
    for (const Call &call : calls) {
        EXPECT_EQ(CallVuno(call.method, call.arguments, 10s), kHostNotConnected) << call.method;
    }
    EXPECT_EQ(daemon->CountInOutput("Error during sending request, status: HostNotConnected"), 41u);
}

TEST_F(StorageMethods, RefusedArgumentsAnswerTheirErrorAndSendNothingToTheHost) {
    StartConnected();
    const uint64_t before = Counter("TransferDataRequests");
    EXPECT_EQ(CallVuno("GetDriveInformation", {"ss", "Drive", "123"}),
              ErrorReply("InvalidArgument", "Invalid scope identifier: 123"));
    EXPECT_EQ(CallVuno("ChangeRaidLevel", {"susas", kUnknown, "3", "5", "0"}),
              ErrorReply("InvalidStripSize",
                         "The strip size is not valid for the specified RAID level."));
    EXPECT_EQ(CallVuno("RenameVolume", {"ss", kUnknown, "seventeen-chars!!"}),
              ErrorReply("InvalidVolumeName",
                         "Volume name contains one or more invalid "
                         "characters. Invalid string size. Maximum length: 16"));
    EXPECT_EQ(Counter("TransferDataRequests"), before);

    // A well-formed call does reach the host.
    EXPECT_EQ(ListedIds(CallVuno("GetControllerIdentifiers", kGlobal)).size(), 2u);
    EXPECT_GT(Counter("TransferDataRequests"), before);
}

TEST_F(StorageMethods, EachInventoryMethodAnswersWithItsOwnObjects) {
    StartConnected();
    EXPECT_NE(CallVuno("GetExecutorInformation").find("\"ExecutorVersion\" s \""),
              std::string::npos);

    // An identifier list names the objects of its information list, and the
    // four kinds of objects differ.
    std::set<std::vector<std::string>> lists;
    for (const std::string kind : {"Drive", "Volume", "Array", "Controller"}) {
        SCOPED_TRACE(kind);
        const std::vector<std::string> ids =
            ListedIds(CallVuno("Get" + kind + "Identifiers", kGlobal));
        EXPECT_FALSE(ids.empty());
        EXPECT_EQ(ItemIds(CallVuno("Get" + kind + "Information", kGlobal)), ids);
        lists.insert(ids);
    }
    EXPECT_EQ(lists.size(), 4u);

    // A scope selects: the drives of a controller are those that name it.
    const std::string controller = ListedIds(CallVuno("GetControllerIdentifiers", kGlobal)).at(0);
    const std::vector<std::string> controllerOfDrive =
        QuotedAfter(CallVuno("GetDriveInformation", kGlobal), "\"ControllerId\" s ");
    EXPECT_EQ(ListedIds(CallVuno("GetDriveIdentifiers", {"ss", "Controller", controller})).size(),
              static_cast<size_t>(
                  std::count(controllerOfDrive.begin(), controllerOfDrive.end(), controller)));

    const std::string volume = ListedIds(CallVuno("GetVolumeIdentifiers", kGlobal)).at(0);
    const std::string capabilities = "\"Capabilities\" aa{sv}";
    EXPECT_NE(CallVuno("GetControllerRaidCapabilities", {"s", controller}).find(capabilities),
              std::string::npos);
    EXPECT_NE(CallVuno("GetVolumeMigrationCapabilities", {"s", volume}).find(capabilities),
              std::string::npos);
}

TEST_F(StorageMethods, ActionsAnswerAnEmptyDictionaryAndTheExecutorsRefusalsTheirError) {
    StartConnected();
    std::string passThrough;
    for (const std::string &drive : ListedIds(CallVuno("GetDriveIdentifiers", kGlobal))) {
        if (CallVuno("GetDriveInformation", {"ss", "Drive", drive})
                .find("\"Usage\" s \"Pass-through\"") != std::string::npos) {
            passThrough = drive;
        }
    }
    ASSERT_FALSE(passThrough.empty()) << "the simulated host has no pass-through drive";
    EXPECT_EQ(CallVuno("MarkDriveAsSpare", {"s", passThrough}), kEmptyReply);
    EXPECT_NE(
        CallVuno("GetDriveInformation", {"ss", "Drive", passThrough}).find("\"Usage\" s \"Spare\""),
        std::string::npos);

    EXPECT_EQ(CallVuno("DeleteVolume", {"s", kUnknown}),
              ErrorReply("InvalidVolume", "The volume selected for command does not exist."));
    EXPECT_EQ(daemon->CountInOutput("Error in callback function, SSI status: InvalidVolume"), 1u);

    // The image travels whole, in many frames, and lands in its slot.
    EXPECT_EQ(
        CallVuno("SendFirmwareToSlot", {"qss", "3", "4.0.1", ImageFile(std::string(5000, 'F'))}),
        kEmptyReply);
    EXPECT_NE(
        CallVuno("GetFirmwareSlotInformation").find("\"Number\" q 3 \"Revision\" s \"4.0.1\""),
        std::string::npos);
}

TEST_F(StorageMethods, CallsInFlightAreAnsweredIndependently) {
    StartConnected();
    const auto waiting = StartWaitingForEvents("Drive failed");
    EXPECT_NE(CallVuno("GetExecutorInformation").find("ExecutorVersion"), std::string::npos);
    EXPECT_FALSE(waiting->WaitForExit(0ms)) << "GetEvents answered without an event";

    const std::string drive = ListedIds(CallVuno("GetDriveIdentifiers", kGlobal)).at(0);
    Control("TriggerEvent", {"ys", "2", drive});
    ASSERT_EQ(waiting->WaitForExit(10s), std::optional<int>(0)) << waiting->Output();
    ASSERT_TRUE(waiting->WaitForOutputEnd(5s));
    EXPECT_NE(waiting->Output().find("\"EventIdentifier\" s \"" + drive +
                                     "\" \"EventType\" s \"Drive failed\""),
              std::string::npos)
        << waiting->Output();
}

TEST_F(StorageMethods, StopsCleanlyWithACallInFlight) {
    StartConnected();
    const auto waiting = StartWaitingForEvents("Drive removed");
    const size_t from = daemon->Output().size();
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitForExit(10s), std::optional<int>(0));
    ExpectDaemonOutput("VUNO Deinitialize", 1s, from);
    // The call is not answered; its client learns that the daemon left.
    EXPECT_NE(waiting->WaitForExit(10s), std::optional<int>(0));
}

TEST_F(StorageMethods, FirmwareImagesThatAreNoRegularFilesAreRefusedAtOnce) {
    StartWithHostDown();
    const std::string fifo = Path("image.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, folder_, folder_ + "/missing.bin"}) {
        EXPECT_EQ(CallVuno("SendFirmwareToSlot", {"qss", "1", "1.0", path}, 5s),
                  ErrorReply("InvalidArgument", "Invalid Firmware image file."))
            << path;
    }
    // The loop never blocked: the daemon still answers.
    EXPECT_EQ(CallVuno("GetFirmwareSlotInformation", {}, 5s), kHostNotConnected);
}

} // namespace
} // namespace vuno::testing
