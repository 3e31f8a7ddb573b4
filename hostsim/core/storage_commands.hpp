// The storage commands that act on the RAID model alone: each parses its
// payload, checks it as the host's RAID application would, applies it to
// the model and encodes the answer. The event commands keep state of
// their own and belong to the executor.
#pragma once

#include "command_handler.hpp"
#include "raid_model.hpp"

#include <cstdint>

namespace vuno::hostsim {

enum CommandCode : uint8_t {
    kGetDriveIdentifiers = 0,
    kGetVolumeIdentifiers = 1,
    kGetArrayIdentifiers = 2,
    kGetControllerIdentifiers = 3,
    kGetDriveInformation = 4,
    kGetVolumeInformation = 5,
    kGetVolumeMigrationCapabilities = 6,
    kGetArrayInformation = 7,
    kGetControllerInformation = 8,
    kGetControllerRaidCapabilities = 9,
    kGetExecutorInformation = 10,
    kGetFirmwareSlotInformation = 11,
    kSendFirmwareToSlot = 12,
    kUpdateDriveFirmware = 13,
    kClearDriveMetadata = 14,
    kMarkDriveAsSpare = 15,
    kUnmarkSpareDrive = 16,
    kMarkDriveAsNormal = 17,
    kSetVolatileWriteCacheOnDrive = 18,
    kResetSmartEventOnDrive = 19,
    kActivateDriveLed = 20,
    kRemoveDrive = 21,
    kCreateVolume = 22,
    kRebuildVolume = 23,
    kExpandVolume = 24,
    kChangeRaidLevel = 25,
    kRenameVolume = 26,
    kMarkVolumeAsNormal = 27,
    kVerifyVolume = 28,
    kCancelVolumeVerification = 29,
    kInitializeVolume = 30,
    kSetVolumeCachePolicy = 31,
    kSetRaidWriteHolePolicy = 32,
    kDeleteVolume = 33,
    kAddDrivesToArray = 34,
    kSetVolatileWriteCacheOnArray = 35,
    kSetRohiPolicy = 36,
    kSetReadPatrolPolicy = 37,
    kCreateEventSubscription = 38,
    kCancelEventSubscription = 39,
    kGetEvents = 40,
};

SsiAnswer Reply(SsiStatus status);
SsiAnswer Data(Bytes payload);
// The scope type in bits 2..0 of `field`; the other bits are reserved.
SsiStatus DecodeScope(uint8_t field, const Identifier &id, Scope &scope);

// A command below kCreateEventSubscription; any other code is refused.
SsiAnswer RunModelCommand(RaidModel &model, uint8_t code, ByteView payload);

} // namespace vuno::hostsim
