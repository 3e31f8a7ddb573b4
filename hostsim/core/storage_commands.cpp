#include "storage_commands.hpp"

#include "storage_encoding.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace vuno::hostsim {

SsiAnswer Reply(SsiStatus status) {
    return {static_cast<uint16_t>(status), {}};
}

SsiAnswer Data(Bytes payload) {
    return {0, std::move(payload)};
}

SsiStatus DecodeScope(uint8_t field, const Identifier &id, Scope &scope) {
    if ((field & 0xF8) != 0) {
        return SsiStatus::InvalidFieldInCommand;
    }
    const auto type = static_cast<uint8_t>(field & 0x07);
    if (type > static_cast<uint8_t>(ScopeType::Drive)) {
        return SsiStatus::InvalidScope;
    }
    scope = {static_cast<ScopeType>(type), id};
    return SsiStatus::Success;
}

namespace {

constexpr size_t kIdentifierSize = 16;
constexpr size_t kNameSize = 16;
constexpr size_t kRevisionSize = 8;

const SsiAnswer kBadLength = Reply(SsiStatus::RequestDataLengthInvalid);
const SsiAnswer kReservedBitsSet = Reply(SsiStatus::InvalidFieldInCommand);

bool ReadIdentifiers(ByteReader &reader, size_t count, std::vector<Identifier> &ids) {
    if (reader.Remaining() != count * kIdentifierSize) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        ids.push_back(reader.Id());
    }
    return reader.Complete();
}

// A fixed-width text field: the text ends at the first zero byte, and
// only zeros may follow it.
std::optional<std::string> FieldText(ByteView field) {
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    if (std::any_of(end, field.end(), [](uint8_t byte) { return byte != 0; })) {
        return std::nullopt;
    }
    return std::string(field.begin(), end);
}

std::optional<RaidLevel> DecodeLevel(uint8_t code) {
    if (code < static_cast<uint8_t>(RaidLevel::Raid0) ||
        code > static_cast<uint8_t>(RaidLevel::Raid5)) {
        return std::nullopt;
    }
    return static_cast<RaidLevel>(code);
}

std::optional<WriteHolePolicy> DecodeWriteHolePolicy(uint8_t code) {
    if (code > static_cast<uint8_t>(WriteHolePolicy::JournalingDrive)) {
        return std::nullopt;
    }
    return static_cast<WriteHolePolicy>(code);
}

// --- Shapes shared by many commands -----------------------------------------

template <typename Encode>
SsiAnswer ScopedQuery(RaidModel &model, ByteView payload, Encode encode) {
    ByteReader reader(payload);
    const uint8_t type = reader.U8();
    const Identifier id = reader.Id();
    if (!reader.Complete()) {
        return kBadLength;
    }
    Scope scope;
    Selection selection;
    SsiStatus status = DecodeScope(type, id, scope);
    if (status == SsiStatus::Success) {
        status = model.Select(scope, selection);
    }
    return status == SsiStatus::Success ? Data(encode(model, selection)) : Reply(status);
}

template <typename Item> std::vector<Identifier> Ids(const std::vector<const Item *> &items) {
    std::vector<Identifier> ids;
    for (const Item *item : items) {
        ids.push_back(item->id);
    }
    return ids;
}

template <typename Apply> SsiAnswer OnIdentifier(ByteView payload, Apply apply) {
    ByteReader reader(payload);
    const Identifier id = reader.Id();
    return reader.Complete() ? Reply(apply(id)) : kBadLength;
}

template <typename Apply> SsiAnswer OnIdentifierAndFlag(ByteView payload, Apply apply) {
    ByteReader reader(payload);
    const Identifier id = reader.Id();
    const uint8_t field = reader.U8();
    if (!reader.Complete()) {
        return kBadLength;
    }
    if ((field & 0x7F) != 0) {
        return kReservedBitsSet;
    }
    return Reply(apply(id, (field & 0x80) != 0));
}

template <typename Apply> SsiAnswer OnIdentifierList(ByteView payload, Apply apply) {
    ByteReader reader(payload);
    const Identifier target = reader.Id();
    const uint16_t count = reader.U16();
    std::vector<Identifier> drives;
    if (!ReadIdentifiers(reader, count, drives)) {
        return kBadLength;
    }
    return Reply(apply(target, drives));
}

