#include "inventory_file.hpp"
#include "storage_executor.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vuno::hostsim {
namespace {

const Identifier kUnknown = MakeIdentifier(0xBAD);

Identifier DriveId(std::string_view label) {
    return LabelIdentifier("drive", label);
}
Identifier VolumeId(std::string_view label) {
    return LabelIdentifier("volume", label);
}
Identifier ControllerId(std::string_view label) {
    return LabelIdentifier("controller", label);
}
Identifier ArrayId(std::string_view label) {
    return LabelIdentifier("array", label);
}

// Request payloads written by hand, little-endian.
class Payload {
  public:
    Payload &U8(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    Payload &U16(uint16_t value) { return U8(value & 0xFF).U8(value >> 8); }
    Payload &U32(uint32_t value) { return U16(value & 0xFFFF).U16(value >> 16); }
    Payload &U64(uint64_t value) { return U32(value & 0xFFFFFFFF).U32(value >> 32); }
    Payload &Id(const Identifier &id) {
        bytes_.insert(bytes_.end(), id.begin(), id.end());
        return *this;
    }
    Payload &Text(std::string_view text, size_t width) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.resize(bytes_.size() + width - text.size());
        return *this;
    }
    operator Bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

Bytes Scope(uint8_t type, const Identifier &id = {}) {
    return Payload().U8(type).Id(id);
}
Bytes IdAndByte(const Identifier &id, uint8_t byte) {
    return Payload().Id(id).U8(byte);
}
Bytes IdList(const Identifier &target, const std::vector<Identifier> &ids) {
    Payload payload;
    payload.Id(target).U16(static_cast<uint16_t>(ids.size()));
    for (const Identifier &id : ids) {
        payload.Id(id);
    }
    return payload;
}
Bytes NewVolumePayload(std::string_view name, uint8_t level, uint16_t strip, uint8_t flags,
                       const std::vector<Identifier> &members,
                       const Identifier &journal = kNoIdentifier) {
    Payload payload;
    payload.U16(static_cast<uint16_t>(members.size())).Text(name, 16).U16(strip).U8(level);
    payload.U64(0).U8(flags).Id(kNoIdentifier).Id(journal);
    for (const Identifier &member : members) {
        payload.Id(member);
    }
    return payload;
}

uint64_t Le(const Bytes &bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = value << 8 | bytes.at(offset + i);
    }
    return value;
}
Identifier IdAt(const Bytes &bytes, size_t offset) {
    Identifier id{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), id.size(), id.begin());
    return id;
}
// The text up to the first zero, and whether only zeros follow it.
std::string TextAt(const Bytes &bytes, size_t offset, size_t width) {
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, begin + static_cast<std::ptrdiff_t>(width), 0);
    const bool padded = std::all_of(end, begin + static_cast<std::ptrdiff_t>(width),
                                    [](uint8_t byte) { return byte == 0; });
    return padded ? std::string(begin, end) : "<not zero-padded>";
}

// Element sizes of the response formats.
constexpr size_t kDrive = 167;
constexpr size_t kVolume = 94;
constexpr size_t kArray = 53;
constexpr size_t kController = 335;
constexpr size_t kRaidCapability = 10;
constexpr size_t kFirmwareSlot = 10;
constexpr size_t kEvent = 17;

constexpr uint16_t Status(SsiStatus status) {
    return static_cast<uint16_t>(status);
}

class StorageExecutorTest : public ::testing::Test {
  protected:
    StorageExecutorTest() : model_(clock_, DefaultInventory()), executor_(model_) {}

    // The answer a command gets at once; there must be exactly one.
    SsiAnswer Run(uint8_t code, const Bytes &payload) {
        std::vector<SsiAnswer> answers;
        executor_.Handle(code, payload,
                         [&answers](SsiAnswer answer) { answers.push_back(std::move(answer)); });
        EXPECT_EQ(answers.size(), 1u) << "command " << int(code);
        return answers.empty() ? SsiAnswer{0xFFFF, {}} : answers.front();
    }

    // A successful answer's payload.
    Bytes Data(uint8_t code, const Bytes &payload) {
        SsiAnswer answer = Run(code, payload);
        EXPECT_EQ(answer.status, 0) << "command " << int(code);
        return answer.payload;
    }

    // A GetEvents request whose answers are collected in `answers`.
    void GetEvents(const Identifier &subscription, uint32_t limit,
                   std::vector<SsiAnswer> &answers) {
        executor_.Handle(kGetEvents, Bytes(Payload().Id(subscription).U32(limit)),
                         [&answers](SsiAnswer answer) { answers.push_back(std::move(answer)); });
    }

    Identifier Subscribe(const Bytes &scope, const std::vector<uint8_t> &types = {}) {
        Payload payload;
        for (uint8_t byte : scope) {
            payload.U8(byte);
        }
        payload.U8(static_cast<uint8_t>(types.size()));
        for (uint8_t type : types) {
            payload.U8(type);
        }
        const Bytes answer = Data(kCreateEventSubscription, payload);
        EXPECT_EQ(answer.size(), 18u);
        EXPECT_EQ(Le(answer, 16, 2), kEventQueueDepth);
        return answer.size() == 18 ? IdAt(answer, 0) : kNoIdentifier;
    }

