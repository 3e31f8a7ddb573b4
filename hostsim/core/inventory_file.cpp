#include "inventory_file.hpp"
#include "inventory_entry.hpp"
#include "inventory_names.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace vuno::hostsim {

using namespace inventory;

namespace {

constexpr size_t kMaxFileSize = 1 << 20;

uint64_t LabelHash(std::string_view kind, std::string_view label) {
    uint64_t hash = 0xCBF29CE484222325;
    for (const std::string_view part : {kind, std::string_view("/"), label}) {
        for (char c : part) {
            hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3;
        }
    }
    return hash;
}

std::string LevelName(RaidLevel level) {
    switch (level) {
    case RaidLevel::Raid0:
        return "RAID 0";
    case RaidLevel::Raid1:
        return "RAID 1";
    case RaidLevel::Raid10:
        return "RAID 10";
    case RaidLevel::Raid5:
        return "RAID 5";
    case RaidLevel::Unknown:
        break;
    }
    return "an unknown RAID level";
}

class Loader {
  public:
    Loader() {
        inventory_.executor = {1, 0, "hostsim executor 1.0.0"};
        inventory_.firmwareCapacity = 16 << 20;
    }

    Inventory Load(const Json &root) {
        Entry top("the inventory", root);
        if (const Json *executor = top.Take("executor")) {
            Entry entry("executor", *executor);
            Executor(entry);
            entry.Finish();
        }
        if (const Json *firmware = top.Take("firmware")) {
            Entry entry("firmware", *firmware);
            Firmware(entry);
            entry.Finish();
        }
        Each(top, "controllers", &Loader::AddController);
        Each(top, "drives", &Loader::AddDrive);
        Each(top, "arrays", &Loader::AddArray);
        Each(top, "volumes", &Loader::AddVolume);
        top.Finish();
        for (const auto &[arrayId, where] : arrayPlaces_) {
            const bool used =
                std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                            [&id = arrayId](const Volume &volume) { return volume.arrayId == id; });
            if (!used) {
                throw LoadError(where + ": the array holds no volume");
            }
        }
        return std::move(inventory_);
    }

  private:
    using Labels = std::map<std::string, Identifier>;

    void Each(Entry &parent, const std::string &key, void (Loader::*add)(Entry &)) {
        const Json *list = parent.Take(key);
        if (list == nullptr) {
            return;
        }
        size_t index = 0;
        for (const Json &item : parent.ListOf(key, *list)) {
            Entry entry(key + "[" + std::to_string(index++) + "]", item);
            (this->*add)(entry);
            entry.Finish();
        }
    }

    void Executor(Entry &entry) {
        ExecutorInfo &executor = inventory_.executor;
        executor.version = entry.Text("version", executor.version, 32);
        executor.ssiMajor = entry.Optional<uint16_t>("ssi-major", executor.ssiMajor);
        executor.ssiMinor = entry.Optional<uint16_t>("ssi-minor", executor.ssiMinor);
    }

    void Firmware(Entry &entry) {
        inventory_.firmwareCapacity =
            entry.Optional<uint32_t>("capacity", inventory_.firmwareCapacity, 1);
        Each(entry, "slots", &Loader::Slot);
    }

    void Slot(Entry &entry) {
        FirmwareSlot slot;
        slot.number = entry.RequiredNumber<uint16_t>("number", 1);
        const bool taken =
            std::any_of(inventory_.slots.begin(), inventory_.slots.end(),
                        [&slot](const auto &other) { return other.number == slot.number; });
        if (taken) {
            entry.Fail("slot " + std::to_string(slot.number) + " given twice");
        }
        slot.revision = entry.Text("revision", "", 8);
        const uint32_t image = slot.revision.empty() ? 0 : inventory_.firmwareCapacity / 2;
        slot.imageSize = entry.Optional<uint32_t>("image", image);
        inventory_.slots.push_back(slot);
    }

