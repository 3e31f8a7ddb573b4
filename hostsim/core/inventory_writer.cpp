#include "inventory_file.hpp"
#include "inventory_names.hpp"

#include <map>

namespace vuno::hostsim {

using namespace inventory;

const char *const kDefaultInventoryText = R"({
  "executor": {"version": "hostsim executor 1.0.0", "ssi-major": 1, "ssi-minor": 0},
  "firmware": {
    "capacity": 16777216,
    "slots": [{"number": 1, "revision": "3.0.11"}, {"number": 2, "revision": "3.2.00"}, {"number": 3}]
  },
  "controllers": [
    {"label": "vmd0", "type": "VMD", "name": "VMD NVMe RAID Controller", "vendor": 59297, "device": 2912,
     "subsystem": 1, "revision": 2, "driver": [8, 6, 0, 1012], "preos-driver": [8, 6, 0, 1004],
     "max-volumes-per-array": 4, "max-volumes": 12, "max-drives": 24, "rohi": true},
    {"label": "sata0", "type": "AHCI", "mode": "RAID", "name": "SATA RAID Controller", "vendor": 59297,
     "device": 2914, "subsystem": 2, "revision": 1, "driver": [8, 6, 0, 1012], "preos-driver": [8, 6, 0, 1004],
     "max-volumes-per-array": 2, "max-volumes": 4, "max-drives": 6}
  ],
  "drives": [
    {"label": "nvme0", "controller": "vmd0", "type": "VMD", "serial": "SIMN16A0001842", "model": "SimStore NV4 1.6TB",
     "firmware": "3.1.04", "size": 1600321314816, "vendor": 59316, "link": 3, "root-port": 0, "slot": 1},
    {"label": "nvme1", "controller": "vmd0", "type": "VMD", "serial": "SIMN16A0001857", "model": "SimStore NV4 1.6TB",
     "firmware": "3.1.04", "size": 1600321314816, "vendor": 59316, "link": 3, "root-port": 1, "slot": 2},
    {"label": "nvme2", "controller": "vmd0", "type": "VMD", "serial": "SIMN16A0001863", "model": "SimStore NV4 1.6TB",
     "firmware": "3.1.04", "size": 1600321314816, "vendor": 59316, "link": 3, "root-port": 2, "slot": 3},
    {"label": "nvme3", "controller": "vmd0", "type": "VMD", "serial": "SIMN16A0001871", "model": "SimStore NV4 1.6TB",
     "firmware": "3.1.04", "size": 1600321314816, "vendor": 59316, "link": 3, "root-port": 3, "slot": 4,
     "usage": "spare"},
    {"label": "nvme4", "controller": "vmd0", "type": "VMD", "serial": "SIMN32B0000416", "model": "SimStore NV4 3.2TB",
     "firmware": "3.1.04", "size": 3200631791616, "vendor": 59316, "link": 3, "root-port": 4, "slot": 5},
    {"label": "nvme5", "controller": "vmd0", "type": "VMD", "serial": "SIMN32B0000429", "model": "SimStore NV4 3.2TB",
     "firmware": "3.0.11", "size": 3200631791616, "vendor": 59316, "link": 2, "root-port": 5, "slot": 6,
     "usage": "offline-member"},
    {"label": "sata0", "controller": "sata0", "type": "SATA", "serial": "SIMS96G0B20117", "model": "SimStore SA2 960GB",
     "firmware": "SA2R0108", "size": 960197124096, "port": 0, "link": 2, "ssd": true},
    {"label": "sata1", "controller": "sata0", "type": "SATA", "serial": "SIMH2T0C0030455", "model": "SimDisk HD7 2TB",
     "firmware": "HD7R0031", "size": 2000398934016, "port": 1, "link": 2, "ssd": false}
  ],
  "arrays": [{"label": "array0", "name": "Array0", "drives": ["nvme0", "nvme1", "nvme2"]}],
  "volumes": [
    {"label": "system", "array": "array0", "name": "System", "level": "1", "drives": ["nvme0", "nvme1"],
     "size": 214748364800, "strip": 64, "system": true},
    {"label": "data", "array": "array0", "name": "Data", "level": "5", "drives": ["nvme0", "nvme1", "nvme2"],
     "size": 2199023255552, "strip": 64, "cache": "write-back", "write-hole": "distributed"}
  ]
})";

namespace {

std::string IdText(const Identifier &id) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : id) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

class InventoryWriter {
  public:
    explicit InventoryWriter(const RaidModel &model) : model_(model) {}

    Json Write() {
        const Inventory &inventory = model_.Contents();
        const ExecutorInfo &executor = inventory.executor;
        Json root;
        root["executor"] = {{"version", executor.version},
                            {"ssi-major", executor.ssiMajor},
                            {"ssi-minor", executor.ssiMinor}};
        Json slots = Json::array();
        for (const FirmwareSlot &slot : inventory.slots) {
            Json item{{"number", slot.number}};
            if (!slot.revision.empty()) {
                item["revision"] = slot.revision;
                item["image"] = slot.imageSize;
            }
            slots.push_back(std::move(item));
        }
        root["firmware"] = {{"capacity", inventory.firmwareCapacity}, {"slots", std::move(slots)}};
        root["controllers"] = List(inventory.controllers, &InventoryWriter::WriteController);
        root["drives"] = List(inventory.drives, &InventoryWriter::WriteDrive);
        root["arrays"] = List(inventory.arrays, &InventoryWriter::WriteArray);
        root["volumes"] = List(inventory.volumes, &InventoryWriter::WriteVolume);
        return root;
    }

