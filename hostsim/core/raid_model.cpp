#include "raid_model.hpp"

#include <algorithm>
#include <limits>

namespace vuno::hostsim {
namespace {

constexpr uint64_t kIdentifierSalt = 0x51D0'0000'0000'0000;
constexpr uint64_t kKiB = 1024;

uint64_t SplitMix(uint64_t &state) {
    state += 0x9E3779B97F4A7C15;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

template <typename Item> Item *FindById(std::vector<Item> &items, const Identifier &id) {
    if (IsZero(id)) {
        return nullptr;
    }
    const auto found =
        std::find_if(items.begin(), items.end(), [&id](const Item &item) { return item.id == id; });
    return found == items.end() ? nullptr : &*found;
}

template <typename Item>
void Collect(const std::vector<Item> &items, const std::set<Identifier> &wanted, bool all,
             std::vector<const Item *> &out) {
    for (const Item &item : items) {
        if (all || wanted.contains(item.id)) {
            out.push_back(&item);
        }
    }
}

bool Contains(const std::vector<Identifier> &ids, const Identifier &id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool Healthy(DriveStatus status) {
    return status == DriveStatus::Normal || status == DriveStatus::SmartEvent;
}

VolumeState JobState(JobKind kind) {
    switch (kind) {
    case JobKind::Initialize:
        return VolumeState::Initializing;
    case JobKind::Rebuild:
        return VolumeState::Rebuilding;
    case JobKind::Verify:
        return VolumeState::Verifying;
    case JobKind::VerifyAndFix:
        return VolumeState::VerifyingAndRepair;
    case JobKind::Migrate:
        return VolumeState::Migration;
    }
    return VolumeState::Unknown;
}

std::pair<EventType, EventType> JobEvents(JobKind kind) {
    switch (kind) {
    case JobKind::Initialize:
        return {EventType::VolumeInitializeStarted, EventType::VolumeInitializeCompleted};
    case JobKind::Rebuild:
        return {EventType::VolumeRebuildStarted, EventType::VolumeRebuildCompleted};
    case JobKind::Verify:
        return {EventType::VolumeVerifyStarted, EventType::VolumeVerifyCompleted};
    case JobKind::VerifyAndFix:
        return {EventType::VolumeVerifyAndFixStarted, EventType::VolumeVerifyAndFixCompleted};
    case JobKind::Migrate:
        break;
    }
    return {EventType::VolumeMigrateStarted, EventType::VolumeMigrateCompleted};
}

// Level changes the executor can carry out, with the fewest drives each
// needs beyond the volume's own; the controller's limits may ask for more.
struct Migration {
    RaidLevel from;
    RaidLevel to;
    uint8_t fewestAdded;
};
constexpr Migration kMigrations[] = {
    {RaidLevel::Raid0, RaidLevel::Raid5, 1},  {RaidLevel::Raid0, RaidLevel::Raid10, 0},
    {RaidLevel::Raid1, RaidLevel::Raid0, 0},  {RaidLevel::Raid1, RaidLevel::Raid5, 1},
    {RaidLevel::Raid1, RaidLevel::Raid10, 0}, {RaidLevel::Raid10, RaidLevel::Raid5, 0},
};

} // namespace

Identifier MakeIdentifier(uint64_t seed) {
    Identifier id{};
    uint64_t state = seed;
    for (size_t half = 0; half < 2; ++half) {
        const uint64_t value = SplitMix(state);
        for (size_t i = 0; i < 8; ++i) {
            id[half * 8 + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    return id;
}

bool IsEventType(uint8_t code) {
    return code <= static_cast<uint8_t>(EventType::DriveFailed) ||
           (code >= static_cast<uint8_t>(EventType::VolumeAdded) &&
            code <= static_cast<uint8_t>(EventType::VolumeRemoved));
}

std::vector<RaidCapability> RaidCapabilities(const Controller &controller) {
    const bool raid =
        controller.type == ControllerType::Vmd ||
        (controller.type == ControllerType::Ahci && controller.mode == ControllerMode::Raid);
    if (!raid) {
        return {};
    }
    const auto most = std::min<uint16_t>(controller.maxDrivesPerController, 32);
    const RaidCapability all[] = {
        {RaidLevel::Raid0, 2, most, true, true, 64, 0x007E},
        {RaidLevel::Raid1, 2, 2, true, false, 32, 0x0020},
        {RaidLevel::Raid10, 4, 4, true, false, 32, 0x007E},
        {RaidLevel::Raid5, 3, most, true, true, 32, 0x0078},
    };
    std::vector<RaidCapability> supported;
    for (const RaidCapability &capability : all) {
        if (capability.minDrives <= capability.maxDrives) {
            supported.push_back(capability);
        }
    }
    return supported;
}

std::optional<RaidCapability> CapabilityFor(const Controller &controller, RaidLevel level) {
    for (const RaidCapability &capability : RaidCapabilities(controller)) {
        if (capability.level == level) {
            return capability;
        }
    }
    return std::nullopt;
}

bool StripSupported(const RaidCapability &capability, uint16_t stripCode) {
    const bool singleBit = stripCode != 0 && (stripCode & (stripCode - 1)) == 0;
    return singleBit && (capability.stripMask & stripCode) != 0;
}

bool DriveCountFits(const RaidCapability &capability, size_t count) {
    if (count < capability.minDrives || count > capability.maxDrives) {
        return false;
    }
    return count % 2 == 0 ? capability.evenCount : capability.oddCount;
}

uint64_t DataDrives(RaidLevel level, size_t members) {
    switch (level) {
    case RaidLevel::Raid0:
        return members;
    case RaidLevel::Raid1:
        return members == 0 ? 0 : 1;
    case RaidLevel::Raid10:
        return members / 2;
    case RaidLevel::Raid5:
        return members == 0 ? 0 : members - 1;
    case RaidLevel::Unknown:
        break;
    }
    return 0;
}

uint64_t ExtentFor(uint64_t size, RaidLevel level, size_t members, uint16_t stripCode) {
    const uint64_t dataDrives = DataDrives(level, members);
    const uint64_t strip = stripCode * 2 * kKiB;
    if (dataDrives == 0 || strip == 0) {
        return std::numeric_limits<uint64_t>::max();
    }
    const uint64_t perDrive = size / dataDrives + (size % dataDrives != 0 ? 1 : 0);
    const uint64_t partial = perDrive % strip;
    if (partial == 0) {
        return perDrive;
    }
    if (perDrive > std::numeric_limits<uint64_t>::max() - strip) {
        return std::numeric_limits<uint64_t>::max();
    }
    return perDrive + (strip - partial);
}

VolumeState HealthOf(RaidLevel level, const std::vector<bool> &present) {
    const auto missing = static_cast<size_t>(std::count(present.begin(), present.end(), false));
    if (missing == 0) {
        return VolumeState::Normal;
    }
    switch (level) {
    case RaidLevel::Raid1:
    case RaidLevel::Raid5:
        return missing == 1 ? VolumeState::Degraded : VolumeState::Failed;
    case RaidLevel::Raid10:
        // Mirrored pairs: the volume survives while each pair keeps one.
        for (size_t i = 0; i + 1 < present.size(); i += 2) {
            if (!present[i] && !present[i + 1]) {
                return VolumeState::Failed;
            }
        }
        return VolumeState::Degraded;
    case RaidLevel::Raid0:
    case RaidLevel::Unknown:
        break;
    }
    return VolumeState::Failed;
}

bool ValidVolumeName(std::string_view name) {
    if (name.empty() || name.size() > 16 || name.front() == ' ') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        return letter || digit || c == ' ' || c == '_' || c == '-' || c == '.';
    });
}

// --- Batch -----------------------------------------------------------------

RaidModel::Batch::Batch(RaidModel &model) : model_(model) {
    ++model_.batchDepth_;
}

RaidModel::Batch::~Batch() {
    if (--model_.batchDepth_ == 0) {
        model_.AnnounceQueued();
    }
}

void RaidModel::AnnounceQueued() {
    const std::set<Identifier> queued = std::exchange(queuedFor_, {});
    for (const Identifier &subscription : queued) {
        if (eventsQueued_ && HasSubscription(subscription)) {
            eventsQueued_(subscription);
        }
    }
}

// --- Construction and look-ups ---------------------------------------------

RaidModel::RaidModel(const Clock &clock, Inventory inventory, JobDurations durations)
    : clock_(clock), inventory_(std::move(inventory)), durations_(durations) {}

void RaidModel::Replace(Inventory inventory) {
    inventory_ = std::move(inventory);
    removed_.clear();
}

const Controller *RaidModel::FindController(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableController(id);
}
const Drive *RaidModel::FindDrive(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableDrive(id);
}
const Array *RaidModel::FindArray(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableArray(id);
}
const Volume *RaidModel::FindVolume(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableVolume(id);
}
Controller *RaidModel::MutableController(const Identifier &id) {
    return FindById(inventory_.controllers, id);
}
Drive *RaidModel::MutableDrive(const Identifier &id) {
    return FindById(inventory_.drives, id);
}
Array *RaidModel::MutableArray(const Identifier &id) {
    return FindById(inventory_.arrays, id);
}
Volume *RaidModel::MutableVolume(const Identifier &id) {
    return FindById(inventory_.volumes, id);
}

const Controller *RaidModel::ControllerOf(const Volume &volume) const {
    const Array *array = FindArray(volume.arrayId);
    return array == nullptr ? nullptr : FindController(array->controllerId);
}

Identifier RaidModel::NewIdentifier() {
    for (;;) {
        const Identifier id = MakeIdentifier(kIdentifierSalt ^ nextSerial_++);
        const bool removed = std::any_of(removed_.begin(), removed_.end(),
                                         [&id](const Drive &drive) { return drive.id == id; });
        if (!IsZero(id) && !removed && FindController(id) == nullptr && FindDrive(id) == nullptr &&
            FindArray(id) == nullptr && FindVolume(id) == nullptr && !HasSubscription(id)) {
            return id;
        }
    }
}

bool RaidModel::IsPresentMember(const Volume &volume, const Identifier &id) const {
    const Drive *drive = FindDrive(id);
    return drive != nullptr && Healthy(drive->status) && drive->usage == DriveUsage::ArrayMember &&
           drive->arrayId == volume.arrayId && Contains(volume.members, id);
}

size_t RaidModel::MissingMembers(const Volume &volume) const {
    return static_cast<size_t>(
        std::count_if(volume.members.begin(), volume.members.end(),
                      [&](const Identifier &id) { return !IsPresentMember(volume, id); }));
}

VolumeState RaidModel::Health(const Volume &volume) const {
    std::vector<bool> present;
    for (const Identifier &member : volume.members) {
        present.push_back(IsPresentMember(volume, member));
    }
    return HealthOf(volume.level, present);
}

// --- Scopes and derived values ---------------------------------------------

SsiStatus RaidModel::Select(const Scope &scope, Selection &out) const {
    out = {};
    std::set<Identifier> controllers;
    std::set<Identifier> drives;
    std::set<Identifier> arrays;
    std::set<Identifier> volumes;
    const auto addVolume = [&](const Volume &volume) {
        volumes.insert(volume.id);
        for (const Identifier &member : volume.members) {
            if (IsPresentMember(volume, member)) {
                drives.insert(member);
            }
        }
        if (!IsZero(volume.journalingDrive)) {
            drives.insert(volume.journalingDrive);
        }
    };
    switch (scope.type) {
    case ScopeType::Global:
        break;
    case ScopeType::Controller: {
        if (FindController(scope.id) == nullptr) {
            return SsiStatus::InvalidController;
        }
        controllers.insert(scope.id);
        for (const Drive &drive : inventory_.drives) {
            if (drive.controllerId == scope.id) {
                drives.insert(drive.id);
            }
        }
        for (const Array &array : inventory_.arrays) {
            if (array.controllerId == scope.id) {
                arrays.insert(array.id);
            }
        }
        for (const Volume &volume : inventory_.volumes) {
            if (arrays.contains(volume.arrayId)) {
                volumes.insert(volume.id);
            }
        }
        break;
    }
    case ScopeType::Array: {
        const Array *array = FindArray(scope.id);
        if (array == nullptr) {
            return SsiStatus::InvalidArray;
        }
        arrays.insert(array->id);
        controllers.insert(array->controllerId);
        for (const Drive &drive : inventory_.drives) {
            if (drive.arrayId == array->id) {
                drives.insert(drive.id);
            }
        }
        for (const Volume &volume : inventory_.volumes) {
            if (volume.arrayId == array->id) {
                volumes.insert(volume.id);
            }
        }
        break;
    }
    case ScopeType::Volume: {
        const Volume *volume = FindVolume(scope.id);
        if (volume == nullptr) {
            return SsiStatus::InvalidVolume;
        }
        addVolume(*volume);
        arrays.insert(volume->arrayId);
        if (const Controller *controller = ControllerOf(*volume)) {
            controllers.insert(controller->id);
        }
        break;
    }
    case ScopeType::Drive: {
        const Drive *drive = FindDrive(scope.id);
        if (drive == nullptr) {
            return SsiStatus::InvalidDrive;
        }
        drives.insert(drive->id);
        controllers.insert(drive->controllerId);
        arrays.insert(drive->arrayId);
        for (const Volume &volume : inventory_.volumes) {
            if (IsPresentMember(volume, drive->id) || volume.journalingDrive == drive->id) {
                volumes.insert(volume.id);
            }
        }
        break;
    }
    default:
        return SsiStatus::InvalidScope;
    }
    const bool all = scope.type == ScopeType::Global;
    Collect(inventory_.controllers, controllers, all, out.controllers);
    Collect(inventory_.drives, drives, all, out.drives);
    Collect(inventory_.arrays, arrays, all, out.arrays);
    Collect(inventory_.volumes, volumes, all, out.volumes);
    return SsiStatus::Success;
}

SsiStatus RaidModel::ControllerCapabilities(const Identifier &controller,
                                            std::vector<RaidCapability> &out) const {
    const Controller *found = FindController(controller);
    if (found == nullptr) {
        return SsiStatus::InvalidController;
    }
    out = RaidCapabilities(*found);
    return SsiStatus::Success;
}

SsiStatus RaidModel::MigrationCapabilities(const Identifier &volume,
                                           std::vector<MigrationCapability> &out) const {
    const Volume *found = FindVolume(volume);
    if (found == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    out = MigrationTargets(*found);
    return SsiStatus::Success;
}

std::vector<MigrationCapability> RaidModel::MigrationTargets(const Volume &volume) const {
    std::vector<MigrationCapability> targets;
    const Controller *controller = ControllerOf(volume);
    if (controller == nullptr) {
        return targets;
    }
    const size_t members = volume.members.size();
    for (const Migration &migration : kMigrations) {
        const auto capability = CapabilityFor(*controller, migration.to);
        if (migration.from != volume.level || !capability) {
            continue;
        }
        for (size_t added = migration.fewestAdded; members + added <= capability->maxDrives;
             ++added) {
            if (DriveCountFits(*capability, members + added)) {
                targets.push_back({migration.to, static_cast<uint8_t>(added)});
                break;
            }
        }
    }
    return targets;
}

uint8_t RaidModel::ArrayOrdinal(const Volume &volume) const {
    uint8_t ordinal = 0;
    for (const Volume &other : inventory_.volumes) {
        if (other.id == volume.id) {
            break;
        }
        ordinal += other.arrayId == volume.arrayId ? 1 : 0;
    }
    return ordinal;
}

uint64_t RaidModel::TotalSize(const Array &array) const {
    uint64_t total = 0;
    for (const Drive &drive : inventory_.drives) {
        total += drive.arrayId == array.id ? drive.size : 0;
    }
    return total;
}

uint64_t RaidModel::FreeSize(const Array &array) const {
    uint64_t free = 0;
    for (const Drive &drive : inventory_.drives) {
        free += drive.arrayId == array.id ? FreeSize(drive) : 0;
    }
    return free;
}

uint64_t RaidModel::FreeSize(const Drive &drive) const {
    uint64_t used = 0;
    for (const Volume &volume : inventory_.volumes) {
        used += IsPresentMember(volume, drive.id) ? volume.extent : 0;
    }
    return used >= drive.size ? 0 : drive.size - used;
}

bool RaidModel::IsSystemDrive(const Drive &drive) const {
    return std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                       [&](const Volume &volume) {
                           return volume.systemVolume && IsPresentMember(volume, drive.id);
                       });
}

uint32_t RaidModel::LogicalBlockSize(const Volume &volume) const {
    for (const Identifier &member : volume.members) {
        if (const Drive *drive = FindDrive(member)) {
            return drive->logicalBlockSize;
        }
    }
    return 512;
}

uint16_t RaidModel::MigrationProgress(const Volume &volume) const {
    if (!volume.job || volume.job->kind != JobKind::Migrate) {
        return 0;
    }
    const auto total = (volume.job->end - volume.job->start).count();
    const auto done = (clock_.Now() - volume.job->start).count();
    if (total <= 0 || done >= total) {
        return 0xFFFF;
    }
    return static_cast<uint16_t>(std::max<int64_t>(done, 0) * 0xFFFF / total);
}

// --- Drives ----------------------------------------------------------------

SsiStatus RaidModel::ClearMetadata(const Identifier &id) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || !Healthy(drive->status) || drive->usage == DriveUsage::ArrayMember ||
        drive->usage == DriveUsage::Journaling) {
        return SsiStatus::InvalidDrive;
    }
    drive->usage = DriveUsage::PassThrough;
    return SsiStatus::Success;
}

SsiStatus RaidModel::MarkSpare(const Identifier &id) {
    const Batch batch(*this);
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || drive->status != DriveStatus::Normal ||
        drive->usage != DriveUsage::PassThrough || drive->type == DriveType::SataOptical) {
        return SsiStatus::InvalidDrive;
    }
    const Controller *controller = FindController(drive->controllerId);
    if (controller == nullptr || RaidCapabilities(*controller).empty()) {
        return SsiStatus::InvalidDrive;
    }
    drive->usage = DriveUsage::Spare;
    RebuildDegradedFromSpares();
    return SsiStatus::Success;
}

SsiStatus RaidModel::UnmarkSpare(const Identifier &id) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || drive->usage != DriveUsage::Spare) {
        return SsiStatus::InvalidDrive;
    }
    drive->usage = DriveUsage::PassThrough;
    return SsiStatus::Success;
}