    Clock clock_;
    RaidModel model_;
    StorageExecutor executor_;
};

// A payload of the right length for every command, with identifiers no
// object has: the answer may be a refusal, but not of the length.
std::vector<std::pair<uint8_t, Bytes>> WellFormedPayloads() {
    const Bytes id = Payload().Id(kUnknown);
    return {
        {kGetDriveIdentifiers, Scope(0)},
        {kGetVolumeIdentifiers, Scope(0)},
        {kGetArrayIdentifiers, Scope(0)},
        {kGetControllerIdentifiers, Scope(0)},
        {kGetDriveInformation, Scope(0)},
        {kGetVolumeInformation, Scope(0)},
        {kGetVolumeMigrationCapabilities, id},
        {kGetArrayInformation, Scope(0)},
        {kGetControllerInformation, Scope(0)},
        {kGetControllerRaidCapabilities, id},
        {kGetExecutorInformation, {}},
        {kGetFirmwareSlotInformation, {}},
        {kSendFirmwareToSlot, Payload().U16(9).U32(4).Text("3.3.00", 8).U32(0xDEADBEEF)},
        {kUpdateDriveFirmware, Payload().U16(2).Id(kUnknown).U8(0)},
        {kClearDriveMetadata, id},
        {kMarkDriveAsSpare, id},
        {kUnmarkSpareDrive, id},
        {kMarkDriveAsNormal, id},
        {kSetVolatileWriteCacheOnDrive, IdAndByte(kUnknown, 0x80)},
        {kResetSmartEventOnDrive, id},
        {kActivateDriveLed, id},
        {kRemoveDrive, id},
        {kCreateVolume, NewVolumePayload("New", 2, 32, 0, {})},
        {kRebuildVolume, IdList(kUnknown, {kUnknown})},
        {kExpandVolume, Payload().Id(kUnknown).U64(1 << 20)},
        {kChangeRaidLevel, Payload().Id(kUnknown).U16(32).U8(4).U16(0)},
        {kRenameVolume, Payload().Id(kUnknown).Text("Renamed", 16)},
        {kMarkVolumeAsNormal, id},
        {kVerifyVolume, IdAndByte(kUnknown, 0x80)},
        {kCancelVolumeVerification, id},
        {kInitializeVolume, id},
        {kSetVolumeCachePolicy, IdAndByte(kUnknown, 0x30)},
        {kSetRaidWriteHolePolicy, Payload().Id(kUnknown).U8(0).Id(kNoIdentifier)},
        {kDeleteVolume, id},
        {kAddDrivesToArray, IdList(kUnknown, {})},
        {kSetVolatileWriteCacheOnArray, IdAndByte(kUnknown, 0)},
        {kSetRohiPolicy, IdAndByte(kUnknown, 0x80)},
        {kSetReadPatrolPolicy, IdAndByte(kUnknown, 0)},
        {kCreateEventSubscription, Payload().U8(0).Id(kNoIdentifier).U8(1).U8(128)},
        {kCancelEventSubscription, id},
        {kGetEvents, Payload().Id(kUnknown).U32(0)},
    };
}

TEST_F(StorageExecutorTest, EveryCommandChecksItsPayloadLength) {
    const auto payloads = WellFormedPayloads();
    ASSERT_EQ(payloads.size(), 41u);
    const uint16_t badLength = Status(SsiStatus::RequestDataLengthInvalid);
    for (const auto &[code, payload] : payloads) {
        SCOPED_TRACE("command " + std::to_string(code));
        EXPECT_NE(Run(code, payload).status, badLength);
        Bytes longer = payload;
        longer.push_back(0);
        EXPECT_EQ(Run(code, longer).status, badLength);
        if (!payload.empty()) {
            const Bytes shorter(payload.begin(), payload.end() - 1);
            EXPECT_EQ(Run(code, shorter).status, badLength);
            EXPECT_EQ(Run(code, Bytes{payload.front()}).status, badLength);
        }
    }
}

TEST_F(StorageExecutorTest, ListCountsMustMatchThePayload) {
    const uint16_t badLength = Status(SsiStatus::RequestDataLengthInvalid);
    const Identifier drive = DriveId("nvme4");
    Bytes oneMemberMissing = NewVolumePayload("New", 2, 32, 0, {drive});
    oneMemberMissing.resize(62);
    Bytes countTooSmall = IdList(kUnknown, {drive, drive});
    countTooSmall[16] = 1;
    const std::pair<uint8_t, Bytes> cases[] = {
        {kCreateVolume, oneMemberMissing},
        {kRebuildVolume, countTooSmall},
        {kAddDrivesToArray, Payload().Id(kUnknown).U16(0xFFFF).Id(drive)},
        {kChangeRaidLevel, Payload().Id(kUnknown).U16(32).U8(4).U16(1)},
        {kSendFirmwareToSlot, Payload().U16(3).U32(0xFFFFFFFF).Text("3.3.00", 8).U32(0)},
        {kCreateEventSubscription, Payload().U8(0).Id(kNoIdentifier).U8(2).U8(128)},
    };
    for (const auto &[code, payload] : cases) {
        SCOPED_TRACE("command " + std::to_string(code));
        EXPECT_EQ(Run(code, payload).status, badLength);
    }
}

