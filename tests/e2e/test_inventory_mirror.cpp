// The host's storage in the BMC's inventory and event log, from the side of
// a BMC service that knows nothing of the storage interface: objects read
// through the object manager, signals seen by a bus monitor, event log
// entries read from the journal export file.
#include "platform_fixture.hpp"

#include <fstream>
#include <map>
#include <sstream>

namespace vuno::testing {
namespace {

const std::string kRoot = "/xyz/openbmc_project/inventory/host_storage";
const std::string kStorage = kRoot + "/raid";
const std::string kPublished = "the host's storage was read and published";

std::string ObjectPath(const std::string &kind, std::string id) {
    id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
    return kStorage + "/" + kind + "_" + id;
}

using Entry = std::map<std::string, std::string>;

std::string Field(const Entry &entry, const std::string &name) {
    const auto found = entry.find(name);
    return found == entry.end() ? "" : found->second;
}

class InventoryMirror : public PlatformFixture {
  protected:
    std::string Journal() const { return folder_.path / "journal.export"; }

    void StartMirrored() {
        ASSERT_NO_FATAL_FAILURE(
            StartConnected({"--inventory-mirror", "--journal-export", Journal()}));
        ExpectDaemonOutput(kPublished, 30s);
    }

    // path -> interface -> property -> {"type", "data"}
    Json Objects() {
        const auto result =
            RunCommand({"busctl", "--system", "--json=short", "call", "xyz.openbmc_project.Vuno",
                        kRoot, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects"},
                       10s);
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        const Json parsed = Json::parse(result.output, nullptr, false);
        return parsed.is_object() ? parsed["data"][0] : Json::object();
    }

    // A bus monitor of the signals that match, ready once this returns.
    std::unique_ptr<ChildProcess> Monitor(const std::string &match) {
        auto monitor = std::make_unique<ChildProcess>(std::vector<std::string>{
            "busctl", "--system", "--json=short", "monitor", "--match", match});
        EXPECT_TRUE(monitor->WaitForOutput("Monitoring bus message stream.", 10s));
        return monitor;
    }

    std::vector<Entry> JournalEntries() {
        std::ifstream file(Journal());
        std::vector<Entry> entries(1);
        for (std::string line; std::getline(file, line);) {
            if (line.empty()) {
                entries.emplace_back();
                continue;
            }
            const size_t equals = line.find('=');
            entries.back()[line.substr(0, equals)] = line.substr(equals + 1);
        }
        entries.pop_back();
        return entries;
    }

    const TemporaryFolder folder_{"vuno-mirror"};
};

TEST_F(InventoryMirror, PublishedObjectsMatchTheHostsInventory) {
    StartMirrored();
    Json objects = Objects();
    const Json controllers = Items(CallVuno("GetControllerInformation", kGlobal), "Controllers");
    const Json drives = Items(CallVuno("GetDriveInformation", kGlobal), "Drives");
    const Json arrays = Items(CallVuno("GetArrayInformation", kGlobal), "Arrays");
    const Json volumes = Items(CallVuno("GetVolumeInformation", kGlobal), "Volumes");
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(objects.size(),
              1 + controllers.size() + drives.size() + arrays.size() + volumes.size());

    for (const Json &drive : drives) {
        Json object = objects[ObjectPath("drive", Text(drive, "Id"))];
        SCOPED_TRACE(Text(drive, "Id"));
        EXPECT_EQ(object["xyz.openbmc_project.Inventory.Item.Drive"]["Capacity"]["data"],
                  drive["Size"]["data"]);
        EXPECT_EQ(Text(object["xyz.openbmc_project.Inventory.Decorator.Asset"], "SerialNumber"),
                  Text(drive, "Serial"));
        EXPECT_EQ(Text(object["xyz.openbmc_project.Inventory.Decorator.Revision"], "Version"),
                  Text(drive, "FwRev"));
        const std::string protocol =
            Text(object["xyz.openbmc_project.Inventory.Item.Drive"], "Protocol");
        EXPECT_EQ(protocol.substr(protocol.rfind('.') + 1),
                  Text(drive, "Type").find("SATA") == 0 ? "SATA" : "NVMe");
        EXPECT_EQ(object["xyz.openbmc_project.Inventory.Item"]["Present"]["data"], true);
        EXPECT_EQ(
            object["xyz.openbmc_project.State.Decorator.OperationalStatus"]["Functional"]["data"],
            Text(drive, "Status") == "Normal" || Text(drive, "Status") == "SMART event");
    }
    for (const Json &controller : controllers) {
        EXPECT_EQ(Text(objects[ObjectPath("controller", Text(controller, "Id"))]
                              ["xyz.openbmc_project.Inventory.Item"],
                       "PrettyName"),
                  Text(controller, "Name"));
    }
    for (const Json &volume : volumes) {
        EXPECT_EQ(Text(objects[ObjectPath("volume", Text(volume, "Id"))]
                              ["xyz.openbmc_project.Vuno.Inventory.Volume"],
                       "Name"),
                  Text(volume, "Name"));
    }
    for (const Json &array : arrays) {
        EXPECT_TRUE(objects.contains(ObjectPath("array", Text(array, "Id"))));
    }
    Json associations =
        objects[kStorage]["xyz.openbmc_project.Association.Definitions"]["Associations"];
    EXPECT_EQ(associations["type"], "a(sss)");
    EXPECT_EQ(associations["data"].size(), drives.size() + controllers.size());
}

TEST_F(InventoryMirror, AFailedDriveIsNoLongerFunctionalAndLoggedOnce) {
    StartMirrored();
    const std::string drive = Ids(CallVuno("GetDriveIdentifiers", kGlobal)).at(0);
    const std::string path = ObjectPath("drive", drive);
    const auto monitor = Monitor("type='signal',member='PropertiesChanged',path='" + path + "'");
    Control("FailDrive", {"s", drive});

    const auto changed = monitor->WaitForOutput("\"Functional\"", 20s);
    ASSERT_TRUE(changed) << monitor->Output();
    EXPECT_NE(monitor->Output().find("OperationalStatus"), std::string::npos);
    EXPECT_EQ(Objects()[path]["xyz.openbmc_project.State.Decorator.OperationalStatus"]["Functional"]
                       ["data"],
              false);

    // Written before the refresh that the signal followed.
    const std::vector<Entry> entries = JournalEntries();
    const auto failures = std::count_if(entries.begin(), entries.end(), [&path](const Entry &e) {
        return Field(e, "REDFISH_MESSAGE_ID") == "StorageDevice.1.0.DriveFailure" &&
               path.ends_with("/" + Field(e, "REDFISH_MESSAGE_ARGS"));
    });
    EXPECT_EQ(failures, 1) << monitor->Output();
    for (const Entry &entry : entries) {
        EXPECT_FALSE(Field(entry, "MESSAGE").empty());
        EXPECT_FALSE(Field(entry, "PRIORITY").empty());
    }
}

TEST_F(InventoryMirror, AVolumeComesAndGoesWithItsObject) {
    StartMirrored();
    const std::vector<std::string> drives = FreeDrivePair();
    ASSERT_EQ(drives.size(), 2u) << "the simulated host has too few free drives";
    const auto monitor = Monitor("type='signal',path='" + kRoot + "'");

    const std::string volume =
        Text(CallVuno("CreateVolume", {"sustsbssas", "Scratch", "64", "0", "1073741824", "",
                                       "false", "Off", "", "2", drives[0], drives[1]}),
             "VolumeId");
    ASSERT_FALSE(volume.empty());
    const std::string path = ObjectPath("volume", volume);
    const auto added = monitor->WaitForOutput(path, 20s);
    ASSERT_TRUE(added) << monitor->Output();
    EXPECT_EQ(Text(Objects()[path]["xyz.openbmc_project.Vuno.Inventory.Volume"], "Name"),
              "Scratch");

    EXPECT_TRUE(CallVuno("DeleteVolume", {"s", volume}).empty());
    ASSERT_TRUE(monitor->WaitForOutput("InterfacesRemoved", 20s, *added)) << monitor->Output();
    EXPECT_FALSE(Objects().contains(path));
}

TEST_F(InventoryMirror, AHostRestartReadsTheInventoryAgain) {
    StartMirrored();
    const size_t first = ExpectDaemonOutput(kPublished, 1s);
    Control("RestartHost");
    ExpectDaemonOutput(kPublished, 30s, first);
    EXPECT_FALSE(Objects().empty());
}

TEST_F(InventoryMirror, ClientsKeepTwentyNineHeldGetEventsAndTheThirtiethIsBusy) {
    StartMirrored();
    const std::string subscription = Subscribe({"Drive failed"});
    const auto held = StartHeldGetEvents(subscription, 29);
    EXPECT_EQ(ErrorName(CallVuno("GetEvents", {"su", subscription, "0"}, 10s)), "Busy");
    for (const auto &process : held) {
        EXPECT_FALSE(process->WaitForExit(0ms)) << process->Output();
    }
}

TEST_F(InventoryMirror, WithoutTheOptionTheDaemonSendsTheHostNothingOfItsOwn) {
    StartConnected();
    EXPECT_FALSE(daemon->WaitForOutput("Send SSI request", 5s));
    EXPECT_NE(
        RunCommand({"busctl", "--system", "introspect", "xyz.openbmc_project.Vuno", kRoot}, 10s)
            .exitStatus,
        0);
}

} // namespace
} // namespace vuno::testing
