// Decoding of response payloads: the length rule of every record, every
// flag bit, the drive connection types and the field layouts. Expected
// values are written from the wire offsets, not from the decoder.
#include "fake_platform.hpp"
#include "ssi.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void putLe(Bytes &bytes, size_t offset, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Distinct non-zero bytes over the whole width, so a short copy shows.
void putPattern(Bytes &bytes, size_t offset, size_t width, uint8_t first) {
    for (size_t i = 0; i < width; ++i) {
        bytes.at(offset + i) = static_cast<uint8_t>(first + i);
    }
}

bool sameBytes(const uint8_t *field, const Bytes &bytes, size_t offset, size_t width) {
    return std::memcmp(field, bytes.data() + offset, width) == 0;
}

// A list payload: count n in `countWidth` bytes, then `size - countWidth`
// zero bytes.
Bytes listPayload(size_t countWidth, unsigned n, size_t size) {
    Bytes payload(size);
    if (size >= countWidth) {
        putLe(payload, 0, n, countWidth);
    }
    return payload;
}

template <class List> unsigned countOf(const void *record) {
    return static_cast<const List *>(record)->Count;
}

class ResponsesTest : public ::testing::Test {
  protected:
    void SetUp() override { instance = platform.createInstance(); }
    void TearDown() override { sized_free(&record); }

    int decode(uint8_t code, const Bytes &payload) {
        sized_free(&record);
        platform.clearLogs();
        return ssi_decode_response(instance, code, payload.data(),
                                   static_cast<uint32_t>(payload.size()), &record);
    }
    template <class T> const T &as() const { return *static_cast<const T *>(record); }

    void expectLengthRefused(uint8_t code, const Bytes &payload) {
        SCOPED_TRACE("code " + std::to_string(code) + ", " + std::to_string(payload.size()) +
                     " bytes");
        EXPECT_NE(decode(code, payload), 0);
        EXPECT_EQ(record, nullptr);
        EXPECT_TRUE(platform.loggedError(
            "Invalid SSI Response length: " + std::to_string(payload.size()) + "."));
    }

    vuno::testing::FakePlatform platform;
    vuno_instance *instance = nullptr;
    void *record = nullptr;
};

struct ListShape {
    uint8_t code;
    size_t countWidth;
    size_t header; // count and fixed fields
    size_t element;
    unsigned (*count)(const void *record);
};

const ListShape kLists[] = {
    {0, 2, 2, 16, countOf<vuno_identifier_list_record>},
    {1, 2, 2, 16, countOf<vuno_identifier_list_record>},
    {2, 2, 2, 16, countOf<vuno_identifier_list_record>},
    {3, 2, 2, 16, countOf<vuno_identifier_list_record>},
    {4, 2, 2, 167, countOf<vuno_drive_information_list>},
    {5, 2, 2, 94, countOf<vuno_volume_information_list>},
    {6, 2, 2, 2, countOf<vuno_migration_capability_list>},
    {7, 2, 2, 53, countOf<vuno_array_information_list>},
    {8, 2, 2, 335, countOf<vuno_controller_information_list>},
    {9, 1, 1, 10, countOf<vuno_raid_capability_list>},
    {11, 2, 6, 10, countOf<vuno_firmware_slot_list>},
    {40, 2, 2, 17, countOf<vuno_event_list>},
};

struct FixedShape {
    uint8_t code;
    size_t size;
};

const FixedShape kFixed[] = {{10, 40}, {22, 16}, {38, 18}};

