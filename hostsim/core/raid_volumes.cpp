// Operations on volumes: the checks a request must pass and the changes
// it makes.
#include "raid_model_internal.hpp"

#include <limits>

namespace vuno::hostsim {

using namespace raid;

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

// Verification and initialisation work on redundancy, which a healthy
// volume of a level other than 0 has.
SsiStatus RaidModel::StartRedundancyJob(const Identifier &id, JobKind kind) {
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
    StartJob(*volume, kind);
    return SsiStatus::Success;
}

SsiStatus RaidModel::VerifyVolume(const Identifier &id, bool repair) {
    return StartRedundancyJob(id, repair ? JobKind::VerifyAndFix : JobKind::Verify);
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
    return StartRedundancyJob(id, JobKind::Initialize);
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

} // namespace vuno::hostsim