SsiStatus RaidModel::MarkDriveNormal(const Identifier &id) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr ||
        (drive->status != DriveStatus::Failed && drive->status != DriveStatus::Offline)) {
        return SsiStatus::InvalidDrive;
    }
    drive->status = DriveStatus::Normal;
    // A drive that some volume still counts on keeps that volume's metadata.
    const bool remembered =
        std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                    [&id](const Volume &volume) { return Contains(volume.members, id); });
    if (drive->usage == DriveUsage::Unknown || remembered) {
        drive->usage = remembered ? DriveUsage::OfflineArrayMember : DriveUsage::PassThrough;
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetDriveWriteCache(const Identifier &id, bool enable) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || !Healthy(drive->status)) {
        return SsiStatus::InvalidDrive;
    }
    drive->writeCache = enable;
    return SsiStatus::Success;
}

SsiStatus RaidModel::ResetSmartEvent(const Identifier &id) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || drive->status != DriveStatus::SmartEvent) {
        return SsiStatus::InvalidDrive;
    }
    drive->status = DriveStatus::Normal;
    return SsiStatus::Success;
}

SsiStatus RaidModel::ActivateLed(const Identifier &id) {
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || !drive->ledSupport) {
        return SsiStatus::InvalidDrive;
    }
    drive->ledOffAt = clock_.Now() + kLedBlinkTime;
    return SsiStatus::Success;
}