TEST_F(ResponsesTest, ListsAcceptExactlyHeaderPlusCountElements) {
    for (const auto &list : kLists) {
        SCOPED_TRACE("code " + std::to_string(list.code));
        const size_t exact = list.header + 3 * list.element;
        ASSERT_EQ(decode(list.code, listPayload(list.countWidth, 3, exact)), 0);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(list.count(record), 3u);

        ASSERT_EQ(decode(list.code, listPayload(list.countWidth, 0, list.header)), 0);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(list.count(record), 0u);

        expectLengthRefused(list.code, listPayload(list.countWidth, 3, exact - 1));
        expectLengthRefused(list.code, listPayload(list.countWidth, 3, exact + 1));
        expectLengthRefused(list.code, listPayload(list.countWidth, 0, list.header + 1));
        // The count alone is an empty list only where no fixed fields follow.
        if (list.header > list.countWidth) {
            expectLengthRefused(list.code, listPayload(list.countWidth, 0, list.countWidth));
        }
        for (size_t size = 0; size < list.countWidth; ++size) {
            expectLengthRefused(list.code, listPayload(list.countWidth, 0, size));
        }
    }
}

TEST_F(ResponsesTest, FixedRecordsAcceptOnlyTheirSize) {
    for (const auto &fixed : kFixed) {
        EXPECT_EQ(decode(fixed.code, Bytes(fixed.size)), 0) << "code " << int(fixed.code);
        EXPECT_NE(record, nullptr);
        expectLengthRefused(fixed.code, Bytes(fixed.size - 1));
        expectLengthRefused(fixed.code, Bytes(fixed.size + 1));
        expectLengthRefused(fixed.code, Bytes());
    }
}

TEST_F(ResponsesTest, CodesWithoutDataIgnoreThePayload) {
    const std::set<int> withData = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 22, 38, 40};
    for (int code = 0; code <= 255; ++code) {
        if (withData.count(code) != 0) {
            continue;
        }
        void *decoded = &platform; // must be cleared
        // No payload behind a large length: reading it would crash.
        EXPECT_EQ(
            ssi_decode_response(instance, static_cast<uint8_t>(code), nullptr, 4096, &decoded), 0)
            << "code " << code;
        EXPECT_EQ(decoded, nullptr);
    }
}

// One flag byte of an element and the fields its bits feed.
struct FlagField {
    const char *name;
    uint8_t mask;
    uint32_t (*value)(const void *record);
};

struct FlagByte {
    const char *name;
    uint8_t code;
    size_t header;
    size_t element;
    size_t offset;
    size_t typeOffset; // 0: no type to set
    uint8_t type;
    std::vector<FlagField> fields;
};

// clang-format off
#define FIELD(list, elements, member, mask)                                                        \
    {#member, mask, [](const void *r) -> uint32_t {                                                \
        return static_cast<const list *>(r)->elements[0].member; }}
#define DRIVE(member, mask) FIELD(vuno_drive_information_list, Drives, member, mask)
#define VOLUME(member, mask) FIELD(vuno_volume_information_list, Volumes, member, mask)
#define CONTROLLER(member, mask) FIELD(vuno_controller_information_list, Controllers, member, mask)
#define RAID(member, mask) FIELD(vuno_raid_capability_list, Capabilities, member, mask)