  private:
    template <typename Item>
    Json List(const std::vector<Item> &items,
              void (InventoryWriter::*write)(const Item &, Json &)) {
        Json list = Json::array();
        for (const Item &item : items) {
            Json object;
            (this->*write)(item, object);
            list.push_back(std::move(object));
        }
        return list;
    }

    Json Define(const std::string &keyword, const Identifier &id) {
        const std::string label = keyword + std::to_string(defined_[keyword]++);
        labels_.emplace(id, label);
        return {{"label", label}, {"id", IdText(id)}};
    }

    std::string Label(const Identifier &id) const {
        const auto found = labels_.find(id);
        return found == labels_.end() ? std::string(kMissingMember) : found->second;
    }

    void WriteController(const Controller &controller, Json &out) {
        out = Define("controller", controller.id);
        out["type"] = NameOf(kControllerTypes, controller.type);
        if (controller.type == ControllerType::Ahci) {
            out["mode"] = NameOf(kControllerModes, controller.mode);
        }
        out.update({{"name", controller.name},
                    {"vendor", controller.vendorId},
                    {"device", controller.deviceId},
                    {"subsystem", controller.subsystemId},
                    {"revision", controller.hardwareRevision},
                    {"driver", controller.osDriverVersion}});
        if (controller.preosDriverLoaded) {
            out["preos-driver"] = controller.preosDriverVersion;
        }
        out.update({{"max-volumes-per-array", controller.maxVolumesPerArray},
                    {"max-volumes", controller.maxVolumesPerController},
                    {"max-drives", controller.maxDrivesPerController},
                    {"rohi", controller.rohiEnabled},
                    {"patrol", controller.readPatrolEnabled}});
    }

    void WriteDrive(const Drive &drive, Json &out) {
        out = Define("drive", drive.id);
        out.update({{"controller", Label(drive.controllerId)},
                    {"type", NameOf(kDriveTypes, drive.type)},
                    {"size", drive.size},
                    {"serial", drive.serial},
                    {"model", drive.model},
                    {"firmware", drive.firmware},
                    {"block", drive.logicalBlockSize},
                    {"physical-block", drive.physicalBlockSize},
                    {"status", NameOf(kDriveStatuses, drive.status)}});
        if (const std::string usage = NameOf(kDriveUsages, drive.usage); !usage.empty()) {
            out["usage"] = usage;
        }
        out.update({{"led", drive.ledSupport},
                    {"preboot", drive.prebootVisible},
                    {"write-cache", drive.writeCache},
                    {"link", drive.linkRate}});
        if (drive.type == DriveType::Sata || drive.type == DriveType::SataOptical) {
            out["port"] = drive.port;
        }
        if (drive.type == DriveType::Sata) {
            out.update({{"ssd", drive.solidState}, {"ncq", drive.ncq}});
        }
        if (drive.type == DriveType::Vmd || drive.type == DriveType::NonVmd) {
            const uint8_t dual = drive.dualController ? drive.dualControllerOrder + 1 : 0;
            out.update({{"vendor", drive.vendorId},
                        {"pch", drive.attachedToPch},
                        {"dual", NameOf(kDualPorts, dual)}});
        }
        if (drive.type == DriveType::Vmd) {
            out.update({{"socket", drive.socket},
                        {"vmd", drive.vmdController},
                        {"root-port", drive.rootPortOffset},
                        {"slot", drive.physicalSlot}});
        }
    }

    void WriteArray(const Array &array, Json &out) {
        Json drives = Json::array();
        for (const Drive &drive : model_.Contents().drives) {
            if (drive.arrayId == array.id) {
                drives.push_back(Label(drive.id));
            }
        }
        out = Define("array", array.id);
        out.update({{"controller", Label(array.controllerId)},
                    {"name", array.name},
                    {"write-cache", array.writeCache},
                    {"drives", std::move(drives)}});
    }

    void WriteVolume(const Volume &volume, Json &out) {
        Json drives = Json::array();
        for (const Identifier &member : volume.members) {
            const bool present = model_.IsPresentMember(volume, member);
            drives.push_back(present ? Label(member) : std::string(kMissingMember));
        }
        out = Define("volume", volume.id);
        out.update({{"array", Label(volume.arrayId)},
                    {"level", NameOf(kRaidLevels, volume.level)},
                    {"drives", std::move(drives)},
                    {"size", volume.size},
                    {"strip", uint32_t{volume.stripCode} * 2},
                    {"name", volume.name},
                    {"system", volume.systemVolume},
                    {"initialized", volume.initialized},
                    {"cache", NameOf(kCachePolicies, volume.cachePolicy)},
                    {"write-hole", NameOf(kWriteHolePolicies, volume.writeHolePolicy)}});
        if (!IsZero(volume.journalingDrive)) {
            out["journal"] = Label(volume.journalingDrive);
        }
        out.update(
            {{"verify-errors", volume.verifyErrors}, {"bad-blocks", volume.verifyBadBlocks}});
    }

    const RaidModel &model_;
    std::map<Identifier, std::string> labels_;
    std::map<std::string, size_t> defined_;
};

} // namespace

std::string WriteInventory(const RaidModel &model) {
    return InventoryWriter(model).Write().dump(2) + "\n";
}

Inventory DefaultInventory() {
    return ParseInventory(kDefaultInventoryText).inventory.value();
}

} // namespace vuno::hostsim