SsiStatus RaidModel::RemoveDrive(const Identifier &id) {
    const Batch batch(*this);
    const auto found = std::find_if(inventory_.drives.begin(), inventory_.drives.end(),
                                    [&id](const Drive &drive) { return drive.id == id; });
    if (IsZero(id) || found == inventory_.drives.end()) {
        return SsiStatus::InvalidDrive;
    }
    RaiseEvent(EventType::DriveRemoved, id);
    removed_.push_back(*found);
    inventory_.drives.erase(found);
    AfterDriveLost(id);
    return SsiStatus::Success;
}

SsiStatus RaidModel::FailDrive(const Identifier &id) {
    const Batch batch(*this);
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || drive->status == DriveStatus::Failed) {
        return SsiStatus::InvalidDrive;
    }
    RaiseEvent(EventType::DriveFailed, id);
    drive->status = DriveStatus::Failed;
    drive->usage = DriveUsage::Unknown;
    drive->arrayId = kNoIdentifier;
    AfterDriveLost(id);
    return SsiStatus::Success;
}

SsiStatus RaidModel::ReinsertDrive(const Identifier &id) {
    const Batch batch(*this);
    const auto found = std::find_if(removed_.begin(), removed_.end(),
                                    [&id](const Drive &drive) { return drive.id == id; });
    if (found == removed_.end()) {
        return SsiStatus::InvalidDrive;
    }
    Drive drive = *found;
    removed_.erase(found);
    if (!IsZero(drive.arrayId) || drive.usage == DriveUsage::Journaling) {
        drive.usage = DriveUsage::OfflineArrayMember;
    }
    drive.arrayId = kNoIdentifier;
    drive.ledOffAt = Duration{0};
    inventory_.drives.push_back(drive);
    RaiseEvent(EventType::DriveInserted, id);
    RebuildDegradedFromSpares();
    return SsiStatus::Success;
}