const FlagByte kFlagBytes[] = {
    {"drive flags", 4, 2, 167, 134, 0, 0,
     {DRIVE(SystemDrive, 0x80), DRIVE(ActivateLedSupport, 0x40), DRIVE(PrebootVisible, 0x20),
      DRIVE(WriteCacheState, 0x10)}},
    {"SATA link", 4, 2, 167, 137, 135, 1,
     {DRIVE(Sata.NCQSupported, 0x80), DRIVE(Sata.SolidStateDrive, 0x40),
      DRIVE(Sata.NegotiatedLinkRate, 0x3F)}},
    {"PCIe link", 4, 2, 167, 138, 135, 2,
     {DRIVE(Nvme.DualControllerNVMe, 0x80), DRIVE(Nvme.DualControllerOrder, 0x40),
      DRIVE(Nvme.AttachedToPCH, 0x20), DRIVE(Nvme.NegotiatedLinkRate, 0x1F)}},
    {"VMD link", 4, 2, 167, 138, 135, 3,
     {DRIVE(Nvme.DualControllerNVMe, 0x80), DRIVE(Nvme.DualControllerOrder, 0x40),
      DRIVE(Nvme.AttachedToPCH, 0x20), DRIVE(Nvme.NegotiatedLinkRate, 0x1F)}},
    {"volume flags", 5, 2, 94, 64, 0, 0,
     {VOLUME(Initialized, 0x80), VOLUME(Migrating, 0x40), VOLUME(SystemVolume, 0x20)}},
    {"volume policies", 5, 2, 94, 77, 0, 0,
     {VOLUME(VolumeCachePolicy, 0xF0), VOLUME(RAIDWriteHolePolicy, 0x0F)}},
    {"array cache", 7, 2, 53, 52, 0, 0,
     {FIELD(vuno_array_information_list, Arrays, VolatileWriteCacheState, 0x80)}},
    {"pre-OS driver", 8, 2, 335, 279, 0, 0, {CONTROLLER(PreosDriverLoaded, 0x80)}},
    {"controller policies", 8, 2, 335, 302, 0, 0,
     {CONTROLLER(ROHIEnabled, 0x80), CONTROLLER(ReadPatrolEnabled, 0x40)}},
    {"AHCI mode", 8, 2, 335, 304, 303, 0, {CONTROLLER(ControllerMode, 0xE0)}},
    {"drive count parity", 9, 1, 10, 5, 0, 0,
     {RAID(EvenDriveCount, 0x80), RAID(OddDriveCount, 0x40)}},
};
// clang-format on

// Bits outside every mask change nothing; a bit inside one changes only
// that field, by its weight within the field.
TEST_F(ResponsesTest, EachFlagBitFeedsExactlyOneField) {
    for (const auto &flags : kFlagBytes) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            SCOPED_TRACE(std::string(flags.name) + ", bit " + std::to_string(bit));
            Bytes payload = listPayload(flags.header, 1, flags.header + flags.element);
            if (flags.typeOffset != 0) {
                payload[flags.header + flags.typeOffset] = flags.type;
            }
            payload[flags.header + flags.offset] = static_cast<uint8_t>(1u << bit);
            ASSERT_EQ(decode(flags.code, payload), 0);

            for (const auto &field : flags.fields) {
                uint32_t expected = 0;
                if ((field.mask & (1u << bit)) != 0) {
                    unsigned lowest = 0;
                    while ((field.mask & (1u << lowest)) == 0) {
                        ++lowest;
                    }
                    expected = 1u << (bit - lowest);
                }
                EXPECT_EQ(field.value(record), expected) << field.name;
            }
        }
    }
}

constexpr size_t kDrive = 167;

// A drive element whose type-specific bytes 136..166 are 0xA0, 0xA1...
Bytes driveElement(uint8_t type) {
    Bytes drive(kDrive);
    putPattern(drive, 0, 48, 0x01);  // three identifiers
    putPattern(drive, 48, 68, 0x31); // serial, model and revision, full width
    putLe(drive, 116, 0x0807060504030201ull, 8);
    putLe(drive, 124, 512, 4);
    putLe(drive, 128, 4096, 4);
    drive[132] = 9; // beyond the known statuses: kept
    drive[133] = 5;
    drive[135] = type;
    putPattern(drive, 136, kDrive - 136, 0xA0);
    return drive;
}