// --- Inventory ----------------------------------------------------------------

SsiAnswer GetDriveIdentifiers(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &, const Selection &selection) {
        return EncodeIdentifiers(Ids(selection.drives));
    });
}

SsiAnswer GetVolumeIdentifiers(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &, const Selection &selection) {
        return EncodeIdentifiers(Ids(selection.volumes));
    });
}

SsiAnswer GetArrayIdentifiers(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &, const Selection &selection) {
        return EncodeIdentifiers(Ids(selection.arrays));
    });
}

SsiAnswer GetControllerIdentifiers(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &, const Selection &selection) {
        return EncodeIdentifiers(Ids(selection.controllers));
    });
}

SsiAnswer GetDriveInformation(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &m, const Selection &selection) {
        return EncodeDrives(m, selection.drives);
    });
}

SsiAnswer GetVolumeInformation(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &m, const Selection &selection) {
        return EncodeVolumes(m, selection.volumes);
    });
}

SsiAnswer GetArrayInformation(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &m, const Selection &selection) {
        return EncodeArrays(m, selection.arrays);
    });
}

SsiAnswer GetControllerInformation(RaidModel &model, ByteView payload) {
    return ScopedQuery(model, payload, [](const RaidModel &, const Selection &selection) {
        return EncodeControllers(selection.controllers);
    });
}

SsiAnswer GetVolumeMigrationCapabilities(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    if (!reader.Complete()) {
        return kBadLength;
    }
    std::vector<MigrationCapability> capabilities;
    const SsiStatus status = model.MigrationCapabilities(volume, capabilities);
    return status == SsiStatus::Success ? Data(EncodeMigrationCapabilities(capabilities))
                                        : Reply(status);
}

SsiAnswer GetControllerRaidCapabilities(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier controller = reader.Id();
    if (!reader.Complete()) {
        return kBadLength;
    }
    std::vector<RaidCapability> capabilities;
    const SsiStatus status = model.ControllerCapabilities(controller, capabilities);
    return status == SsiStatus::Success ? Data(EncodeRaidCapabilities(capabilities))
                                        : Reply(status);
}

SsiAnswer GetExecutorInformation(RaidModel &model, ByteView payload) {
    if (!payload.empty()) {
        return kBadLength;
    }
    return Data(EncodeExecutorInformation(model.Contents().executor));
}

SsiAnswer GetFirmwareSlotInformation(RaidModel &model, ByteView payload) {
    if (!payload.empty()) {
        return kBadLength;
    }
    return Data(EncodeFirmwareSlots(model.Contents().firmwareCapacity, model.Contents().slots));
}

// --- Firmware -------------------------------------------------------------------

SsiAnswer SendFirmwareToSlot(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const uint16_t slot = reader.U16();
    const uint32_t imageSize = reader.U32();
    const ByteView revisionField = reader.Take(kRevisionSize);
    if (reader.Remaining() != imageSize) {
        return kBadLength;
    }
    reader.Take(imageSize);
    if (!reader.Complete()) {
        return kBadLength;
    }
    const auto revision = FieldText(revisionField);
    const bool printable = revision && !revision->empty() &&
                           std::all_of(revision->begin(), revision->end(),
                                       [](char c) { return c >= 0x20 && c <= 0x7E; });
    if (!printable) {
        return Reply(SsiStatus::InvalidFieldInCommand);
    }
    return Reply(model.StoreFirmware(slot, *revision, imageSize));
}

SsiAnswer UpdateDriveFirmware(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const uint16_t slot = reader.U16();
    const Identifier drive = reader.Id();
    const uint8_t action = reader.U8();
    if (!reader.Complete()) {
        return kBadLength;
    }
    if (action > static_cast<uint8_t>(FirmwareAction::Immediate)) {
        return Reply(SsiStatus::InvalidFieldInCommand);
    }
    return Reply(model.UpdateDriveFirmware(slot, drive, static_cast<FirmwareAction>(action)));
}

// --- Drives -----------------------------------------------------------------------

SsiAnswer ClearDriveMetadata(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.ClearMetadata(id); });
}