void RaidModel::AfterDriveLost(const Identifier &id) {
    for (Volume &volume : inventory_.volumes) {
        if (volume.journalingDrive == id) {
            volume.journalingDrive = kNoIdentifier;
            volume.writeHolePolicy = WriteHolePolicy::Off;
        }
        if (Contains(volume.members, id)) {
            UpdateHealth(volume);
        }
    }
}

// --- Health, rebuilds and long operations ----------------------------------

void RaidModel::UpdateHealth(Volume &volume) {
    const VolumeState health = Health(volume);
    if (volume.state == VolumeState::Failed || health == VolumeState::Normal) {
        return;
    }
    if (health == VolumeState::Failed) {
        volume.job.reset();
        volume.state = VolumeState::Failed;
        RaiseEvent(EventType::VolumeFailed, volume.id);
        return;
    }
    if (volume.state == VolumeState::Degraded) {
        return;
    }
    volume.job.reset();
    volume.state = VolumeState::Degraded;
    RaiseEvent(EventType::VolumeDegraded, volume.id);
    RebuildFromSpares(volume);
}

void RaidModel::RebuildDegradedFromSpares() {
    for (Volume &volume : inventory_.volumes) {
        RebuildFromSpares(volume);
    }
}

void RaidModel::RebuildFromSpares(Volume &volume) {
    const Controller *controller = ControllerOf(volume);
    if (volume.state != VolumeState::Degraded || controller == nullptr) {
        return;
    }
    const size_t missing = MissingMembers(volume);
    std::vector<Identifier> spares;
    for (const Drive &drive : inventory_.drives) {
        if (spares.size() < missing && drive.usage == DriveUsage::Spare &&
            drive.status == DriveStatus::Normal && drive.controllerId == controller->id &&
            drive.logicalBlockSize == LogicalBlockSize(volume) && drive.size >= volume.extent) {
            spares.push_back(drive.id);
        }
    }
    if (spares.size() == missing) {
        StartRebuild(volume, spares);
    }
}

void RaidModel::StartRebuild(Volume &volume, const std::vector<Identifier> &drives) {
    auto next = drives.begin();
    for (Identifier &member : volume.members) {
        if (next != drives.end() && !IsPresentMember(volume, member)) {
            member = *next++;
            JoinArray(*MutableDrive(member), volume.arrayId);
        }
    }
    StartJob(volume, JobKind::Rebuild);
}

void RaidModel::StartJob(Volume &volume, JobKind kind) {
    Duration length{0};
    switch (kind) {
    case JobKind::Initialize:
        length = durations_.initialize;
        break;
    case JobKind::Rebuild:
        length = durations_.rebuild;
        break;
    case JobKind::Verify:
    case JobKind::VerifyAndFix:
        length = durations_.verify;
        break;
    case JobKind::Migrate:
        length = durations_.migrate;
        break;
    }
    volume.job = Job{kind, clock_.Now(), clock_.Now() + length};
    volume.state = JobState(kind);
    RaiseEvent(JobEvents(kind).first, volume.id);
    if (length <= Duration{0}) {
        FinishJob(volume);
    }
}

void RaidModel::FinishJob(Volume &volume) {
    const JobKind kind = volume.job->kind;
    volume.job.reset();
    volume.state = VolumeState::Normal;
    if (kind == JobKind::Initialize) {
        volume.initialized = true;
    }
    if (kind == JobKind::Verify || kind == JobKind::VerifyAndFix) {
        volume.verifyErrors = 0;
        volume.verifyBadBlocks = 0;
    }
    RaiseEvent(JobEvents(kind).second, volume.id);
}

std::optional<Duration> RaidModel::NextDeadline() const {
    std::optional<Duration> next;
    for (const Volume &volume : inventory_.volumes) {
        if (volume.job && (!next || volume.job->end < *next)) {
            next = volume.job->end;
        }
    }
    return next;
}