TEST_F(StorageExecutorTest, UnknownCommandCodesAreRefused) {
    for (const uint8_t code : {41, 99, 255}) {
        EXPECT_EQ(Run(code, {}).status, Status(SsiStatus::InvalidCommandCode)) << int(code);
    }
}

struct FieldCase {
    const char *what;
    uint8_t code;
    Bytes payload;
    SsiStatus status;
};

TEST_F(StorageExecutorTest, FieldsAreJudgedAsTheExecutorWould) {
    const Identifier data = VolumeId("data");
    const Identifier nvme4 = DriveId("nvme4");
    const FieldCase cases[] = {
        {"scope reserved bits", kGetDriveInformation, Scope(0x08),
         SsiStatus::InvalidFieldInCommand},
        {"scope type 5", kGetDriveInformation, Scope(5), SsiStatus::InvalidScope},
        {"scope type 7", kGetVolumeIdentifiers, Scope(7), SsiStatus::InvalidScope},
        {"unknown controller scope", kGetDriveIdentifiers, Scope(1, kUnknown),
         SsiStatus::InvalidController},
        {"unknown array scope", kGetArrayInformation, Scope(2, kUnknown), SsiStatus::InvalidArray},
        {"unknown volume scope", kGetVolumeInformation, Scope(3, kUnknown),
         SsiStatus::InvalidVolume},
        {"unknown drive scope", kGetControllerInformation, Scope(4, kUnknown),
         SsiStatus::InvalidDrive},
        {"flag reserved bits", kSetVolatileWriteCacheOnDrive, IdAndByte(nvme4, 0x81),
         SsiStatus::InvalidFieldInCommand},
        {"verify reserved bits", kVerifyVolume, IdAndByte(data, 0x01),
         SsiStatus::InvalidFieldInCommand},
        {"cache policy reserved bits", kSetVolumeCachePolicy, IdAndByte(data, 0x21),
         SsiStatus::InvalidFieldInCommand},
        {"cache policy 4", kSetVolumeCachePolicy, IdAndByte(data, 0x40),
         SsiStatus::InvalidVolumeCachePolicy},
        {"cache policy unknown", kSetVolumeCachePolicy, IdAndByte(data, 0x00),
         SsiStatus::InvalidVolumeCachePolicy},
        {"write hole policy 3", kSetRaidWriteHolePolicy, Payload().Id(data).U8(0x30).Id({}),
         SsiStatus::InvalidRAIDWriteHolePolicy},
        {"write hole reserved bits", kSetRaidWriteHolePolicy, Payload().Id(data).U8(0x01).Id({}),
         SsiStatus::InvalidFieldInCommand},
        {"journaling drive with policy off", kSetRaidWriteHolePolicy,
         Payload().Id(data).U8(0x00).Id(nvme4), SsiStatus::InconsistentRAIDWriteHolePolicy},
        {"create at level 0", kCreateVolume, NewVolumePayload("New", 0, 32, 0, {}),
         SsiStatus::InvalidRaidLevel},
        {"create at level 5", kCreateVolume, NewVolumePayload("New", 5, 32, 0, {}),
         SsiStatus::InvalidRaidLevel},
        {"create reserved bits", kCreateVolume, NewVolumePayload("New", 2, 32, 0x01, {}),
         SsiStatus::InvalidFieldInCommand},
        {"create write hole 3", kCreateVolume, NewVolumePayload("New", 2, 32, 0x30, {}),
         SsiStatus::InvalidRAIDWriteHolePolicy},
        {"create with bytes after the name", kCreateVolume,
         NewVolumePayload(std::string("ab\0c", 4), 2, 32, 0, {DriveId("sata0"), DriveId("sata1")}),
         SsiStatus::InvalidVolumeName},
        {"create with journaling drive and no policy", kCreateVolume,
         NewVolumePayload("New", 2, 32, 0, {DriveId("sata0"), DriveId("sata1")}, nvme4),
         SsiStatus::InconsistentRAIDWriteHolePolicy},
        {"create with one member", kCreateVolume, NewVolumePayload("New", 2, 32, 0, {nvme4}),
         SsiStatus::InvalidNumberOfDrives},
        {"create on a used drive", kCreateVolume,
         NewVolumePayload("New", 2, 32, 0, {nvme4, DriveId("nvme3")}),
         SsiStatus::InvalidMemberDrive},
        {"create with a bad strip", kCreateVolume,
         NewVolumePayload("New", 2, 16, 0, {DriveId("sata0"), DriveId("sata1")}),
         SsiStatus::InvalidStripSize},
        {"migrate to level 9", kChangeRaidLevel, Payload().Id(data).U16(32).U8(9).U16(0),
         SsiStatus::InvalidRaidLevel},
        {"rename with bytes after the name", kRenameVolume,
         Payload().Id(data).Text(std::string("ab\0c", 4), 16), SsiStatus::InvalidVolumeName},
        {"rename to a bad name", kRenameVolume, Payload().Id(data).Text("bad/name", 16),
         SsiStatus::InvalidVolumeName},
        {"firmware action 2", kUpdateDriveFirmware, Payload().U16(2).Id(nvme4).U8(2),
         SsiStatus::InvalidFieldInCommand},
        {"firmware without revision", kSendFirmwareToSlot,
         Payload().U16(3).U32(1).Text("", 8).U8(7), SsiStatus::InvalidFieldInCommand},
        {"firmware revision not text", kSendFirmwareToSlot,
         Payload().U16(3).U32(1).Text("\x01", 8).U8(7), SsiStatus::InvalidFieldInCommand},
        {"firmware to slot 9", kSendFirmwareToSlot, Payload().U16(9).U32(1).Text("3.3.00", 8).U8(7),
         SsiStatus::InvalidFirmwareSlot},
        {"event type 3", kCreateEventSubscription, Payload().U8(0).Id({}).U8(2).U8(0).U8(3),
         SsiStatus::InvalidEventType},
        {"event type 142", kCreateEventSubscription, Payload().U8(0).Id({}).U8(1).U8(142),
         SsiStatus::InvalidEventType},
        {"subscription scope 6", kCreateEventSubscription, Payload().U8(6).Id({}).U8(0),
         SsiStatus::InvalidScope},
        {"subscription reserved bits", kCreateEventSubscription, Payload().U8(0x10).Id({}).U8(0),
         SsiStatus::InvalidFieldInCommand},
        {"subscription to an unknown drive", kCreateEventSubscription,
         Payload().U8(4).Id(kUnknown).U8(0), SsiStatus::InvalidDrive},
    };
    for (const FieldCase &row : cases) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Run(row.code, row.payload).status, Status(row.status));
    }
}