TEST_F(ResponsesTest, DriveCommonPartAndListStride) {
    Bytes payload = {2, 0};
    for (uint8_t type : {0, 4}) {
        const Bytes drive = driveElement(type);
        payload.insert(payload.end(), drive.begin(), drive.end());
    }
    ASSERT_EQ(decode(4, payload), 0);
    const auto &list = as<vuno_drive_information_list>();
    ASSERT_EQ(list.Count, 2);
    for (unsigned i = 0; i < 2; ++i) {
        const auto &drive = list.Drives[i];
        const size_t at = 2 + i * kDrive;
        EXPECT_TRUE(sameBytes(drive.Id, payload, at, 16));
        EXPECT_TRUE(sameBytes(drive.ArrayId, payload, at + 16, 16));
        EXPECT_TRUE(sameBytes(drive.ControllerId, payload, at + 32, 16));
        EXPECT_TRUE(sameBytes(drive.Serial, payload, at + 48, 20));
        EXPECT_TRUE(sameBytes(drive.Model, payload, at + 68, 40));
        EXPECT_TRUE(sameBytes(drive.FwRev, payload, at + 108, 8));
        EXPECT_EQ(drive.Size, 0x0807060504030201ull);
        EXPECT_EQ(drive.LogicalBlockSize, 512u);
        EXPECT_EQ(drive.PhysicalBlockSize, 4096u);
        EXPECT_EQ(drive.Status, 9u);
        EXPECT_EQ(drive.Usage, 5u);
    }
    EXPECT_EQ(list.Drives[0].Type, 0u);
    EXPECT_EQ(list.Drives[1].Type, 4u);
}

TEST_F(ResponsesTest, DriveConnectionTypesDecodeOnlyTheirOwnFields) {
    struct Expected {
        uint8_t type;
        vuno_drive_sata sata;
        vuno_drive_nvme nvme;
    };
    // Bytes 136.. are A0 A1 A2 ...: A1 = 1010 0001b, A2 = 1010 0010b.
    const Expected cases[] = {
        {0, {0xA0, 0, 0, 0}, {}},
        {1, {0xA0, 0x21, 0, 1}, {}},
        {2, {}, {0xA1A0, 2, 1, 0, 1, 0, 0, 0, 0}},
        {3, {}, {0xA1A0, 2, 1, 0, 1, 0xA4A3, 0xA6A5, 0xA8A7, 0xB0AFAEADACABAAA9ull}},
        {4, {}, {}},
    };
    for (const auto &expected : cases) {
        SCOPED_TRACE("type " + std::to_string(expected.type));
        Bytes payload = {1, 0};
        const Bytes drive = driveElement(expected.type);
        payload.insert(payload.end(), drive.begin(), drive.end());
        ASSERT_EQ(decode(4, payload), 0);
        const auto &decoded = as<vuno_drive_information_list>().Drives[0];
        EXPECT_EQ(decoded.Type, expected.type);
        EXPECT_EQ(decoded.Size, 0x0807060504030201ull);
        if (expected.type <= 1) {
            EXPECT_EQ(decoded.Sata.PortNumber, expected.sata.PortNumber);
            EXPECT_EQ(decoded.Sata.NegotiatedLinkRate, expected.sata.NegotiatedLinkRate);
            EXPECT_EQ(decoded.Sata.SolidStateDrive, expected.sata.SolidStateDrive);
            EXPECT_EQ(decoded.Sata.NCQSupported, expected.sata.NCQSupported);
            continue;
        }
        const vuno_drive_nvme &nvme = decoded.Nvme;
        EXPECT_EQ(nvme.VendorId, expected.nvme.VendorId);
        EXPECT_EQ(nvme.NegotiatedLinkRate, expected.nvme.NegotiatedLinkRate);
        EXPECT_EQ(nvme.AttachedToPCH, expected.nvme.AttachedToPCH);
        EXPECT_EQ(nvme.DualControllerOrder, expected.nvme.DualControllerOrder);
        EXPECT_EQ(nvme.DualControllerNVMe, expected.nvme.DualControllerNVMe);
        EXPECT_EQ(nvme.SocketNumber, expected.nvme.SocketNumber);
        EXPECT_EQ(nvme.VMDControllerNumber, expected.nvme.VMDControllerNumber);
        EXPECT_EQ(nvme.RootPortOffset, expected.nvme.RootPortOffset);
        EXPECT_EQ(nvme.PhysicalSlotNumber, expected.nvme.PhysicalSlotNumber);
    }
}