SsiAnswer MarkDriveAsSpare(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload, [&model](const Identifier &id) { return model.MarkSpare(id); });
}

SsiAnswer UnmarkSpareDrive(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload, [&model](const Identifier &id) { return model.UnmarkSpare(id); });
}

SsiAnswer MarkDriveAsNormal(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.MarkDriveNormal(id); });
}

SsiAnswer SetVolatileWriteCacheOnDrive(RaidModel &model, ByteView payload) {
    return OnIdentifierAndFlag(payload, [&model](const Identifier &id, bool enable) {
        return model.SetDriveWriteCache(id, enable);
    });
}

SsiAnswer ResetSmartEventOnDrive(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.ResetSmartEvent(id); });
}

SsiAnswer ActivateDriveLed(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload, [&model](const Identifier &id) { return model.ActivateLed(id); });
}

SsiAnswer RemoveDrive(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload, [&model](const Identifier &id) { return model.RemoveDrive(id); });
}

// --- Volumes ----------------------------------------------------------------------

SsiAnswer CreateVolume(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const uint16_t count = reader.U16();
    const ByteView nameField = reader.Take(kNameSize);
    NewVolume request;
    request.stripCode = reader.U16();
    const uint8_t level = reader.U8();
    request.size = reader.U64();
    const uint8_t flags = reader.U8();
    request.existingDataDrive = reader.Id();
    request.journalingDrive = reader.Id();
    if (!ReadIdentifiers(reader, count, request.members)) {
        return kBadLength;
    }
    if ((flags & 0x07) != 0) {
        return kReservedBitsSet;
    }
    const auto raidLevel = DecodeLevel(level);
    if (!raidLevel) {
        return Reply(SsiStatus::InvalidRaidLevel);
    }
    const auto policy = DecodeWriteHolePolicy(static_cast<uint8_t>(flags >> 4));
    if (!policy) {
        return Reply(SsiStatus::InvalidRAIDWriteHolePolicy);
    }
    const auto name = FieldText(nameField);
    if (!name) {
        return Reply(SsiStatus::InvalidVolumeName);
    }
    request.name = *name;
    request.level = *raidLevel;
    request.writeHolePolicy = *policy;
    request.existingData = (flags & 0x08) != 0;
    Identifier created{};
    const SsiStatus status = model.CreateVolume(request, created);
    return status == SsiStatus::Success ? Data(EncodeVolumeIdentifier(created)) : Reply(status);
}

SsiAnswer RebuildVolume(RaidModel &model, ByteView payload) {
    return OnIdentifierList(payload, [&model](const Identifier &volume, const auto &drives) {
        return model.RebuildVolume(volume, drives);
    });
}

SsiAnswer ExpandVolume(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    const uint64_t size = reader.U64();
    return reader.Complete() ? Reply(model.ExpandVolume(volume, size)) : kBadLength;
}

SsiAnswer ChangeRaidLevel(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    const uint16_t stripCode = reader.U16();
    const uint8_t level = reader.U8();
    const uint16_t count = reader.U16();
    std::vector<Identifier> drives;
    if (!ReadIdentifiers(reader, count, drives)) {
        return kBadLength;
    }
    const auto raidLevel = DecodeLevel(level);
    if (!raidLevel) {
        return Reply(SsiStatus::InvalidRaidLevel);
    }
    return Reply(model.ChangeRaidLevel(volume, *raidLevel, stripCode, drives));
}

SsiAnswer RenameVolume(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    const auto name = FieldText(reader.Take(kNameSize));
    if (!reader.Complete()) {
        return kBadLength;
    }
    return name ? Reply(model.RenameVolume(volume, *name)) : Reply(SsiStatus::InvalidVolumeName);
}

SsiAnswer MarkVolumeAsNormal(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.MarkVolumeNormal(id); });
}

SsiAnswer VerifyVolume(RaidModel &model, ByteView payload) {
    return OnIdentifierAndFlag(payload, [&model](const Identifier &id, bool repair) {
        return model.VerifyVolume(id, repair);
    });
}

SsiAnswer CancelVolumeVerification(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.CancelVerification(id); });
}

SsiAnswer InitializeVolume(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload,
                        [&model](const Identifier &id) { return model.InitializeVolume(id); });
}

