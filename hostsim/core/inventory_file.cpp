#include "inventory_file.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace vuno::hostsim {

const char *const kDefaultInventoryText = R"(# The simulated host when no inventory file is given.
executor version="hostsim executor 1.0.0" ssi=1.0
firmware capacity=16777216
slot 1 revision=3.0.11
slot 2 revision=3.2.00
slot 3

controller vmd0 type=VMD name="VMD NVMe RAID Controller" vendor=0xE7A1 device=0x0B60 subsystem=0x0001 revision=2 driver=8.6.0.1012 preos-driver=8.6.0.1004 max-volumes-per-array=4 max-volumes=12 max-drives=24 rohi=yes
controller sata0 type=AHCI mode=RAID name="SATA RAID Controller" vendor=0xE7A1 device=0x0B62 subsystem=0x0002 revision=1 driver=8.6.0.1012 preos-driver=8.6.0.1004 max-volumes-per-array=2 max-volumes=4 max-drives=6

drive nvme0 controller=vmd0 type=VMD serial=SIMN16A0001842 model="SimStore NV4 1.6TB" firmware=3.1.04 size=1600321314816 vendor=0xE7B4 link=3 root-port=0 slot=1
drive nvme1 controller=vmd0 type=VMD serial=SIMN16A0001857 model="SimStore NV4 1.6TB" firmware=3.1.04 size=1600321314816 vendor=0xE7B4 link=3 root-port=1 slot=2
drive nvme2 controller=vmd0 type=VMD serial=SIMN16A0001863 model="SimStore NV4 1.6TB" firmware=3.1.04 size=1600321314816 vendor=0xE7B4 link=3 root-port=2 slot=3
drive nvme3 controller=vmd0 type=VMD serial=SIMN16A0001871 model="SimStore NV4 1.6TB" firmware=3.1.04 size=1600321314816 vendor=0xE7B4 link=3 root-port=3 slot=4 usage=spare
drive nvme4 controller=vmd0 type=VMD serial=SIMN32B0000416 model="SimStore NV4 3.2TB" firmware=3.1.04 size=3200631791616 vendor=0xE7B4 link=3 root-port=4 slot=5
drive nvme5 controller=vmd0 type=VMD serial=SIMN32B0000429 model="SimStore NV4 3.2TB" firmware=3.0.11 size=3200631791616 vendor=0xE7B4 link=2 root-port=5 slot=6 usage=offline-member
drive sata0 controller=sata0 type=SATA serial=SIMS96G0B20117 model="SimStore SA2 960GB" firmware=SA2R0108 size=960197124096 port=0 link=2 ssd=yes
drive sata1 controller=sata0 type=SATA serial=SIMH2T0C0030455 model="SimDisk HD7 2TB" firmware=HD7R0031 size=2000398934016 port=1 link=2 ssd=no

array array0 name=Array0 drives=nvme0,nvme1,nvme2
volume system array=array0 name=System level=1 drives=nvme0,nvme1 size=214748364800 strip=64 system=yes
volume data array=array0 name=Data level=5 drives=nvme0,nvme1,nvme2 size=2199023255552 strip=64 cache=write-back write-hole=distributed
)";