TEST_F(ResponsesTest, VolumeLayout) {
    Bytes payload = listPayload(2, 1, 2 + 94);
    const size_t at = 2;
    putPattern(payload, at, 32, 0x10); // volume and array identifiers
    payload[at + 32] = 3;
    putPattern(payload, at + 33, 16, 'a'); // name, full width
    payload[at + 49] = 10;                 // beyond the known states: kept
    payload[at + 50] = 4;
    putLe(payload, at + 51, 0x1122334455667788ull, 8);
    putLe(payload, at + 59, 64, 2);
    payload[at + 61] = 4;
    putLe(payload, at + 62, 65535, 2);
    putLe(payload, at + 65, 0xA1A2A3A4, 4);
    putLe(payload, at + 69, 0xB1B2B3B4, 4);
    putLe(payload, at + 73, 4096, 4);
    putPattern(payload, at + 78, 16, 0x50);
    ASSERT_EQ(decode(5, payload), 0);
    const auto &volume = as<vuno_volume_information_list>().Volumes[0];
    EXPECT_TRUE(sameBytes(volume.Id, payload, at, 16));
    EXPECT_TRUE(sameBytes(volume.ArrayId, payload, at + 16, 16));
    EXPECT_EQ(volume.ArrayOrdinal, 3);
    EXPECT_TRUE(sameBytes(volume.Name, payload, at + 33, 16));
    EXPECT_EQ(volume.State, 10u);
    EXPECT_EQ(volume.Level, 4u);
    EXPECT_EQ(volume.Size, 0x1122334455667788ull);
    EXPECT_EQ(volume.StripSizeCode, 64u);
    EXPECT_EQ(volume.DrivesNumber, 4);
    EXPECT_EQ(volume.MigrationProgress, 65535);
    EXPECT_EQ(volume.VerifyErrors, 0xA1A2A3A4u);
    EXPECT_EQ(volume.VerifyBadBlocks, 0xB1B2B3B4u);
    EXPECT_EQ(volume.LogicalBlockSize, 4096u);
    EXPECT_TRUE(sameBytes(volume.JournalingDriveIdentifier, payload, at + 78, 16));
}

TEST_F(ResponsesTest, MigrationAndArrayLayouts) {
    ASSERT_EQ(decode(6, {2, 0, 4, 1, 0x7F, 0xFF}), 0);
    const auto &migrations = as<vuno_migration_capability_list>();
    EXPECT_EQ(migrations.Capabilities[0].TargetRAIDLevel, 4u);
    EXPECT_EQ(migrations.Capabilities[0].MinAdditionalDrivesCount, 1);
    EXPECT_EQ(migrations.Capabilities[1].TargetRAIDLevel, 0x7Fu);
    EXPECT_EQ(migrations.Capabilities[1].MinAdditionalDrivesCount, 0xFF);

    Bytes payload = listPayload(2, 1, 2 + 53);
    putPattern(payload, 2, 16, 0x01);
    putPattern(payload, 18, 20, 'A'); // name, full width
    putLe(payload, 38, 0x0102030405060708ull, 8);
    putLe(payload, 46, 0x1112131415161718ull, 8);
    ASSERT_EQ(decode(7, payload), 0);
    const auto &array = as<vuno_array_information_list>().Arrays[0];
    EXPECT_TRUE(sameBytes(array.Id, payload, 2, 16));
    EXPECT_TRUE(sameBytes(array.Name, payload, 18, 20));
    EXPECT_EQ(array.TotalSize, 0x0102030405060708ull);
    EXPECT_EQ(array.FreeSize, 0x1112131415161718ull);
}

