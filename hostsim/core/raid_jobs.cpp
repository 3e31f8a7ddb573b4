// Volume health, rebuilds and the long operations that end in time.
#include "raid_model_internal.hpp"

namespace vuno::hostsim {

using namespace raid;

namespace {

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

} // namespace

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

} // namespace vuno::hostsim