    Identifier Define(Entry &entry, const std::string &keyword, Labels &labels,
                      std::string &label) {
        label = entry.TextOf("label", entry.Required("label"), 64);
        const bool wellFormed =
            !label.empty() && std::all_of(label.begin(), label.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
            });
        if (!wellFormed || label == kMissingMember) {
            entry.Fail("'label' must be letters, digits, '-' or '_', and not \"missing\"");
        }
        entry.Called(label);
        if (labels.contains(label)) {
            entry.Fail("the label is given twice");
        }
        Identifier id = LabelIdentifier(keyword, label);
        if (const Json *text = entry.Take("id")) {
            const auto given = ParseIdentifier(entry.TextOf("id", *text, 36));
            if (!given) {
                entry.Fail("'id' must be 32 hexadecimal digits");
            }
            id = *given;
        }
        if (IsZero(id) || !ids_.insert(id).second) {
            entry.Fail("'id' is zero or already used");
        }
        labels.emplace(label, id);
        return id;
    }

    static Identifier Refer(const Entry &entry, const std::string &label, const Labels &labels,
                            const std::string &kind) {
        const auto found = labels.find(label);
        if (found == labels.end()) {
            entry.Fail("no " + kind + " \"" + label + "\" defined");
        }
        return found->second;
    }

    Drive &DriveById(const Identifier &id) {
        return *std::find_if(inventory_.drives.begin(), inventory_.drives.end(),
                             [&id](const Drive &drive) { return drive.id == id; });
    }

    const Controller &ControllerById(const Identifier &id) const {
        return *std::find_if(inventory_.controllers.begin(), inventory_.controllers.end(),
                             [&id](const Controller &controller) { return controller.id == id; });
    }

    void AddController(Entry &statement) {
        Controller controller;
        std::string label;
        controller.id = Define(statement, "controller", controllers_, label);
        controller.type = statement.Choice("type", kControllerTypes);
        if (controller.type == ControllerType::Ahci) {
            controller.mode = statement.Choice("mode", kControllerModes, ControllerMode::Raid);
        }
        controller.name = statement.Text("name", label, 256);
        controller.vendorId = statement.Optional<uint16_t>("vendor", 0);
        controller.deviceId = statement.Optional<uint16_t>("device", 0);
        controller.subsystemId = statement.Optional<uint16_t>("subsystem", 0);
        controller.hardwareRevision = statement.Optional<uint8_t>("revision", 0);
        controller.osDriverVersion = statement.VersionOf("driver").value_or(Version{});
        const auto preosDriver = statement.VersionOf("preos-driver");
        controller.preosDriverLoaded = preosDriver.has_value();
        controller.preosDriverVersion = preosDriver.value_or(Version{});
        controller.maxVolumesPerArray = statement.Optional<uint16_t>("max-volumes-per-array", 2, 1);
        controller.maxVolumesPerController = statement.Optional<uint16_t>("max-volumes", 8, 1);
        controller.maxDrivesPerController = statement.Optional<uint16_t>("max-drives", 8, 1);
        controller.rohiEnabled = statement.Flag("rohi", false);
        controller.readPatrolEnabled = statement.Flag("patrol", false);
        inventory_.controllers.push_back(controller);
    }

    void AddDrive(Entry &statement) {
        Drive drive;
        std::string label;
        drive.id = Define(statement, "drive", drives_, label);
        drive.controllerId =
            Refer(statement, statement.TextOf("controller", statement.Required("controller"), 64),
                  controllers_, "controller");
        drive.type = statement.Choice("type", kDriveTypes);
        CheckAttachment(statement, drive);
        drive.size = statement.RequiredNumber<uint64_t>("size", 1);
        drive.serial = statement.Text("serial", "", 20);
        drive.model = statement.Text("model", "", 40);
        drive.firmware = statement.Text("firmware", "", 8);
        drive.logicalBlockSize = statement.Optional<uint32_t>("block", 512, 1);
        drive.physicalBlockSize = statement.Optional<uint32_t>("physical-block", 4096, 1);
        drive.status = statement.Choice("status", kDriveStatuses, DriveStatus::Normal);
        drive.usage = statement.Choice("usage", kDriveUsages, DriveUsage::PassThrough);
        drive.ledSupport = statement.Flag("led", true);
        drive.prebootVisible = statement.Flag("preboot", true);
        drive.writeCache = statement.Flag("write-cache", false);
        drive.linkRate = statement.Optional<uint8_t>("link", 0, 0, 3);
        ConnectionDetails(statement, drive);
        inventory_.drives.push_back(drive);
    }

    void CheckAttachment(const Entry &statement, const Drive &drive) const {
        const ControllerType type = ControllerById(drive.controllerId).type;
        const bool fits =
            (drive.type == DriveType::Vmd && type == ControllerType::Vmd) ||
            (drive.type == DriveType::NonVmd && type == ControllerType::Nvme) ||
            ((drive.type == DriveType::Sata || drive.type == DriveType::SataOptical) &&
             type == ControllerType::Ahci);
        if (!fits) {
            statement.Fail("the drive's type does not fit its controller");
        }
    }

    void ConnectionDetails(Entry &statement, Drive &drive) {
        if (drive.type == DriveType::Sata || drive.type == DriveType::SataOptical) {
            drive.port = statement.Optional<uint8_t>("port", 0);
        }
        if (drive.type == DriveType::Sata) {
            drive.solidState = statement.Flag("ssd", true);
            drive.ncq = statement.Flag("ncq", true);
        }
        if (drive.type == DriveType::Vmd || drive.type == DriveType::NonVmd) {
            drive.vendorId = statement.Optional<uint16_t>("vendor", 0);
            drive.attachedToPch = statement.Flag("pch", false);
            const uint8_t dual = statement.Choice("dual", kDualPorts, uint8_t{0});
            drive.dualController = dual != 0;
            drive.dualControllerOrder = dual == 2 ? 1 : 0;
        }
        if (drive.type == DriveType::Vmd) {
            drive.socket = statement.Optional<uint16_t>("socket", 0);
            drive.vmdController = statement.Optional<uint16_t>("vmd", 0);
            drive.rootPortOffset = statement.Optional<uint16_t>("root-port", 0);
            drive.physicalSlot = statement.Optional<uint64_t>("slot", 0);
        }
    }

    void AddArray(Entry &statement) {
        Array array;
        std::string label;
        array.id = Define(statement, "array", arrays_, label);
        array.name = statement.Text("name", label, 20);
        array.writeCache = statement.Flag("write-cache", false);
        const std::vector<std::string> labels = statement.Labels("drives");
        // An array whose drives have all failed names its controller alone.
        const Json *controller = statement.Take("controller");
        if (controller == nullptr && labels.empty()) {
            statement.Fail("an array without drives needs its 'controller'");
        }
        array.controllerId =
            controller != nullptr
                ? Refer(statement, statement.TextOf("controller", *controller, 64), controllers_,
                        "controller")
                : DriveById(Refer(statement, labels.front(), drives_, "drive")).controllerId;
        std::set<Identifier> seen;
        for (const std::string &member : labels) {
            Drive &drive = DriveById(Refer(statement, member, drives_, "drive"));
            if (!seen.insert(drive.id).second || !IsZero(drive.arrayId) ||
                drive.usage != DriveUsage::PassThrough ||
                (drive.status != DriveStatus::Normal && drive.status != DriveStatus::SmartEvent)) {
                statement.Fail("drive " + member + " is not free for the array");
            }
            if (drive.controllerId != array.controllerId) {
                statement.Fail("the array's drives are not on one controller");
            }
            drive.arrayId = array.id;
            drive.usage = DriveUsage::ArrayMember;
        }
        const Controller &holder = ControllerById(array.controllerId);
        if (RaidCapabilities(holder).empty() || labels.size() > holder.maxDrivesPerController) {
            statement.Fail("the controller cannot hold this array");
        }
        arrayPlaces_.emplace(array.id, statement.Where());
        inventory_.arrays.push_back(array);
    }

    void AddVolume(Entry &statement) {
        Volume volume;
        std::string label;
        volume.id = Define(statement, "volume", volumes_, label);
        volume.arrayId =
            Refer(statement, statement.TextOf("array", statement.Required("array"), 64), arrays_,
                  "array");
        const Array &array =
            *std::find_if(inventory_.arrays.begin(), inventory_.arrays.end(),
                          [&volume](const Array &a) { return a.id == volume.arrayId; });
        const Controller &controller = ControllerById(array.controllerId);
        volume.level = statement.Choice("level", kRaidLevels);
        const auto capability = CapabilityFor(controller, volume.level);
        if (!capability) {
            statement.Fail("the controller does not support " + LevelName(volume.level));
        }
        Members(statement, volume);
        if (!DriveCountFits(*capability, volume.members.size())) {
            statement.Fail(LevelName(volume.level) + " on this controller cannot have " +
                           std::to_string(volume.members.size()) + " drives");
        }
        const auto stripKiB = statement.RequiredNumber<uint32_t>("strip", 2, 65536);
        volume.stripCode = static_cast<uint16_t>(stripKiB / 2);
        if (stripKiB % 2 != 0 || !StripSupported(*capability, volume.stripCode)) {
            statement.Fail("strip " + std::to_string(stripKiB) + " KiB is not supported for " +
                           LevelName(volume.level));
        }
        volume.size = statement.RequiredNumber<uint64_t>("size", 1);
        TakeSpace(statement, volume);
        volume.name = statement.Text("name", label, 16);
        const bool nameTaken =
            std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                        [&volume](const Volume &v) { return v.name == volume.name; });
        if (!ValidVolumeName(volume.name) || nameTaken) {
            statement.Fail("'" + volume.name + "' is not a valid volume name or is taken");
        }
        volume.systemVolume = statement.Flag("system", false);
        volume.initialized = statement.Flag("initialized", true);
        volume.cachePolicy = statement.Choice("cache", kCachePolicies, CachePolicy::WriteThrough);
        WriteHole(statement, volume, controller);
        volume.verifyErrors = statement.Optional<uint32_t>("verify-errors", 0);
        volume.verifyBadBlocks = statement.Optional<uint32_t>("bad-blocks", 0);
        CheckVolumeLimits(statement, volume, controller);
        std::vector<bool> present;
        for (const Identifier &member : volume.members) {
            present.push_back(!IsZero(member));
        }
        volume.state = HealthOf(volume.level, present);
        inventory_.volumes.push_back(volume);
    }

    void Members(Entry &statement, Volume &volume) {
        for (const std::string &label : statement.Labels("drives")) {
            if (label == kMissingMember) {
                volume.members.push_back(kNoIdentifier);
                continue;
            }
            const Identifier id = Refer(statement, label, drives_, "drive");
            const Drive &drive = DriveById(id);
            if (drive.arrayId != volume.arrayId ||
                std::count(volume.members.begin(), volume.members.end(), id)) {
                statement.Fail("drive " + label +
                               " is not a member of the array, or is given twice");
            }
            volume.members.push_back(id);
        }
    }

    void TakeSpace(const Entry &statement, Volume &volume) {
        volume.extent =
            ExtentFor(volume.size, volume.level, volume.members.size(), volume.stripCode);
        std::optional<uint32_t> blockSize;
        for (const Identifier &member : volume.members) {
            if (IsZero(member)) {
                continue;
            }
            const Drive &drive = DriveById(member);
            if (blockSize.value_or(drive.logicalBlockSize) != drive.logicalBlockSize ||
                volume.size % drive.logicalBlockSize != 0) {
                statement.Fail("the size or the drives' block sizes do not agree");
            }
            blockSize = drive.logicalBlockSize;
            uint64_t &used = used_[member];
            if (volume.extent > drive.size || used > drive.size - volume.extent) {
                statement.Fail("drive " + DriveLabel(member) + " has no room for the volume");
            }
            used += volume.extent;
        }
    }

    void WriteHole(Entry &statement, Volume &volume, const Controller &controller) {
        volume.writeHolePolicy =
            statement.Choice("write-hole", kWriteHolePolicies, WriteHolePolicy::Off);
        if (volume.writeHolePolicy != WriteHolePolicy::Off && volume.level != RaidLevel::Raid5) {
            statement.Fail("a write-hole policy needs RAID 5");
        }
        if (volume.writeHolePolicy != WriteHolePolicy::JournalingDrive) {
            return;
        }
        const std::string label = statement.TextOf("journal", statement.Required("journal"), 64);
        Drive &drive = DriveById(Refer(statement, label, drives_, "drive"));
        if (drive.usage != DriveUsage::PassThrough || drive.status != DriveStatus::Normal ||
            drive.controllerId != controller.id) {
            statement.Fail("drive " + label + " cannot be the journaling drive");
        }
        drive.usage = DriveUsage::Journaling;
        volume.journalingDrive = drive.id;
    }

    void CheckVolumeLimits(const Entry &statement, const Volume &volume,
                           const Controller &controller) const {
        size_t inArray = 0;
        size_t onController = 0;
        for (const Volume &other : inventory_.volumes) {
            inArray += other.arrayId == volume.arrayId ? 1 : 0;
            for (const Array &array : inventory_.arrays) {
                onController += array.id == other.arrayId && array.controllerId == controller.id;
            }
        }
        if (inArray >= controller.maxVolumesPerArray ||
            onController >= controller.maxVolumesPerController) {
            statement.Fail("the controller takes no more volumes here");
        }
    }

    std::string DriveLabel(const Identifier &id) const {
        for (const auto &[label, drive] : drives_) {
            if (drive == id) {
                return label;
            }
        }
        return "?";
    }

    Inventory inventory_;
    Labels controllers_;
    Labels drives_;
    Labels arrays_;
    Labels volumes_;
    std::set<Identifier> ids_;
    std::map<Identifier, std::string> arrayPlaces_;
    std::map<Identifier, uint64_t> used_;
};

} // namespace