TEST_F(ResponsesTest, ControllerLayoutAndTypeSpecificBytes) {
    Bytes payload = listPayload(2, 3, 2 + 3 * 335);
    for (uint8_t type = 0; type < 3; ++type) {
        const size_t at = 2 + type * 335u;
        putPattern(payload, at, 16, 0x01);
        putPattern(payload, at + 16, 256, 0x01); // name, full width
        putLe(payload, at + 272, 0x1A2B, 2);
        putLe(payload, at + 274, 0x3C4D, 2);
        putLe(payload, at + 276, 0x5E6F, 2);
        payload[at + 278] = 7;
        for (size_t part = 0; part < 8; ++part) {
            putLe(payload, at + 280 + 2 * part, 1000 + part, 2);
        }
        putLe(payload, at + 296, 2, 2);
        putLe(payload, at + 298, 12, 2);
        putLe(payload, at + 300, 48, 2);
        payload[at + 303] = type;
        putLe(payload, at + 304, 0xC4C3C2E1, 4);
    }
    ASSERT_EQ(decode(8, payload), 0);
    const auto &list = as<vuno_controller_information_list>();
    for (unsigned type = 0; type < 3; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        const auto &controller = list.Controllers[type];
        const size_t at = 2 + type * 335u;
        EXPECT_TRUE(sameBytes(controller.Id, payload, at, 16));
        EXPECT_TRUE(sameBytes(controller.Name, payload, at + 16, 256));
        EXPECT_EQ(controller.VendorId, 0x1A2B);
        EXPECT_EQ(controller.DeviceId, 0x3C4D);
        EXPECT_EQ(controller.SubsystemId, 0x5E6F);
        EXPECT_EQ(controller.HardwareRev, 7);
        for (unsigned part = 0; part < 4; ++part) {
            EXPECT_EQ(controller.OSDriverVer[part], 1000 + part);
            EXPECT_EQ(controller.PreosDriverVer[part], 1004 + part);
        }
        EXPECT_EQ(controller.MaxVolumesPerArray, 2);
        EXPECT_EQ(controller.MaxVolumesPerController, 12);
        EXPECT_EQ(controller.MaxDrivesPerController, 48);
        EXPECT_EQ(controller.Type, type);
        // Byte 304 is E1 = 111 00001b: mode 7, for AHCI controllers only.
        EXPECT_EQ(controller.ControllerMode, type == 0 ? 7u : 0u);
        const uint8_t vmdBytes[4] = {0xE1, 0xC2, 0xC3, 0xC4};
        const uint8_t none[4] = {};
        EXPECT_EQ(std::memcmp(controller.VmdDetails, type == 2 ? vmdBytes : none, 4), 0);
    }
}

TEST_F(ResponsesTest, RaidCapabilityLayout) {
    Bytes payload = listPayload(1, 2, 1 + 20);
    payload[1] = 1;
    putLe(payload, 2, 2, 2);
    putLe(payload, 4, 32, 2);
    putLe(payload, 7, 64, 2);
    putLe(payload, 9, 0x0060, 2);
    payload[11] = 4;
    putLe(payload, 12, 3, 2);
    putLe(payload, 14, 8, 2);
    putLe(payload, 17, 128, 2);
    putLe(payload, 19, 0xFFFF, 2);
    ASSERT_EQ(decode(9, payload), 0);
    const auto &list = as<vuno_raid_capability_list>();
    ASSERT_EQ(list.Count, 2);
    EXPECT_EQ(list.Capabilities[0].Level, 1u);
    EXPECT_EQ(list.Capabilities[0].MinDrivesCount, 2);
    EXPECT_EQ(list.Capabilities[0].MaxDrivesCount, 32);
    EXPECT_EQ(list.Capabilities[0].DefaultStripSizeCode, 64u);
    EXPECT_EQ(list.Capabilities[0].SupportedStripSizesMask, 0x0060);
    EXPECT_EQ(list.Capabilities[1].Level, 4u);
    EXPECT_EQ(list.Capabilities[1].MinDrivesCount, 3);
    EXPECT_EQ(list.Capabilities[1].MaxDrivesCount, 8);
    EXPECT_EQ(list.Capabilities[1].DefaultStripSizeCode, 128u);
    EXPECT_EQ(list.Capabilities[1].SupportedStripSizesMask, 0xFFFF);
}