TEST_F(StorageExecutorTest, UnknownObjectsAreRefusedByKind) {
    const std::pair<std::vector<uint8_t>, SsiStatus> groups[] = {
        {{kGetVolumeMigrationCapabilities, kRebuildVolume, kExpandVolume, kChangeRaidLevel,
          kRenameVolume, kMarkVolumeAsNormal, kVerifyVolume, kCancelVolumeVerification,
          kInitializeVolume, kSetVolumeCachePolicy, kSetRaidWriteHolePolicy, kDeleteVolume},
         SsiStatus::InvalidVolume},
        {{kClearDriveMetadata, kMarkDriveAsSpare, kUnmarkSpareDrive, kMarkDriveAsNormal,
          kSetVolatileWriteCacheOnDrive, kResetSmartEventOnDrive, kActivateDriveLed, kRemoveDrive,
          kUpdateDriveFirmware},
         SsiStatus::InvalidDrive},
        {{kAddDrivesToArray, kSetVolatileWriteCacheOnArray}, SsiStatus::InvalidArray},
        {{kGetControllerRaidCapabilities, kSetRohiPolicy, kSetReadPatrolPolicy},
         SsiStatus::InvalidController},
        {{kCancelEventSubscription, kGetEvents}, SsiStatus::InvalidSubscription},
    };
    const auto payloads = WellFormedPayloads();
    for (const auto &[codes, status] : groups) {
        for (const uint8_t code : codes) {
            SCOPED_TRACE("command " + std::to_string(code));
            Bytes payload = payloads.at(code).second;
            if (code == kAddDrivesToArray) {
                payload = IdList(kUnknown, {DriveId("nvme4")});
            }
            EXPECT_EQ(Run(code, payload).status, Status(status));
        }
    }
}