SsiAnswer SetVolumeCachePolicy(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    const uint8_t field = reader.U8();
    if (!reader.Complete()) {
        return kBadLength;
    }
    if ((field & 0x0F) != 0) {
        return kReservedBitsSet;
    }
    const auto code = static_cast<uint8_t>(field >> 4);
    if (code > static_cast<uint8_t>(CachePolicy::WriteBack)) {
        return Reply(SsiStatus::InvalidVolumeCachePolicy);
    }
    return Reply(model.SetCachePolicy(volume, static_cast<CachePolicy>(code)));
}

SsiAnswer SetRaidWriteHolePolicy(RaidModel &model, ByteView payload) {
    ByteReader reader(payload);
    const Identifier volume = reader.Id();
    const uint8_t field = reader.U8();
    const Identifier journalingDrive = reader.Id();
    if (!reader.Complete()) {
        return kBadLength;
    }
    if ((field & 0x0F) != 0) {
        return kReservedBitsSet;
    }
    const auto policy = DecodeWriteHolePolicy(static_cast<uint8_t>(field >> 4));
    if (!policy) {
        return Reply(SsiStatus::InvalidRAIDWriteHolePolicy);
    }
    return Reply(model.SetWriteHolePolicy(volume, *policy, journalingDrive));
}

SsiAnswer DeleteVolume(RaidModel &model, ByteView payload) {
    return OnIdentifier(payload, [&model](const Identifier &id) { return model.DeleteVolume(id); });
}

// --- Arrays and controllers -------------------------------------------------------

SsiAnswer AddDrivesToArray(RaidModel &model, ByteView payload) {
    return OnIdentifierList(payload, [&model](const Identifier &array, const auto &drives) {
        return model.AddDrivesToArray(array, drives);
    });
}

SsiAnswer SetVolatileWriteCacheOnArray(RaidModel &model, ByteView payload) {
    return OnIdentifierAndFlag(payload, [&model](const Identifier &id, bool enable) {
        return model.SetArrayWriteCache(id, enable);
    });
}

SsiAnswer SetRohiPolicy(RaidModel &model, ByteView payload) {
    return OnIdentifierAndFlag(
        payload, [&model](const Identifier &id, bool enable) { return model.SetRohi(id, enable); });
}

SsiAnswer SetReadPatrolPolicy(RaidModel &model, ByteView payload) {
    return OnIdentifierAndFlag(payload, [&model](const Identifier &id, bool enable) {
        return model.SetReadPatrol(id, enable);
    });
}

using Command = SsiAnswer (*)(RaidModel &, ByteView);

constexpr std::array<Command, kCreateEventSubscription> kCommands = {
    GetDriveIdentifiers,
    GetVolumeIdentifiers,
    GetArrayIdentifiers,
    GetControllerIdentifiers,
    GetDriveInformation,
    GetVolumeInformation,
    GetVolumeMigrationCapabilities,
    GetArrayInformation,
    GetControllerInformation,
    GetControllerRaidCapabilities,
    GetExecutorInformation,
    GetFirmwareSlotInformation,
    SendFirmwareToSlot,
    UpdateDriveFirmware,
    ClearDriveMetadata,
    MarkDriveAsSpare,
    UnmarkSpareDrive,
    MarkDriveAsNormal,
    SetVolatileWriteCacheOnDrive,
    ResetSmartEventOnDrive,
    ActivateDriveLed,
    RemoveDrive,
    CreateVolume,
    RebuildVolume,
    ExpandVolume,
    ChangeRaidLevel,
    RenameVolume,
    MarkVolumeAsNormal,
    VerifyVolume,
    CancelVolumeVerification,
    InitializeVolume,
    SetVolumeCachePolicy,
    SetRaidWriteHolePolicy,
    DeleteVolume,
    AddDrivesToArray,
    SetVolatileWriteCacheOnArray,
    SetRohiPolicy,
    SetReadPatrolPolicy,
};

} // namespace

SsiAnswer RunModelCommand(RaidModel &model, uint8_t code, ByteView payload) {
    if (code >= kCommands.size()) {
        return Reply(SsiStatus::InvalidCommandCode);
    }
    return kCommands[code](model, payload);
}

} // namespace vuno::hostsim