namespace {

constexpr size_t kMaxObjects = 1024;
constexpr size_t kMaxFileSize = 1 << 20;
constexpr std::string_view kMissingMember = "missing";

template <typename Value> struct Name {
    std::string_view text;
    Value value;
};

constexpr Name<ControllerType> kControllerTypes[] = {
    {"VMD", ControllerType::Vmd}, {"AHCI", ControllerType::Ahci}, {"NVMe", ControllerType::Nvme}};
constexpr Name<ControllerMode> kControllerModes[] = {{"RAID", ControllerMode::Raid},
                                                     {"AHCI", ControllerMode::Ahci}};
constexpr Name<DriveType> kDriveTypes[] = {{"VMD", DriveType::Vmd},
                                           {"NVMe", DriveType::NonVmd},
                                           {"SATA", DriveType::Sata},
                                           {"SATA-optical", DriveType::SataOptical}};
constexpr Name<DriveStatus> kDriveStatuses[] = {
    {"normal", DriveStatus::Normal},
    {"failed", DriveStatus::Failed},
    {"offline", DriveStatus::Offline},
    {"smart", DriveStatus::SmartEvent},
    {"locked", DriveStatus::Locked},
    {"missing", DriveStatus::Missing},
    {"incompatible", DriveStatus::Incompatible},
    {"unsupported", DriveStatus::Unsupported},
    {"unknown", DriveStatus::Unknown},
};
// Array members and journaling drives get their usage from other lines.
constexpr Name<DriveUsage> kDriveUsages[] = {{"pass-through", DriveUsage::PassThrough},
                                             {"spare", DriveUsage::Spare},
                                             {"offline-member", DriveUsage::OfflineArrayMember},
                                             {"unknown", DriveUsage::Unknown}};
// Dual-controller NVMe drives: none, or the first or second port.
constexpr Name<uint8_t> kDualPorts[] = {{"none", 0}, {"first", 1}, {"second", 2}};
constexpr Name<RaidLevel> kRaidLevels[] = {{"0", RaidLevel::Raid0},
                                           {"1", RaidLevel::Raid1},
                                           {"10", RaidLevel::Raid10},
                                           {"5", RaidLevel::Raid5}};
constexpr Name<CachePolicy> kCachePolicies[] = {{"disabled", CachePolicy::Disabled},
                                                {"write-through", CachePolicy::WriteThrough},
                                                {"write-back", CachePolicy::WriteBack}};
constexpr Name<WriteHolePolicy> kWriteHolePolicies[] = {
    {"off", WriteHolePolicy::Off},
    {"distributed", WriteHolePolicy::Distributed},
    {"journaling", WriteHolePolicy::JournalingDrive}};

template <typename Value, size_t N>
std::string_view NameOf(const Name<Value> (&names)[N], Value value) {
    for (const Name<Value> &name : names) {
        if (name.value == value) {
            return name.text;
        }
    }
    return {};
}

class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(size_t line, const std::string &message) {
    throw LoadError("line " + std::to_string(line) + ": " + message);
}

bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::optional<uint64_t> ParseUnsigned(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (;;) {
        const size_t at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

uint64_t LabelHash(std::string_view kind, std::string_view label) {
    uint64_t hash = 0xCBF29CE484222325;
    for (const std::string_view part : {kind, std::string_view("/"), label}) {
        for (char c : part) {
            hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3;
        }
    }
    return hash;
}

// Blank-separated tokens; double quotes group blanks into a token and are
// dropped.
std::vector<std::string> Tokenize(std::string_view text, size_t line) {
    std::vector<std::string> tokens;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::string token;
        bool quoted = false;
        for (; at < text.size() && (quoted || (text[at] != ' ' && text[at] != '\t')); ++at) {
            if (text[at] == '"') {
                quoted = !quoted;
            } else {
                token += text[at];
            }
        }
        if (quoted) {
            Fail(line, "a quote is not closed");
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// One statement's fields, taken one by one; what nobody took is an error.
class Statement {
  public:
    Statement(size_t line, const std::vector<std::string> &tokens) : line_(line) {
        keyword_ = tokens.front();
        for (size_t i = 1; i < tokens.size(); ++i) {
            const std::string &token = tokens[i];
            const size_t equals = token.find('=');
            if (equals == std::string::npos && i == 1) {
                label_ = token;
                continue;
            }
            if (equals == std::string::npos || equals == 0) {
                Fail("expected key=value, found '" + token + "'");
            }
            const std::string key = token.substr(0, equals);
            if (!fields_.emplace(key, token.substr(equals + 1)).second) {
                Fail("field '" + key + "' given twice");
            }
        }
    }

    size_t Line() const { return line_; }
    const std::string &Keyword() const { return keyword_; }
    const std::string &Label() const { return label_; }

    [[noreturn]] void Fail(const std::string &message) const { hostsim::Fail(line_, message); }

    std::optional<std::string> Take(const std::string &key) {
        const auto found = fields_.find(key);
        if (found == fields_.end()) {
            return std::nullopt;
        }
        std::string value = std::move(found->second);
        fields_.erase(found);
        return value;
    }

    std::string Required(const std::string &key) {
        auto value = Take(key);
        if (!value) {
            Fail("field '" + key + "' is missing");
        }
        return std::move(*value);
    }

    std::string Text(const std::string &key, std::string fallback, size_t width) {
        const auto value = Take(key);
        if (!value) {
            return fallback;
        }
        if (!Printable(*value)) {
            Fail("'" + key + "' must be printable ASCII");
        }
        if (value->size() > width) {
            Fail("'" + key + "' is longer than " + std::to_string(width) + " characters");
        }
        return *value;
    }

    template <typename Number>
    Number ToNumber(const std::string &key, const std::string &text, uint64_t least = 0,
                    uint64_t most = std::numeric_limits<Number>::max()) const {
        const auto value = ParseUnsigned(text);
        if (!value || *value < least || *value > most) {
            Fail("'" + key + "' must be a number from " + std::to_string(least) + " to " +
                 std::to_string(most) + ", not '" + text + "'");
        }
        return static_cast<Number>(*value);
    }

    template <typename Number>
    Number Optional(const std::string &key, Number fallback, uint64_t least = 0,
                    uint64_t most = std::numeric_limits<Number>::max()) {
        const auto value = Take(key);
        return value ? ToNumber<Number>(key, *value, least, most) : fallback;
    }

    template <typename Number>
    Number RequiredNumber(const std::string &key, uint64_t least = 0,
                          uint64_t most = std::numeric_limits<Number>::max()) {
        return ToNumber<Number>(key, Required(key), least, most);
    }

    bool Flag(const std::string &key, bool fallback) {
        const auto value = Take(key);
        if (!value) {
            return fallback;
        }
        if (*value != "yes" && *value != "no") {
            Fail("'" + key + "' must be yes or no, not '" + *value + "'");
        }
        return *value == "yes";
    }

    template <typename Value, size_t N>
    Value Choice(const std::string &key, const Name<Value> (&choices)[N],
                 std::optional<std::type_identity_t<Value>> fallback = std::nullopt) {
        const auto value = fallback ? Take(key) : std::optional(Required(key));
        if (!value) {
            return *fallback;
        }
        std::string names;
        for (const Name<Value> &choice : choices) {
            if (choice.text == *value) {
                return choice.value;
            }
            names += (names.empty() ? "" : ", ") + std::string(choice.text);
        }
        Fail("'" + key + "' must be one of " + names + ", not '" + *value + "'");
    }

    std::optional<std::array<uint16_t, 4>> Version(const std::string &key) {
        const auto value = Take(key);
        std::array<uint16_t, 4> version{};
        if (!value) {
            return std::nullopt;
        }
        const std::vector<std::string> parts = Split(*value, '.');
        if (parts.size() != version.size()) {
            Fail("'" + key + "' must be four numbers joined by '.', not '" + *value + "'");
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            version[i] = ToNumber<uint16_t>(key, parts[i]);
        }
        return version;
    }

    std::vector<std::string> List(const std::string &key) {
        const std::string value = Required(key);
        std::vector<std::string> items = Split(value, ',');
        if (std::any_of(items.begin(), items.end(),
                        [](const auto &item) { return item.empty(); })) {
            Fail("'" + key + "' must be labels joined by ',', not '" + value + "'");
        }
        return items;
    }

    void Finish() const {
        if (!fields_.empty()) {
            Fail("unexpected field '" + fields_.begin()->first + "' for " + keyword_);
        }
    }

  private:
    size_t line_;
    std::string keyword_;
    std::string label_;
    std::map<std::string, std::string> fields_;
};

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

    void Add(Statement &statement) {
        const std::string &keyword = statement.Keyword();
        if (keyword == "executor") {
            Executor(statement);
        } else if (keyword == "firmware") {
            Firmware(statement);
        } else if (keyword == "slot") {
            Slot(statement);
        } else if (keyword == "controller") {
            AddController(statement);
        } else if (keyword == "drive") {
            AddDrive(statement);
        } else if (keyword == "array") {
            AddArray(statement);
        } else if (keyword == "volume") {
            AddVolume(statement);
        } else {
            statement.Fail("unknown statement '" + keyword + "'");
        }
        statement.Finish();
    }

    Inventory Finish() {
        for (const auto &[id, line] : arrayLines_) {
            const bool used =
                std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                            [&id](const Volume &volume) { return volume.arrayId == id; });
            if (!used) {
                Fail(line, "the array holds no volume");
            }
        }
        return std::move(inventory_);
    }

  private:
    using Labels = std::map<std::string, Identifier>;

    void Once(Statement &statement, bool &seen) {
        if (seen) {
            statement.Fail(statement.Keyword() + " given twice");
        }
        if (!statement.Label().empty()) {
            statement.Fail("unexpected '" + statement.Label() + "'");
        }
        seen = true;
    }

    void Executor(Statement &statement) {
        Once(statement, executorSeen_);
        inventory_.executor.version = statement.Text("version", inventory_.executor.version, 32);
        const std::string ssi = statement.Required("ssi");
        const std::vector<std::string> parts = Split(ssi, '.');
        if (parts.size() != 2) {
            statement.Fail("'ssi' must be MAJOR.MINOR, not '" + ssi + "'");
        }
        inventory_.executor.ssiMajor = statement.ToNumber<uint16_t>("ssi", parts[0]);
        inventory_.executor.ssiMinor = statement.ToNumber<uint16_t>("ssi", parts[1]);
    }

    void Firmware(Statement &statement) {
        Once(statement, firmwareSeen_);
        inventory_.firmwareCapacity = statement.RequiredNumber<uint32_t>("capacity", 1);
    }

    void Slot(Statement &statement) {
        FirmwareSlot slot;
        slot.number = statement.ToNumber<uint16_t>("slot number", statement.Label(), 1);
        const bool taken =
            std::any_of(inventory_.slots.begin(), inventory_.slots.end(),
                        [&slot](const auto &other) { return other.number == slot.number; });
        if (taken || inventory_.slots.size() >= kMaxObjects) {
            statement.Fail(taken ? "slot " + statement.Label() + " given twice" : "too many slots");
        }
        slot.revision = statement.Text("revision", "", 8);
        const uint32_t image = slot.revision.empty() ? 0 : inventory_.firmwareCapacity / 2;
        slot.imageSize = statement.Optional<uint32_t>("image", image);
        inventory_.slots.push_back(slot);
    }

    Identifier Define(Statement &statement, Labels &labels, size_t count) {
        const std::string &label = statement.Label();
        const bool wellFormed =
            !label.empty() && std::all_of(label.begin(), label.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
            });
        if (!wellFormed || label == kMissingMember) {
            statement.Fail("a " + statement.Keyword() +
                           " needs a label of letters, digits, '-' or '_'");
        }
        if (labels.contains(label)) {
            statement.Fail(statement.Keyword() + " " + label + " given twice");
        }
        if (count >= kMaxObjects) {
            statement.Fail("too many of " + statement.Keyword());
        }
        Identifier id = LabelIdentifier(statement.Keyword(), label);
        if (const auto text = statement.Take("id")) {
            const auto given = ParseIdentifier(*text);
            if (!given) {
                statement.Fail("'id' must be 32 hexadecimal digits");
            }
            id = *given;
        }
        if (IsZero(id) || !ids_.insert(id).second) {
            statement.Fail("identifier of " + label + " is zero or already used");
        }
        labels.emplace(label, id);
        return id;
    }

    static Identifier Refer(const Statement &statement, const std::string &label,
                            const Labels &labels, const std::string &kind) {
        const auto found = labels.find(label);
        if (found == labels.end()) {
            statement.Fail("no " + kind + " " + label + " defined above");
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

    void AddController(Statement &statement) {
        Controller controller;
        controller.id = Define(statement, controllers_, inventory_.controllers.size());
        controller.type = statement.Choice("type", kControllerTypes);
        if (controller.type == ControllerType::Ahci) {
            controller.mode = statement.Choice("mode", kControllerModes, ControllerMode::Raid);
        }
        controller.name = statement.Text("name", statement.Label(), 256);
        controller.vendorId = statement.Optional<uint16_t>("vendor", 0);
        controller.deviceId = statement.Optional<uint16_t>("device", 0);
        controller.subsystemId = statement.Optional<uint16_t>("subsystem", 0);
        controller.hardwareRevision = statement.Optional<uint8_t>("revision", 0);
        controller.osDriverVersion =
            statement.Version("driver").value_or(std::array<uint16_t, 4>{});
        const auto preosDriver = statement.Version("preos-driver");
        controller.preosDriverLoaded = preosDriver.has_value();
        controller.preosDriverVersion = preosDriver.value_or(std::array<uint16_t, 4>{});
        controller.maxVolumesPerArray = statement.Optional<uint16_t>("max-volumes-per-array", 2, 1);
        controller.maxVolumesPerController = statement.Optional<uint16_t>("max-volumes", 8, 1);
        controller.maxDrivesPerController = statement.Optional<uint16_t>("max-drives", 8, 1);
        controller.rohiEnabled = statement.Flag("rohi", false);
        controller.readPatrolEnabled = statement.Flag("patrol", false);
        inventory_.controllers.push_back(controller);
    }

    void AddDrive(Statement &statement) {
        Drive drive;
        drive.id = Define(statement, drives_, inventory_.drives.size());
        drive.controllerId =
            Refer(statement, statement.Required("controller"), controllers_, "controller");
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

    void CheckAttachment(const Statement &statement, const Drive &drive) const {
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

    void ConnectionDetails(Statement &statement, Drive &drive) {
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

    void AddArray(Statement &statement) {
        Array array;
        array.id = Define(statement, arrays_, inventory_.arrays.size());
        array.name = statement.Text("name", statement.Label(), 20);
        array.writeCache = statement.Flag("write-cache", false);
        std::set<Identifier> seen;
        const std::vector<std::string> labels = statement.List("drives");
        for (const std::string &label : labels) {
            Drive &drive = DriveById(Refer(statement, label, drives_, "drive"));
            if (seen.empty()) {
                array.controllerId = drive.controllerId;
            }
            if (!seen.insert(drive.id).second || !IsZero(drive.arrayId) ||
                drive.usage != DriveUsage::PassThrough ||
                (drive.status != DriveStatus::Normal && drive.status != DriveStatus::SmartEvent)) {
                statement.Fail("drive " + label + " is not free for the array");
            }
            if (drive.controllerId != array.controllerId) {
                statement.Fail("the array's drives are not on one controller");
            }
            drive.arrayId = array.id;
            drive.usage = DriveUsage::ArrayMember;
        }
        const Controller &controller = ControllerById(array.controllerId);
        if (RaidCapabilities(controller).empty() ||
            labels.size() > controller.maxDrivesPerController) {
            statement.Fail("the controller cannot hold this array");
        }
        arrayLines_.emplace(array.id, statement.Line());
        inventory_.arrays.push_back(array);
    }

    void AddVolume(Statement &statement) {
        Volume volume;
        volume.id = Define(statement, volumes_, inventory_.volumes.size());
        volume.arrayId = Refer(statement, statement.Required("array"), arrays_, "array");
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
        volume.name = statement.Text("name", statement.Label(), 16);
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

    void Members(Statement &statement, Volume &volume) {
        for (const std::string &label : statement.List("drives")) {
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

    void TakeSpace(const Statement &statement, Volume &volume) {
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

    void WriteHole(Statement &statement, Volume &volume, const Controller &controller) {
        volume.writeHolePolicy =
            statement.Choice("write-hole", kWriteHolePolicies, WriteHolePolicy::Off);
        if (volume.writeHolePolicy != WriteHolePolicy::Off && volume.level != RaidLevel::Raid5) {
            statement.Fail("a write-hole policy needs RAID 5");
        }
        if (volume.writeHolePolicy != WriteHolePolicy::JournalingDrive) {
            return;
        }
        const std::string label = statement.Required("journal");
        Drive &drive = DriveById(Refer(statement, label, drives_, "drive"));
        if (drive.usage != DriveUsage::PassThrough || drive.status != DriveStatus::Normal ||
            drive.controllerId != controller.id) {
            statement.Fail("drive " + label + " cannot be the journaling drive");
        }
        drive.usage = DriveUsage::Journaling;
        volume.journalingDrive = drive.id;
    }

    void CheckVolumeLimits(const Statement &statement, const Volume &volume,
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
    bool executorSeen_ = false;
    bool firmwareSeen_ = false;
    Labels controllers_;
    Labels drives_;
    Labels arrays_;
    Labels volumes_;
    std::set<Identifier> ids_;
    std::map<Identifier, size_t> arrayLines_;
    std::map<Identifier, uint64_t> used_;
};

} // namespace

InventoryLoad ParseInventory(std::string_view text) {
    Loader loader;
    try {
        size_t line = 0;
        for (const std::string &raw : Split(text, '\n')) {
            ++line;
            std::string_view content = raw;
            if (content.ends_with('\r')) {
                content.remove_suffix(1);
            }
            const std::vector<std::string> tokens = Tokenize(content, line);
            if (tokens.empty() || tokens.front().starts_with('#')) {
                continue;
            }
            Statement statement(line, tokens);
            loader.Add(statement);
        }
        return {loader.Finish(), ""};
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

namespace {

// Quotes only when needed; a double quote cannot be written and becomes '.
std::string Value(std::string_view text) {
    std::string value(text);
    std::replace(value.begin(), value.end(), '"', '\'');
    const bool plain = !value.empty() && value.find(' ') == std::string::npos;
    return plain ? value : '"' + value + '"';
}

std::string Flag(bool set) {
    return set ? "yes" : "no";
}

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(uint64_t value) {
    std::string text;
    do {
        text.insert(text.begin(), kHexDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + text;
}

std::string IdText(const Identifier &id) {
    std::string text;
    for (uint8_t byte : id) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

std::string VersionText(const std::array<uint16_t, 4> &version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

class InventoryWriter {
  public:
    explicit InventoryWriter(const RaidModel &model) : model_(model) {}

    std::string Write() {
        const Inventory &inventory = model_.Contents();
        const ExecutorInfo &executor = inventory.executor;
        Line("executor version=" + Value(executor.version) +
             " ssi=" + std::to_string(executor.ssiMajor) + "." + std::to_string(executor.ssiMinor));
        Line("firmware capacity=" + std::to_string(inventory.firmwareCapacity));
        for (const FirmwareSlot &slot : inventory.slots) {
            const std::string content = slot.revision.empty()
                                            ? ""
                                            : " revision=" + Value(slot.revision) +
                                                  " image=" + std::to_string(slot.imageSize);
            Line("slot " + std::to_string(slot.number) + content);
        }
        for (const Controller &controller : inventory.controllers) {
            WriteController(controller);
        }
        for (const Drive &drive : inventory.drives) {
            WriteDrive(drive);
        }
        for (const Array &array : inventory.arrays) {
            WriteArray(array);
        }
        for (const Volume &volume : inventory.volumes) {
            WriteVolume(volume);
        }
        return text_;
    }

  private:
    void Line(const std::string &statement) { text_ += statement + "\n"; }

    std::string Define(const std::string &keyword, const Identifier &id) {
        const std::string label = keyword + std::to_string(defined_[keyword]++);
        labels_.emplace(id, label);
        return keyword + " " + label + " id=" + IdText(id);
    }

    std::string Label(const Identifier &id) const {
        const auto found = labels_.find(id);
        return found == labels_.end() ? std::string(kMissingMember) : found->second;
    }

    void WriteController(const Controller &controller) {
        std::string line = Define("controller", controller.id) +
                           " type=" + std::string(NameOf(kControllerTypes, controller.type));
        if (controller.type == ControllerType::Ahci) {
            line += " mode=" + std::string(NameOf(kControllerModes, controller.mode));
        }
        line += " name=" + Value(controller.name) + " vendor=" + Hex(controller.vendorId) +
                " device=" + Hex(controller.deviceId) +
                " subsystem=" + Hex(controller.subsystemId) +
                " revision=" + std::to_string(controller.hardwareRevision) +
                " driver=" + VersionText(controller.osDriverVersion);
        if (controller.preosDriverLoaded) {
            line += " preos-driver=" + VersionText(controller.preosDriverVersion);
        }
        line += " max-volumes-per-array=" + std::to_string(controller.maxVolumesPerArray) +
                " max-volumes=" + std::to_string(controller.maxVolumesPerController) +
                " max-drives=" + std::to_string(controller.maxDrivesPerController) +
                " rohi=" + Flag(controller.rohiEnabled) +
                " patrol=" + Flag(controller.readPatrolEnabled);
        Line(line);
    }

    void WriteDrive(const Drive &drive) {
        std::string line = Define("drive", drive.id) + " controller=" + Label(drive.controllerId) +
                           " type=" + std::string(NameOf(kDriveTypes, drive.type)) +
                           " size=" + std::to_string(drive.size) +
                           " serial=" + Value(drive.serial) + " model=" + Value(drive.model) +
                           " firmware=" + Value(drive.firmware) +
                           " block=" + std::to_string(drive.logicalBlockSize) +
                           " physical-block=" + std::to_string(drive.physicalBlockSize) +
                           " status=" + std::string(NameOf(kDriveStatuses, drive.status));
        if (const std::string_view usage = NameOf(kDriveUsages, drive.usage); !usage.empty()) {
            line += " usage=" + std::string(usage);
        }
        line += " led=" + Flag(drive.ledSupport) + " preboot=" + Flag(drive.prebootVisible) +
                " write-cache=" + Flag(drive.writeCache) +
                " link=" + std::to_string(drive.linkRate);
        if (drive.type == DriveType::Sata || drive.type == DriveType::SataOptical) {
            line += " port=" + std::to_string(drive.port);
        }
        if (drive.type == DriveType::Sata) {
            line += " ssd=" + Flag(drive.solidState) + " ncq=" + Flag(drive.ncq);
        }
        if (drive.type == DriveType::Vmd || drive.type == DriveType::NonVmd) {
            const uint8_t dual = drive.dualController ? drive.dualControllerOrder + 1 : 0;
            line += " vendor=" + Hex(drive.vendorId) + " pch=" + Flag(drive.attachedToPch) +
                    " dual=" + std::string(NameOf(kDualPorts, dual));
        }
        if (drive.type == DriveType::Vmd) {
            line += " socket=" + std::to_string(drive.socket) +
                    " vmd=" + std::to_string(drive.vmdController) +
                    " root-port=" + std::to_string(drive.rootPortOffset) +
                    " slot=" + std::to_string(drive.physicalSlot);
        }
        Line(line);
    }

    void WriteArray(const Array &array) {
        std::string drives;
        for (const Drive &drive : model_.Contents().drives) {
            if (drive.arrayId == array.id) {
                drives += (drives.empty() ? "" : ",") + Label(drive.id);
            }
        }
        Line(Define("array", array.id) + " name=" + Value(array.name) +
             " write-cache=" + Flag(array.writeCache) + " drives=" + drives);
    }

    void WriteVolume(const Volume &volume) {
        std::string drives;
        for (const Identifier &member : volume.members) {
            const bool present = model_.IsPresentMember(volume, member);
            drives += (drives.empty() ? "" : ",") +
                      (present ? Label(member) : std::string(kMissingMember));
        }
        std::string line =
            Define("volume", volume.id) + " array=" + Label(volume.arrayId) +
            " level=" + std::string(NameOf(kRaidLevels, volume.level)) + " drives=" + drives +
            " size=" + std::to_string(volume.size) +
            " strip=" + std::to_string(uint32_t{volume.stripCode} * 2) +
            " name=" + Value(volume.name) + " system=" + Flag(volume.systemVolume) +
            " initialized=" + Flag(volume.initialized) +
            " cache=" + std::string(NameOf(kCachePolicies, volume.cachePolicy)) +
            " write-hole=" + std::string(NameOf(kWriteHolePolicies, volume.writeHolePolicy));
        if (!IsZero(volume.journalingDrive)) {
            line += " journal=" + Label(volume.journalingDrive);
        }
        line += " verify-errors=" + std::to_string(volume.verifyErrors) +
                " bad-blocks=" + std::to_string(volume.verifyBadBlocks);
        Line(line);
    }

    const RaidModel &model_;
    std::map<Identifier, std::string> labels_;
    std::map<std::string, size_t> defined_;
    std::string text_;
};

} // namespace

std::string WriteInventory(const RaidModel &model) {
    return InventoryWriter(model).Write();
}

Inventory DefaultInventory() {
    return ParseInventory(kDefaultInventoryText).inventory.value();
}

} // namespace vuno::hostsim