InventoryLoad ParseInventory(std::string_view text) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception &error) {
        // Drops the library's "[json.exception...] " prefix; the rest names
        // the line and column, or the number too large to read.
        const std::string_view what = error.what();
        const size_t end = what.find("] ");
        return {std::nullopt, std::string(end == what.npos ? what : what.substr(end + 2))};
    }
    try {
        return {Loader().Load(root), ""};
    } catch (const LoadError &error) {
        return {std::nullopt, error.what()};
    }
}

InventoryLoad LoadInventoryFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {std::nullopt, path + ": cannot be read"};
    }
    std::string text(kMaxFileSize + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        return {std::nullopt, path + ": cannot be read"};
    }
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileSize) {
        return {std::nullopt, path + ": larger than " + std::to_string(kMaxFileSize) + " bytes"};
    }
    InventoryLoad load = ParseInventory(text);
    if (!load.inventory) {
        load.error = path + ": " + load.error;
    }
    return load;
}

std::optional<Identifier> ParseIdentifier(std::string_view text) {
    std::string digits(text);
    std::erase(digits, '-');
    const bool hex = digits.size() == 32 && std::all_of(digits.begin(), digits.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                     });
    if (!hex) {
        return std::nullopt;
    }
    Identifier id{};
    for (size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return id;
}

Identifier LabelIdentifier(std::string_view keyword, std::string_view label) {
    return MakeIdentifier(LabelHash(keyword, label));
}

} // namespace vuno::hostsim