TEST_F(StorageExecutorTest, VmdDriveElementLayout) {
    const Bytes answer = Data(kGetDriveInformation, Scope(4, DriveId("nvme0")));
    ASSERT_EQ(answer.size(), 2u + kDrive);
    EXPECT_EQ(Le(answer, 0, 2), 1u);
    const Bytes drive(answer.begin() + 2, answer.end());
    EXPECT_EQ(IdAt(drive, 0), DriveId("nvme0"));
    EXPECT_EQ(IdAt(drive, 16), ArrayId("array0"));
    EXPECT_EQ(IdAt(drive, 32), ControllerId("vmd0"));
    EXPECT_EQ(TextAt(drive, 48, 20), "SIMN16A0001842");
    EXPECT_EQ(TextAt(drive, 68, 40), "SimStore NV4 1.6TB");
    EXPECT_EQ(TextAt(drive, 108, 8), "3.1.04");
    EXPECT_EQ(Le(drive, 116, 8), 1600321314816u);
    EXPECT_EQ(Le(drive, 124, 4), 512u);
    EXPECT_EQ(Le(drive, 128, 4), 4096u);
    EXPECT_EQ(drive[132], 6) << "Normal";
    EXPECT_EQ(drive[133], 1) << "Array Member";
    EXPECT_EQ(drive[134], 0xE0) << "system drive, LED, pre-boot visible, no write cache";
    EXPECT_EQ(drive[135], 3) << "VMD";
    EXPECT_EQ(Le(drive, 136, 2), 0xE7B4u);
    EXPECT_EQ(drive[138], 0x03) << "16 GT/s, single port, not on the PCH";
    EXPECT_EQ(Le(drive, 139, 2), 0u);
    EXPECT_EQ(Le(drive, 141, 2), 0u);
    EXPECT_EQ(Le(drive, 143, 2), 0u);
    EXPECT_EQ(Le(drive, 145, 8), 1u) << "physical slot";
    EXPECT_TRUE(std::all_of(drive.begin() + 153, drive.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(StorageExecutorTest, SataDriveElementLayout) {
    ASSERT_EQ(Run(kSetVolatileWriteCacheOnDrive, IdAndByte(DriveId("sata1"), 0x80)).status, 0);
    const Bytes answer = Data(kGetDriveInformation, Scope(4, DriveId("sata1")));
    ASSERT_EQ(answer.size(), 2u + kDrive);
    const Bytes drive(answer.begin() + 2, answer.end());
    EXPECT_TRUE(std::all_of(drive.begin() + 16, drive.begin() + 32, [](uint8_t b) {
        return b == 0;
    })) << "in no array";
    EXPECT_EQ(drive[133], 2) << "Pass-through";
    EXPECT_EQ(drive[134], 0x70) << "LED, pre-boot visible, write cache";
    EXPECT_EQ(drive[135], 1) << "SATA";
    EXPECT_EQ(drive[136], 1) << "port";
    EXPECT_EQ(drive[137], 0x82) << "NCQ, not solid state, 6 Gb/s";
    EXPECT_TRUE(std::all_of(drive.begin() + 138, drive.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(StorageExecutorTest, VolumeElementLayout) {
    const Bytes answer = Data(kGetVolumeInformation, Scope(0));
    ASSERT_EQ(answer.size(), 2u + 2 * kVolume);
    EXPECT_EQ(Le(answer, 0, 2), 2u);
    const Bytes data(answer.begin() + 2 + kVolume, answer.end());
    EXPECT_EQ(IdAt(data, 0), VolumeId("data"));
    EXPECT_EQ(IdAt(data, 16), ArrayId("array0"));
    EXPECT_EQ(data[32], 1) << "second volume of its array";
    EXPECT_EQ(TextAt(data, 33, 16), "Data");
    EXPECT_EQ(data[49], 1) << "Normal";
    EXPECT_EQ(data[50], 4) << "RAID 5";
    EXPECT_EQ(Le(data, 51, 8), 2199023255552u);
    EXPECT_EQ(Le(data, 59, 2), 32u) << "64 KiB strips";
    EXPECT_EQ(data[61], 3);
    EXPECT_EQ(Le(data, 62, 2), 0u);
    EXPECT_EQ(data[64], 0x80) << "initialised, not migrating, not the system volume";
    EXPECT_EQ(Le(data, 65, 4), 0u);
    EXPECT_EQ(Le(data, 69, 4), 0u);
    EXPECT_EQ(Le(data, 73, 4), 512u);
    EXPECT_EQ(data[77], 0x31) << "write back, distributed";
    EXPECT_EQ(IdAt(data, 78), kNoIdentifier);
    EXPECT_EQ(answer[2 + 64], 0xA0) << "the system volume";
}

TEST_F(StorageExecutorTest, MigratingVolumeShowsItsProgress) {
    ASSERT_EQ(Run(kChangeRaidLevel, Payload().Id(VolumeId("system")).U16(64).U8(1).U16(0)).status,
              0);
    clock_.Set(JobDurations{}.migrate / 2);
    const Bytes answer = Data(kGetVolumeInformation, Scope(3, VolumeId("system")));
    ASSERT_EQ(answer.size(), 2u + kVolume);
    EXPECT_EQ(answer[2 + 49], 8) << "Migration";
    EXPECT_EQ(answer[2 + 50], 1) << "RAID 0";
    EXPECT_EQ(Le(answer, 2 + 59, 2), 64u);
    EXPECT_EQ(Le(answer, 2 + 62, 2), 0xFFFFu / 2);
    EXPECT_EQ(answer[2 + 64], 0xE0) << "initialised, migrating, system volume";
}

TEST_F(StorageExecutorTest, ControllerElementLayout) {
    const Bytes answer = Data(kGetControllerInformation, Scope(0));
    ASSERT_EQ(answer.size(), 2u + 2 * kController);
    const Bytes vmd(answer.begin() + 2, answer.begin() + 2 + kController);
    EXPECT_EQ(IdAt(vmd, 0), ControllerId("vmd0"));
    EXPECT_EQ(TextAt(vmd, 16, 256), "VMD NVMe RAID Controller");
    EXPECT_EQ(Le(vmd, 272, 2), 0xE7A1u);
    EXPECT_EQ(Le(vmd, 274, 2), 0x0B60u);
    EXPECT_EQ(Le(vmd, 276, 2), 0x0001u);
    EXPECT_EQ(vmd[278], 2);
    EXPECT_EQ(vmd[279], 0x80) << "pre-OS driver loaded";
    EXPECT_EQ(Le(vmd, 280, 2), 8u);
    EXPECT_EQ(Le(vmd, 286, 2), 1012u);
    EXPECT_EQ(Le(vmd, 294, 2), 1004u);
    EXPECT_EQ(Le(vmd, 296, 2), 4u);
    EXPECT_EQ(Le(vmd, 298, 2), 12u);
    EXPECT_EQ(Le(vmd, 300, 2), 24u);
    EXPECT_EQ(vmd[302], 0x80) << "ROHI on, read patrol off";
    EXPECT_EQ(vmd[303], 2) << "VMD";
    EXPECT_TRUE(std::all_of(vmd.begin() + 304, vmd.end(), [](uint8_t b) { return b == 0; }));
    const Bytes ahci(answer.begin() + 2 + kController, answer.end());
    EXPECT_EQ(ahci[303], 0) << "AHCI";
    EXPECT_EQ(ahci[304], 0x20) << "RAID mode";
}

TEST_F(StorageExecutorTest, ArrayElementLayout) {
    ASSERT_EQ(Run(kSetVolatileWriteCacheOnArray, IdAndByte(ArrayId("array0"), 0x80)).status, 0);
    const Bytes answer = Data(kGetArrayInformation, Scope(3, VolumeId("data")));
    ASSERT_EQ(answer.size(), 2u + kArray);
    EXPECT_EQ(IdAt(answer, 2), ArrayId("array0"));
    EXPECT_EQ(TextAt(answer, 2 + 16, 20), "Array0");
    const uint64_t total = 3 * 1600321314816ull;
    EXPECT_EQ(Le(answer, 2 + 36, 8), total);
    EXPECT_EQ(Le(answer, 2 + 44, 8), total - 2 * 214748364800ull - 3 * 1099511627776ull);
    EXPECT_EQ(answer[2 + 52], 0x80);
}

TEST_F(StorageExecutorTest, CapabilityAndExecutorAnswers) {
    const Bytes raid = Data(kGetControllerRaidCapabilities, Payload().Id(ControllerId("vmd0")));
    ASSERT_EQ(raid.size(), 1u + 4 * kRaidCapability);
    EXPECT_EQ(raid[0], 4);
    EXPECT_EQ(raid[1], 1) << "RAID 0 first";
    EXPECT_EQ(Le(raid, 2, 2), 2u);
    EXPECT_EQ(Le(raid, 4, 2), 24u);
    EXPECT_EQ(raid[6], 0xC0) << "even and odd counts";
    EXPECT_EQ(Le(raid, 7, 2), 64u);
    EXPECT_EQ(Le(raid, 9, 2), 0x7Eu);
    EXPECT_EQ(raid[11], 2) << "RAID 1 next";
    EXPECT_EQ(raid[16], 0x80) << "even counts only";

    const Bytes migrations =
        Data(kGetVolumeMigrationCapabilities, Payload().Id(VolumeId("system")));
    EXPECT_EQ(migrations, (Bytes{3, 0, 1, 0, 4, 1, 3, 2}));

    const Bytes executor = Data(kGetExecutorInformation, {});
    ASSERT_EQ(executor.size(), 40u);
    EXPECT_EQ(Le(executor, 0, 2), 1u);
    EXPECT_EQ(Le(executor, 2, 2), 0u);
    EXPECT_EQ(TextAt(executor, 4, 32), "hostsim executor 1.0.0");

    const Bytes slots = Data(kGetFirmwareSlotInformation, {});
    ASSERT_EQ(slots.size(), 6u + 3 * kFirmwareSlot);
    EXPECT_EQ(Le(slots, 0, 2), 3u);
    EXPECT_EQ(Le(slots, 2, 4), 16u << 20);
    EXPECT_EQ(Le(slots, 6, 2), 1u);
    EXPECT_EQ(TextAt(slots, 8, 8), "3.0.11");
    EXPECT_EQ(Le(slots, 26, 2), 3u);
    EXPECT_EQ(TextAt(slots, 28, 8), "");

    const Bytes ids = Data(kGetDriveIdentifiers, Scope(2, ArrayId("array0")));
    ASSERT_EQ(ids.size(), 2u + 3 * 16);
    EXPECT_EQ(Le(ids, 0, 2), 3u);
    EXPECT_EQ(IdAt(ids, 2 + 32), DriveId("nvme2"));
    EXPECT_EQ(Data(kGetArrayIdentifiers, Scope(1, ControllerId("sata0"))), (Bytes{0, 0}));
}

TEST_F(StorageExecutorTest, ActionsShowInTheInventory) {
    const Bytes created = Data(
        kCreateVolume, NewVolumePayload("Mirror", 2, 32, 0, {DriveId("sata0"), DriveId("sata1")}));
    ASSERT_EQ(created.size(), 16u);
    const Identifier mirror = IdAt(created, 0);
    const Bytes volume = Data(kGetVolumeInformation, Scope(3, mirror));
    ASSERT_EQ(volume.size(), 2u + kVolume);
    EXPECT_EQ(TextAt(volume, 2 + 33, 16), "Mirror");
    EXPECT_EQ(volume[2 + 50], 2) << "RAID 1";
    EXPECT_EQ(volume[2 + 61], 2);
    EXPECT_EQ(Le(Data(kGetArrayIdentifiers, Scope(0)), 0, 2), 2u);

    EXPECT_EQ(Run(kRenameVolume, Payload().Id(mirror).Text("Mirror-2", 16)).status, 0);
    EXPECT_EQ(TextAt(Data(kGetVolumeInformation, Scope(3, mirror)), 2 + 33, 16), "Mirror-2");
    EXPECT_EQ(Run(kDeleteVolume, Payload().Id(mirror)).status, 0);
    EXPECT_EQ(Le(Data(kGetVolumeIdentifiers, Scope(0)), 0, 2), 2u);
    EXPECT_EQ(Run(kGetVolumeInformation, Scope(3, mirror)).status,
              Status(SsiStatus::InvalidVolume));

    EXPECT_EQ(Run(kMarkDriveAsSpare, Payload().Id(DriveId("nvme4"))).status, 0);
    EXPECT_EQ(Data(kGetDriveInformation, Scope(4, DriveId("nvme4")))[2 + 133], 4) << "Spare";
    EXPECT_EQ(
        Run(kSendFirmwareToSlot, Payload().U16(3).U32(2).Text("3.3.00", 8).U16(0xABCD)).status, 0);
    EXPECT_EQ(TextAt(Data(kGetFirmwareSlotInformation, {}), 28, 8), "3.3.00");
}

TEST_F(StorageExecutorTest, GetEventsWaitsForAnEvent) {
    const Identifier subscription = Subscribe(Scope(0));
    std::vector<SsiAnswer> answers;
    GetEvents(subscription, 0, answers);
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(executor_.HeldRequests(), 1u);

    ASSERT_EQ(model_.FailDrive(DriveId("nvme2")), SsiStatus::Success);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 0);
    const Bytes &events = answers[0].payload;
    ASSERT_EQ(events.size(), 2u + 3 * kEvent);
    EXPECT_EQ(Le(events, 0, 2), 3u);
    EXPECT_EQ(events[2], 2) << "Drive failed";
    EXPECT_EQ(IdAt(events, 3), DriveId("nvme2"));
    EXPECT_EQ(events[2 + 17], 139) << "Volume degraded";
    EXPECT_EQ(IdAt(events, 2 + 17 + 1), VolumeId("data"));
    EXPECT_EQ(events[2 + 34], 129) << "Volume rebuild started";
    EXPECT_EQ(executor_.HeldRequests(), 0u);
}

TEST_F(StorageExecutorTest, EventsACommandRaisesFollowItsAnswer) {
    const Identifier subscription = Subscribe(Scope(4, DriveId("nvme4")));
    std::vector<std::string> order;
    executor_.Handle(kGetEvents, Bytes(Payload().Id(subscription).U32(0)),
                     [&order](SsiAnswer answer) {
                         order.push_back("events " + std::to_string(answer.payload.size()));
                     });
    executor_.Handle(
        kRemoveDrive, Bytes(Payload().Id(DriveId("nvme4"))),
        [&order](SsiAnswer answer) { order.push_back("remove " + std::to_string(answer.status)); });
    EXPECT_EQ(order, (std::vector<std::string>{"remove 0", "events 19"}));
}

TEST_F(StorageExecutorTest, GetEventsTakesAtMostTheRequestedCount) {
    const Identifier subscription = Subscribe(Scope(0), {0, 1});
    model_.RaiseEvent(EventType::DriveInserted, MakeIdentifier(1));
    model_.RaiseEvent(EventType::DriveFailed, MakeIdentifier(2));
    model_.RaiseEvent(EventType::DriveRemoved, MakeIdentifier(3));
    model_.RaiseEvent(EventType::DriveInserted, MakeIdentifier(4));
    const Bytes two = Data(kGetEvents, Payload().Id(subscription).U32(2));
    ASSERT_EQ(two.size(), 2u + 2 * kEvent);
    EXPECT_EQ(two[2], 0);
    EXPECT_EQ(two[2 + 17], 1) << "the failure was not subscribed to";
    EXPECT_EQ(IdAt(two, 2 + 18), MakeIdentifier(3));
    const Bytes rest = Data(kGetEvents, Payload().Id(subscription).U32(0));
    EXPECT_EQ(Le(rest, 0, 2), 1u);
    EXPECT_EQ(IdAt(rest, 3), MakeIdentifier(4));
}

TEST_F(StorageExecutorTest, HeldRequestsAreAnsweredOldestFirst) {
    const Identifier subscription = Subscribe(Scope(0));
    std::vector<SsiAnswer> first;
    std::vector<SsiAnswer> second;
    GetEvents(subscription, 0, first);
    GetEvents(subscription, 0, second);
    model_.RaiseEvent(EventType::DriveInserted, MakeIdentifier(1));
    EXPECT_EQ(first.size(), 1u);
    EXPECT_TRUE(second.empty());
    model_.RaiseEvent(EventType::DriveInserted, MakeIdentifier(2));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(IdAt(second[0].payload, 3), MakeIdentifier(2));
}

TEST_F(StorageExecutorTest, CancellingASubscriptionAnswersItsHeldRequests) {
    const Identifier subscription = Subscribe(Scope(0));
    const Identifier other = Subscribe(Scope(0));
    std::vector<SsiAnswer> answers;
    GetEvents(subscription, 0, answers);
    GetEvents(subscription, 5, answers);
    GetEvents(other, 0, answers);
    std::vector<uint16_t> statuses;
    executor_.Handle(kCancelEventSubscription, Bytes(Payload().Id(subscription)),
                     [&statuses](SsiAnswer answer) { statuses.push_back(answer.status); });
    EXPECT_EQ(statuses, (std::vector<uint16_t>{0}));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].status, Status(SsiStatus::InvalidSubscription));
    EXPECT_EQ(answers[1].status, Status(SsiStatus::InvalidSubscription));
    EXPECT_EQ(executor_.HeldRequests(), 1u) << "the other subscription still waits";
    EXPECT_EQ(Run(kGetEvents, Payload().Id(subscription).U32(0)).status,
              Status(SsiStatus::InvalidSubscription));
}

TEST_F(StorageExecutorTest, ARestartForgetsSubscriptionsAndHeldRequests) {
    const Identifier subscription = Subscribe(Scope(0));
    std::vector<SsiAnswer> answers;
    GetEvents(subscription, 0, answers);
    executor_.Restart();
    EXPECT_EQ(executor_.HeldRequests(), 0u);
    ASSERT_EQ(model_.FailDrive(DriveId("nvme2")), SsiStatus::Success);
    EXPECT_TRUE(answers.empty()) << "nobody waits for that answer any more";
    EXPECT_EQ(Run(kGetEvents, Payload().Id(subscription).U32(0)).status,
              Status(SsiStatus::InvalidSubscription));
}

// Requests on the default host's real objects, which change it.
std::vector<std::pair<uint8_t, Bytes>> ActingPayloads() {
    const Identifier data = VolumeId("data");
    const Identifier system = VolumeId("system");
    const Identifier nvme4 = DriveId("nvme4");
    const std::vector<Identifier> sata = {DriveId("sata0"), DriveId("sata1")};
    return {
        {kMarkDriveAsSpare, Payload().Id(nvme4)},
        {kUnmarkSpareDrive, Payload().Id(DriveId("nvme3"))},
        {kClearDriveMetadata, Payload().Id(DriveId("nvme5"))},
        {kRemoveDrive, Payload().Id(DriveId("nvme1"))},
        {kMarkDriveAsNormal, Payload().Id(DriveId("nvme2"))},
        {kCreateVolume, NewVolumePayload("Mirror", 2, 32, 0, sata)},
        {kCreateVolume, NewVolumePayload("Stripe", 1, 64, 0, {nvme4, DriveId("nvme5")})},
        {kDeleteVolume, Payload().Id(data)},
        {kVerifyVolume, IdAndByte(system, 0x80)},
        {kInitializeVolume, Payload().Id(data)},
        {kRebuildVolume, IdList(data, {nvme4})},
        {kRebuildVolume, IdList(system, {DriveId("nvme5")})},
        {kChangeRaidLevel, Payload().Id(system).U16(32).U8(4).U16(1).Id(DriveId("nvme2"))},
        {kExpandVolume, Payload().Id(data).U64(2300ull << 30)},
        {kMarkVolumeAsNormal, Payload().Id(data)},
        {kSetRaidWriteHolePolicy, Payload().Id(data).U8(0x20).Id(nvme4)},
        {kAddDrivesToArray, IdList(ArrayId("array0"), {nvme4})},
    };
}

TEST_F(StorageExecutorTest, RandomPayloadsGetAnAnswerAndKeepTheModelConsistent) {
    std::mt19937 random(7);
    auto payloads = WellFormedPayloads();
    for (const auto &acting : ActingPayloads()) {
        payloads.push_back(acting);
        payloads.push_back(acting);
    }
    const std::vector<Identifier> drives = {DriveId("nvme0"), DriveId("nvme2"), DriveId("nvme4"),
                                            DriveId("sata1")};
    for (int round = 0; round < 20000; ++round) {
        if (round % 97 == 0) {
            const Identifier &drive = drives[random() % drives.size()];
            (void)(random() % 2 == 0 ? model_.FailDrive(drive) : model_.ReinsertDrive(drive));
            clock_.Set(clock_.Now() + Duration{random() % 30000});
            model_.OnTime();
        }
        // Well-formed payloads with a few bytes changed reach deeper than
        // noise; some rounds change the length too.
        const auto &[code, good] = payloads[random() % payloads.size()];
        Bytes payload = good;
        if (round % 4 == 0) {
            payload.resize(random() % 80);
        }
        for (int flips = random() % 4; flips > 0 && !payload.empty(); --flips) {
            payload[random() % payload.size()] = static_cast<uint8_t>(random());
        }
        const uint8_t sent = round % 50 == 0 ? static_cast<uint8_t>(random()) : code;
        int answers = 0;
        executor_.Handle(sent, payload, [&answers](SsiAnswer) { ++answers; });
        EXPECT_LE(answers, 1);
        if (answers == 0) {
            EXPECT_EQ(sent, kGetEvents) << "only GetEvents may wait";
        }
    }
    const InventoryLoad reread = ParseInventory(WriteInventory(model_));
    EXPECT_TRUE(reread.inventory) << "the model still describes a valid host: " << reread.error;
}

} // namespace
} // namespace vuno::hostsim