TEST_F(ResponsesTest, ExecutorInformationLayout) {
    Bytes payload(40);
    putLe(payload, 0, 1, 2);
    putLe(payload, 2, 0x0203, 2);
    putPattern(payload, 4, 32, '0'); // version text, full width
    putLe(payload, 36, 0xDEADBEEF, 4);
    ASSERT_EQ(decode(10, payload), 0);
    const auto &executor = as<vuno_executor_information>();
    EXPECT_EQ(executor.SSIVersionMajor, 1);
    EXPECT_EQ(executor.SSIVersionMinor, 0x0203);
    EXPECT_TRUE(sameBytes(executor.ExecutorVersion, payload, 4, 32));
    EXPECT_EQ(executor.Reserved, 0xDEADBEEFu);
}

TEST_F(ResponsesTest, FirmwareSlotLayout) {
    Bytes payload = listPayload(2, 2, 6 + 20);
    putLe(payload, 2, 0x00010203, 4);
    putLe(payload, 6, 0x0102, 2);
    putPattern(payload, 8, 8, 'r'); // revision, full width
    putLe(payload, 16, 7, 2);
    putPattern(payload, 18, 8, 'R');
    ASSERT_EQ(decode(11, payload), 0);
    const auto &list = as<vuno_firmware_slot_list>();
    EXPECT_EQ(list.Count, 2);
    EXPECT_EQ(list.Capacity, 0x00010203u);
    EXPECT_EQ(list.Slots[0].Number, 0x0102);
    EXPECT_TRUE(sameBytes(list.Slots[0].Revision, payload, 8, 8));
    EXPECT_EQ(list.Slots[1].Number, 7);
    EXPECT_TRUE(sameBytes(list.Slots[1].Revision, payload, 18, 8));

    ASSERT_EQ(decode(11, {0, 0, 4, 0, 0, 0}), 0);
    EXPECT_EQ(as<vuno_firmware_slot_list>().Count, 0);
    EXPECT_EQ(as<vuno_firmware_slot_list>().Capacity, 4u);
}

TEST_F(ResponsesTest, VolumeIdentifierSubscriptionAndIdentifierList) {
    Bytes identifiers = listPayload(2, 2, 2 + 32);
    putPattern(identifiers, 2, 32, 0x40);
    ASSERT_EQ(decode(1, identifiers), 0);
    EXPECT_TRUE(sameBytes(as<vuno_identifier_list_record>().Ids[0], identifiers, 2, 16));
    EXPECT_TRUE(sameBytes(as<vuno_identifier_list_record>().Ids[1], identifiers, 18, 16));

    Bytes volume(16);
    putPattern(volume, 0, 16, 0x80);
    ASSERT_EQ(decode(22, volume), 0);
    EXPECT_TRUE(sameBytes(as<vuno_volume_identifier>().VolumeId, volume, 0, 16));

    Bytes subscription(18);
    putPattern(subscription, 0, 16, 0x90);
    putLe(subscription, 16, 0x0140, 2);
    ASSERT_EQ(decode(38, subscription), 0);
    EXPECT_TRUE(sameBytes(as<vuno_subscription>().SubscriptionId, subscription, 0, 16));
    EXPECT_EQ(as<vuno_subscription>().EventQueueDepth, 0x0140);
}

TEST_F(ResponsesTest, EventListKeepsTypesAsReceived) {
    Bytes payload = listPayload(2, 2, 2 + 34);
    payload[2] = 141;
    putPattern(payload, 3, 16, 0x11);
    payload[19] = 3; // not an event type
    putPattern(payload, 20, 16, 0x21);
    ASSERT_EQ(decode(40, payload), 0);
    const auto &events = as<vuno_event_list>();
    ASSERT_EQ(events.Count, 2);
    EXPECT_EQ(events.Events[0].EventType, 141u);
    EXPECT_TRUE(sameBytes(events.Events[0].EventIdentifier, payload, 3, 16));
    EXPECT_EQ(events.Events[1].EventType, 3u);
    EXPECT_TRUE(sameBytes(events.Events[1].EventIdentifier, payload, 20, 16));
}

} // namespace
