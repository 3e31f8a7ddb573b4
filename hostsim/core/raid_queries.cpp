// Look-ups and what a scope covers: everything the model answers
// without changing.
#include "raid_model_internal.hpp"

#include <limits>

namespace vuno::hostsim {

using namespace raid;

namespace {

constexpr uint64_t kIdentifierSalt = 0x51D0'0000'0000'0000;

template <typename Item>
void Collect(const std::vector<Item> &items, const std::set<Identifier> &wanted, bool all,
             std::vector<const Item *> &out) {
    for (const Item &item : items) {
        if (all || wanted.contains(item.id)) {
            out.push_back(&item);
        }
    }
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

} // namespace vuno::hostsim
