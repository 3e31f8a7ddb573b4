// Operations on drives, arrays, controllers and firmware slots.
#include "raid_model_internal.hpp"

namespace vuno::hostsim {

using namespace raid;

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
    const Drive *drive = FindDrive(id);
    if (drive == nullptr || !drive->ledSupport) {
        return SsiStatus::InvalidDrive;
    }
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
        return SsiStatus::Success;
    }
    // Otherwise the drive takes it at a reset, which the simulated host
    // never has: nothing could show the new revision.
    return action == FirmwareAction::Immediate ? SsiStatus::FirmwareUpdateRequiresReset
                                               : SsiStatus::Success;
}

} // namespace vuno::hostsim