void RaidModel::OnTime() {
    const Batch batch(*this);
    for (Volume &volume : inventory_.volumes) {
        if (volume.job && volume.job->end <= clock_.Now()) {
            FinishJob(volume);
        }
    }
}

// --- Volumes ---------------------------------------------------------------

SsiStatus RaidModel::CheckMembersForCreate(const NewVolume &request, const Controller *&controller,
                                           Identifier &arrayId) const {
    if (request.members.empty()) {
        return SsiStatus::InvalidNumberOfDrives;
    }
    const Drive *first = FindDrive(request.members.front());
    controller = first == nullptr ? nullptr : FindController(first->controllerId);
    if (controller == nullptr) {
        return SsiStatus::InvalidMemberDrive;
    }
    // Either every member is free, and the volume gets a new array, or all
    // are in one array that takes another volume.
    arrayId = first->usage == DriveUsage::ArrayMember ? first->arrayId : kNoIdentifier;
    std::set<Identifier> seen;
    for (const Identifier &id : request.members) {
        const Drive *drive = FindDrive(id);
        if (drive == nullptr || !seen.insert(id).second || drive->status != DriveStatus::Normal ||
            drive->controllerId != controller->id || drive->type == DriveType::SataOptical) {
            return SsiStatus::InvalidMemberDrive;
        }
        const bool usable =
            IsZero(arrayId) ? drive->usage == DriveUsage::PassThrough
                            : drive->usage == DriveUsage::ArrayMember && drive->arrayId == arrayId;
        if (!usable) {
            return SsiStatus::InvalidMemberDrive;
        }
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::CheckWriteHole(const Volume *volume, RaidLevel level,
                                    const Controller &controller, WriteHolePolicy policy,
                                    const Identifier &journalingDrive,
                                    const std::vector<Identifier> &members) const {
    if (!IsZero(journalingDrive) && policy != WriteHolePolicy::JournalingDrive) {
        return SsiStatus::InconsistentRAIDWriteHolePolicy;
    }
    if (policy != WriteHolePolicy::Off && level != RaidLevel::Raid5) {
        return SsiStatus::InvalidRAIDWriteHolePolicy;
    }
    if (policy != WriteHolePolicy::JournalingDrive) {
        return SsiStatus::Success;
    }
    const Drive *drive = FindDrive(journalingDrive);
    const bool ours = volume != nullptr && volume->journalingDrive == journalingDrive;
    if (drive == nullptr || drive->status != DriveStatus::Normal ||
        drive->controllerId != controller.id || Contains(members, journalingDrive) ||
        (drive->usage != DriveUsage::PassThrough && !ours)) {
        return SsiStatus::InvalidJournalingDrive;
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::CheckVolumeLimits(const Controller &controller,
                                       const Identifier &arrayId) const {
    size_t onController = 0;
    size_t inArray = 0;
    for (const Volume &volume : inventory_.volumes) {
        const Controller *owner = ControllerOf(volume);
        onController += owner != nullptr && owner->id == controller.id ? 1 : 0;
        inArray += !IsZero(arrayId) && volume.arrayId == arrayId ? 1 : 0;
    }
    if (onController >= controller.maxVolumesPerController ||
        inArray >= controller.maxVolumesPerArray) {
        return SsiStatus::InvalidMemberDrive;
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::CheckNewDrives(const Array &array, const Volume *volume,
                                    const std::vector<Identifier> &drives, uint32_t blockSize,
                                    bool sparesToo) const {
    std::set<Identifier> seen;
    for (const Identifier &id : drives) {
        const Drive *drive = FindDrive(id);
        if (drive == nullptr || !seen.insert(id).second || drive->status != DriveStatus::Normal ||
            drive->controllerId != array.controllerId || drive->type == DriveType::SataOptical) {
            return SsiStatus::InvalidMemberDrive;
        }
        const bool free = drive->usage == DriveUsage::PassThrough ||
                          (sparesToo && drive->usage == DriveUsage::Spare);
        const bool unusedInArray = volume != nullptr && drive->usage == DriveUsage::ArrayMember &&
                                   drive->arrayId == array.id && !Contains(volume->members, id);
        if (!free && !unusedInArray) {
            return SsiStatus::InvalidMemberDrive;
        }
        if (drive->logicalBlockSize != blockSize) {
            return SsiStatus::LogicalBlockSizeMismatch;
        }
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::CheckExtentFits(const Volume &volume, const std::vector<Identifier> &newDrives,
                                     uint64_t newExtent) const {
    for (const Identifier &member : volume.members) {
        const Drive *drive = FindDrive(member);
        if (IsPresentMember(volume, member) && FreeSize(*drive) + volume.extent < newExtent) {
            return SsiStatus::DriveTooSmall;
        }
    }
    for (const Identifier &id : newDrives) {
        if (FreeSize(*FindDrive(id)) < newExtent) {
            return SsiStatus::DriveTooSmall;
        }
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::CheckName(const std::string &name, const Identifier &renamed) const {
    if (!ValidVolumeName(name)) {
        return SsiStatus::InvalidVolumeName;
    }
    const bool taken =
        std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                    [&](const Volume &other) { return other.name == name && other.id != renamed; });
    return taken ? SsiStatus::InvalidVolumeName : SsiStatus::Success;
}

SsiStatus RaidModel::CreateVolume(const NewVolume &request, Identifier &created) {
    const Batch batch(*this);
    const Controller *controller = nullptr;
    Identifier arrayId{};
    if (const SsiStatus status = CheckMembersForCreate(request, controller, arrayId);
        status != SsiStatus::Success) {
        return status;
    }
    const auto capability = CapabilityFor(*controller, request.level);
    if (!capability) {
        return SsiStatus::UnsupportedRaidLevel;
    }
    if (!DriveCountFits(*capability, request.members.size())) {
        return SsiStatus::InvalidNumberOfDrives;
    }
    const uint32_t blockSize = FindDrive(request.members.front())->logicalBlockSize;
    for (const Identifier &id : request.members) {
        if (FindDrive(id)->logicalBlockSize != blockSize) {
            return SsiStatus::LogicalBlockSizeMismatch;
        }
    }
    if (!StripSupported(*capability, request.stripCode)) {
        return SsiStatus::InvalidStripSize;
    }
    if (const SsiStatus status = CheckName(request.name, kNoIdentifier);
        status != SsiStatus::Success) {
        return status;
    }
    if (const SsiStatus status =
            CheckWriteHole(nullptr, request.level, *controller, request.writeHolePolicy,
                           request.journalingDrive, request.members);
        status != SsiStatus::Success) {
        return status;
    }
    const bool existingDataFits = request.existingData
                                      ? Contains(request.members, request.existingDataDrive)
                                      : IsZero(request.existingDataDrive);
    if (!existingDataFits) {
        return SsiStatus::InvalidExistingDataDrive;
    }
    if (const SsiStatus status = CheckVolumeLimits(*controller, arrayId);
        status != SsiStatus::Success) {
        return status;
    }
    if (request.size % blockSize != 0) {
        return SsiStatus::InvalidSize;
    }
    uint64_t smallestFree = std::numeric_limits<uint64_t>::max();
    for (const Identifier &id : request.members) {
        smallestFree = std::min(smallestFree, FreeSize(*FindDrive(id)));
    }
    const uint64_t strip = uint64_t{request.stripCode} * 2 * kKiB;
    const uint64_t dataDrives = DataDrives(request.level, request.members.size());
    uint64_t size = request.size;
    uint64_t extent = 0;
    if (size == 0) {
        extent = smallestFree - smallestFree % strip;
        size = extent * dataDrives;
    } else {
        extent = ExtentFor(size, request.level, request.members.size(), request.stripCode);
    }
    if (extent == 0 || extent > smallestFree) {
        return SsiStatus::DriveTooSmall;
    }

    if (IsZero(arrayId)) {
        arrayId = CreateArray(*controller);
    }
    for (const Identifier &id : request.members) {
        JoinArray(*MutableDrive(id), arrayId);
    }
    if (request.writeHolePolicy == WriteHolePolicy::JournalingDrive) {
        MutableDrive(request.journalingDrive)->usage = DriveUsage::Journaling;
    }
    Volume volume;
    volume.id = NewIdentifier();
    volume.arrayId = arrayId;
    volume.name = request.name;
    volume.level = request.level;
    volume.size = size;
    volume.extent = extent;
    volume.stripCode = request.stripCode;
    volume.members = request.members;
    // Mirrors and parity start uninitialised unless they take over data.
    volume.initialized = request.level == RaidLevel::Raid0 || request.existingData;
    volume.writeHolePolicy = request.writeHolePolicy;
    volume.journalingDrive = request.journalingDrive;
    inventory_.volumes.push_back(volume);
    created = volume.id;
    RaiseEvent(EventType::VolumeAdded, volume.id);
    if (request.existingData) {
        StartJob(inventory_.volumes.back(), JobKind::Migrate);
    }
    return SsiStatus::Success;
}

Identifier RaidModel::CreateArray(const Controller &controller) {
    std::set<std::string> names;
    for (const Array &array : inventory_.arrays) {
        names.insert(array.name);
    }
    std::string name;
    for (size_t number = 0; name.empty() || names.contains(name); ++number) {
        name = "Array" + std::to_string(number);
    }
    Array array;
    array.id = NewIdentifier();
    array.controllerId = controller.id;
    array.name = name;
    inventory_.arrays.push_back(array);
    return array.id;
}

void RaidModel::JoinArray(Drive &drive, const Identifier &arrayId) {
    drive.arrayId = arrayId;
    drive.usage = DriveUsage::ArrayMember;
}

SsiStatus RaidModel::RebuildVolume(const Identifier &id, const std::vector<Identifier> &drives) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    const Array *array = FindArray(volume->arrayId);
    if (volume->state != VolumeState::Degraded || array == nullptr) {
        return SsiStatus::InvalidVolumeState;
    }
    if (drives.size() != MissingMembers(*volume)) {
        return SsiStatus::InvalidNumberOfDrives;
    }
    if (const SsiStatus status =
            CheckNewDrives(*array, volume, drives, LogicalBlockSize(*volume), true);
        status != SsiStatus::Success) {
        return status;
    }
    for (const Identifier &drive : drives) {
        if (FreeSize(*FindDrive(drive)) < volume->extent) {
            return SsiStatus::DriveTooSmall;
        }
    }
    StartRebuild(*volume, drives);
    return SsiStatus::Success;
}

SsiStatus RaidModel::ExpandVolume(const Identifier &id, uint64_t newSize) {
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (volume->state != VolumeState::Normal) {
        return SsiStatus::InvalidVolumeState;
    }
    if (newSize <= volume->size || newSize % LogicalBlockSize(*volume) != 0) {
        return SsiStatus::InvalidSize;
    }
    const uint64_t extent =
        ExtentFor(newSize, volume->level, volume->members.size(), volume->stripCode);
    if (const SsiStatus status = CheckExtentFits(*volume, {}, extent);
        status != SsiStatus::Success) {
        return status;
    }
    volume->size = newSize;
    volume->extent = std::max(volume->extent, extent);
    return SsiStatus::Success;
}

SsiStatus RaidModel::ChangeRaidLevel(const Identifier &id, RaidLevel level, uint16_t stripCode,
                                     const std::vector<Identifier> &drives) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    const Controller *controller = ControllerOf(*volume);
    const Array *array = FindArray(volume->arrayId);
    if (volume->state != VolumeState::Normal || controller == nullptr || array == nullptr) {
        return SsiStatus::InvalidVolumeState;
    }
    const auto targets = MigrationTargets(*volume);
    const auto target = std::find_if(targets.begin(), targets.end(),
                                     [level](const auto &t) { return t.target == level; });
    if (target == targets.end()) {
        return SsiStatus::UnsupportedRaidLevel;
    }
    const auto capability = CapabilityFor(*controller, level);
    if (!StripSupported(*capability, stripCode)) {
        return SsiStatus::InvalidStripSize;
    }
    const size_t total = volume->members.size() + drives.size();
    if (drives.size() < target->minAdditionalDrives || !DriveCountFits(*capability, total)) {
        return SsiStatus::InvalidNumberOfDrives;
    }
    if (const SsiStatus status =
            CheckNewDrives(*array, volume, drives, LogicalBlockSize(*volume), false);
        status != SsiStatus::Success) {
        return status;
    }
    const uint64_t extent = ExtentFor(volume->size, level, total, stripCode);
    if (const SsiStatus status = CheckExtentFits(*volume, drives, extent);
        status != SsiStatus::Success) {
        return status;
    }
    for (const Identifier &drive : drives) {
        JoinArray(*MutableDrive(drive), volume->arrayId);
        volume->members.push_back(drive);
    }
    volume->level = level;
    volume->stripCode = stripCode;
    volume->extent = extent;
    if (level != RaidLevel::Raid5) {
        ReleaseJournalingDrive(*volume);
        volume->writeHolePolicy = WriteHolePolicy::Off;
    }
    StartJob(*volume, JobKind::Migrate);
    return SsiStatus::Success;
}

SsiStatus RaidModel::RenameVolume(const Identifier &id, const std::string &name) {
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (const SsiStatus status = CheckName(name, id); status != SsiStatus::Success) {
        return status;
    }
    volume->name = name;
    return SsiStatus::Success;
}

SsiStatus RaidModel::MarkVolumeNormal(const Identifier &id) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (volume->state != VolumeState::Failed) {
        return SsiStatus::InvalidVolumeState;
    }
    // Members that came back still carry this volume's metadata and may
    // take their places again; the volume must be usable with them.
    std::vector<Drive *> returning;
    for (const Identifier &member : volume->members) {
        Drive *drive = MutableDrive(member);
        if (drive != nullptr && drive->status == DriveStatus::Normal &&
            drive->usage == DriveUsage::OfflineArrayMember) {
            returning.push_back(drive);
        }
    }
    for (Drive *drive : returning) {
        JoinArray(*drive, volume->arrayId);
    }
    const VolumeState health = Health(*volume);
    if (health == VolumeState::Failed) {
        for (Drive *drive : returning) {
            drive->arrayId = kNoIdentifier;
            drive->usage = DriveUsage::OfflineArrayMember;
        }
        return SsiStatus::InvalidVolumeState;
    }
    volume->state = health;
    RebuildFromSpares(*volume);
    return SsiStatus::Success;
}

SsiStatus RaidModel::VerifyVolume(const Identifier &id, bool repair) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (volume->level == RaidLevel::Raid0) {
        return SsiStatus::UnsupportedRaidLevel;
    }
    if (volume->state != VolumeState::Normal) {
        return SsiStatus::InvalidVolumeState;
    }
    StartJob(*volume, repair ? JobKind::VerifyAndFix : JobKind::Verify);
    return SsiStatus::Success;
}

SsiStatus RaidModel::CancelVerification(const Identifier &id) {
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (volume->state != VolumeState::Verifying &&
        volume->state != VolumeState::VerifyingAndRepair) {
        return SsiStatus::InvalidVolumeState;
    }
    // A cancelled verification has no result to report: no completed event.
    volume->job.reset();
    volume->state = VolumeState::Normal;
    return SsiStatus::Success;
}

SsiStatus RaidModel::InitializeVolume(const Identifier &id) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (volume->level == RaidLevel::Raid0) {
        return SsiStatus::UnsupportedRaidLevel;
    }
    if (volume->state != VolumeState::Normal) {
        return SsiStatus::InvalidVolumeState;
    }
    StartJob(*volume, JobKind::Initialize);
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetCachePolicy(const Identifier &id, CachePolicy policy) {
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    if (policy == CachePolicy::Unknown) {
        return SsiStatus::InvalidVolumeCachePolicy;
    }
    volume->cachePolicy = policy;
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetWriteHolePolicy(const Identifier &id, WriteHolePolicy policy,
                                        const Identifier &journalingDrive) {
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    const Controller *controller = ControllerOf(*volume);
    if (controller == nullptr) {
        return SsiStatus::InvalidVolumeState;
    }
    if (const SsiStatus status = CheckWriteHole(volume, volume->level, *controller, policy,
                                                journalingDrive, volume->members);
        status != SsiStatus::Success) {
        return status;
    }
    if (volume->journalingDrive != journalingDrive) {
        ReleaseJournalingDrive(*volume);
    }
    volume->writeHolePolicy = policy;
    volume->journalingDrive = journalingDrive;
    if (Drive *drive = MutableDrive(journalingDrive)) {
        drive->usage = DriveUsage::Journaling;
    }
    return SsiStatus::Success;
}

void RaidModel::ReleaseJournalingDrive(Volume &volume) {
    if (Drive *drive = MutableDrive(volume.journalingDrive)) {
        drive->usage = DriveUsage::PassThrough;
    }
    volume.journalingDrive = kNoIdentifier;
}

SsiStatus RaidModel::DeleteVolume(const Identifier &id) {
    const Batch batch(*this);
    Volume *volume = MutableVolume(id);
    if (volume == nullptr) {
        return SsiStatus::InvalidVolume;
    }
    // The running system would lose its disk.
    if (volume->systemVolume) {
        return SsiStatus::InvalidVolumeState;
    }
    RaiseEvent(EventType::VolumeRemoved, id);
    ReleaseJournalingDrive(*volume);
    const Identifier arrayId = volume->arrayId;
    std::erase_if(inventory_.volumes, [&id](const Volume &other) { return other.id == id; });
    const bool arrayInUse =
        std::any_of(inventory_.volumes.begin(), inventory_.volumes.end(),
                    [&arrayId](const Volume &other) { return other.arrayId == arrayId; });
    if (!arrayInUse) {
        DissolveArray(arrayId);
    }
    return SsiStatus::Success;
}

void RaidModel::DissolveArray(const Identifier &arrayId) {
    for (Drive &drive : inventory_.drives) {
        if (drive.arrayId == arrayId) {
            drive.arrayId = kNoIdentifier;
            drive.usage = DriveUsage::PassThrough;
        }
    }
    std::erase_if(inventory_.arrays,
                  [&arrayId](const Array &array) { return array.id == arrayId; });
}

// --- Arrays and controllers ------------------------------------------------

SsiStatus RaidModel::AddDrivesToArray(const Identifier &id, const std::vector<Identifier> &drives) {
    const Array *array = FindArray(id);
    if (array == nullptr) {
        return SsiStatus::InvalidArray;
    }
    const Controller *controller = FindController(array->controllerId);
    const auto inArray = static_cast<size_t>(
        std::count_if(inventory_.drives.begin(), inventory_.drives.end(),
                      [&id](const Drive &drive) { return drive.arrayId == id; }));
    if (drives.empty() || controller == nullptr ||
        inArray + drives.size() > controller->maxDrivesPerController) {
        return SsiStatus::InvalidNumberOfDrives;
    }
    uint32_t blockSize = 0;
    for (const Volume &volume : inventory_.volumes) {
        if (volume.arrayId != id) {
            continue;
        }
        if (volume.state != VolumeState::Normal) {
            return SsiStatus::InvalidVolumeState;
        }
        blockSize = LogicalBlockSize(volume);
    }
    if (blockSize == 0) {
        blockSize = FindDrive(drives.front()) ? FindDrive(drives.front())->logicalBlockSize : 0;
    }
    if (const SsiStatus status = CheckNewDrives(*array, nullptr, drives, blockSize, false);
        status != SsiStatus::Success) {
        return status;
    }
    for (const Identifier &drive : drives) {
        JoinArray(*MutableDrive(drive), id);
    }
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetArrayWriteCache(const Identifier &id, bool enable) {
    Array *array = MutableArray(id);
    if (array == nullptr) {
        return SsiStatus::InvalidArray;
    }
    array->writeCache = enable;
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetRohi(const Identifier &id, bool enable) {
    Controller *controller = MutableController(id);
    if (controller == nullptr) {
        return SsiStatus::InvalidController;
    }
    controller->rohiEnabled = enable;
    return SsiStatus::Success;
}

SsiStatus RaidModel::SetReadPatrol(const Identifier &id, bool enable) {
    Controller *controller = MutableController(id);
    if (controller == nullptr) {
        return SsiStatus::InvalidController;
    }
    controller->readPatrolEnabled = enable;
    return SsiStatus::Success;
}

// --- Firmware --------------------------------------------------------------

FirmwareSlot *RaidModel::MutableSlot(uint16_t number) {
    const auto found =
        std::find_if(inventory_.slots.begin(), inventory_.slots.end(),
                     [number](const FirmwareSlot &slot) { return slot.number == number; });
    return found == inventory_.slots.end() ? nullptr : &*found;
}

SsiStatus RaidModel::StoreFirmware(uint16_t number, const std::string &revision,
                                   uint32_t imageSize) {
    FirmwareSlot *slot = MutableSlot(number);
    if (slot == nullptr) {
        return SsiStatus::InvalidFirmwareSlot;
    }
    if (imageSize == 0 || imageSize > inventory_.firmwareCapacity || revision.empty()) {
        return SsiStatus::InvalidFirmwareImage;
    }
    slot->revision = revision;
    slot->imageSize = imageSize;
    return SsiStatus::Success;
}

SsiStatus RaidModel::UpdateDriveFirmware(uint16_t number, const Identifier &id,
                                         FirmwareAction action) {
    const FirmwareSlot *slot = MutableSlot(number);
    if (slot == nullptr) {
        return SsiStatus::InvalidFirmwareSlot;
    }
    if (slot->revision.empty()) {
        return SsiStatus::InvalidFirmwareImage;
    }
    Drive *drive = MutableDrive(id);
    if (drive == nullptr || !Healthy(drive->status) || drive->type == DriveType::SataOptical) {
        return SsiStatus::InvalidDrive;
    }
    if (slot->revision < drive->firmware) {
        return SsiStatus::FirmwareUpdateProhibited;
    }
    const bool nvme = drive->type == DriveType::Vmd || drive->type == DriveType::NonVmd;
    if (action == FirmwareAction::Immediate && nvme) {
        drive->firmware = slot->revision;
        drive->pendingFirmware.clear();
        return SsiStatus::Success;
    }
    // SATA drives only take new firmware at a reset.
    drive->pendingFirmware = slot->revision;
    return action == FirmwareAction::Immediate ? SsiStatus::FirmwareUpdateRequiresReset
                                               : SsiStatus::Success;
}

// --- Events ----------------------------------------------------------------

RaidModel::Subscription *RaidModel::MutableSubscription(const Identifier &id) {
    return FindById(subscriptions_, id);
}

bool RaidModel::HasSubscription(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableSubscription(id) != nullptr;
}

SsiStatus RaidModel::Subscribe(const Scope &scope, const std::vector<EventType> &types,
                               Identifier &created) {
    Selection unused;
    if (const SsiStatus status = Select(scope, unused); status != SsiStatus::Success) {
        return status;
    }
    if (subscriptions_.size() >= kMaxSubscriptions) {
        return SsiStatus::SsiBusy;
    }
    Subscription subscription;
    subscription.id = NewIdentifier();
    subscription.scope = scope;
    subscription.types.insert(types.begin(), types.end());
    subscriptions_.push_back(std::move(subscription));
    created = subscriptions_.back().id;
    return SsiStatus::Success;
}

SsiStatus RaidModel::Unsubscribe(const Identifier &id) {
    if (!HasSubscription(id)) {
        return SsiStatus::InvalidSubscription;
    }
    std::erase_if(subscriptions_, [&id](const Subscription &other) { return other.id == id; });
    return SsiStatus::Success;
}

std::vector<Event> RaidModel::TakeEvents(const Identifier &id, uint32_t limit) {
    std::vector<Event> taken;
    Subscription *subscription = MutableSubscription(id);
    if (subscription == nullptr) {
        return taken;
    }
    std::deque<Event> &queue = subscription->queue;
    const size_t count = limit == 0 ? queue.size() : std::min<size_t>(limit, queue.size());
    taken.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
    return taken;
}

size_t RaidModel::QueuedEvents(const Identifier &id) const {
    const auto *subscription = const_cast<RaidModel *>(this)->MutableSubscription(id);
    return subscription == nullptr ? 0 : subscription->queue.size();
}

void RaidModel::ClearSubscriptions() {
    subscriptions_.clear();
    queuedFor_.clear();
}

bool RaidModel::Covers(const Scope &scope, const Identifier &object) const {
    if (scope.type == ScopeType::Global) {
        return true;
    }
    Selection selection;
    if (Select(scope, selection) != SsiStatus::Success) {
        return false;
    }
    const auto is = [&object](const auto *item) { return item->id == object; };
    return std::any_of(selection.drives.begin(), selection.drives.end(), is) ||
           std::any_of(selection.volumes.begin(), selection.volumes.end(), is);
}

void RaidModel::RaiseEvent(EventType type, const Identifier &object) {
    const Batch batch(*this);
    for (Subscription &subscription : subscriptions_) {
        if (!subscription.types.empty() && !subscription.types.contains(type)) {
            continue;
        }
        if (!Covers(subscription.scope, object)) {
            continue;
        }
        // A full queue keeps the newest events: they describe the present.
        if (subscription.queue.size() >= kEventQueueDepth) {
            subscription.queue.pop_front();
        }
        subscription.queue.push_back({type, object});
        queuedFor_.insert(subscription.id);
    }
}

} // namespace vuno::hostsim
