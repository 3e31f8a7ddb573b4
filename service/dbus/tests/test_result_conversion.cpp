// Key sets, D-Bus types and values of every result.
#include "result_test_support.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <sstream>

namespace vuno::dbus {
namespace {

using testing::Describe;
using testing::ItemWith;
using testing::MakeList;
using testing::StdoutCapture;

constexpr uint8_t kCounting[VUNO_IDENTIFIER_SIZE] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                     8, 9, 10, 11, 12, 13, 14, 15};

std::set<std::string> Keys(const std::string &spaceSeparated) {
    std::istringstream words(spaceSeparated);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

std::string DescribeOptional(ItemDictionary item, const std::set<std::string> &alwaysThere) {
    for (const std::string &key : alwaysThere) {
        EXPECT_EQ(item.erase(key), 1u) << key;
    }
    return Describe(item);
}

template <typename Element> std::string DescribeEmpty() {
    using List = testing::ListOf<Element>;
    return Describe(List::Converted(*MakeList<typename List::Record, Element>(0)));
}

TEST(IdentifierListResult, IdentifiersInRecordOrderWithZeroOnesEmpty) {
    auto record = MakeList<vuno_identifier_list_record, uint8_t[VUNO_IDENTIFIER_SIZE]>(3);
    std::memcpy(record->Ids[0], kCounting, VUNO_IDENTIFIER_SIZE);
    std::fill_n(record->Ids[2], VUNO_IDENTIFIER_SIZE, 0xAB);
    EXPECT_EQ(Describe(ConvertIdentifierList(record.get())),
              "Count:q=3;Ids:as=00010203-0405-0607-0809-0a0b0c0d0e0f,,abababab-abab-abab-abab-"
              "abababababab;");
}

TEST(ListResults, EmptyListsStillCarryCountAndListWithTheirTypes) {
    auto identifiers = MakeList<vuno_identifier_list_record, uint8_t[VUNO_IDENTIFIER_SIZE]>(0);
    auto slots = MakeList<vuno_firmware_slot_list, vuno_firmware_slot>(0);
    slots->Capacity = 7;
    const std::vector<std::pair<std::string, std::string>> cases{
        {Describe(ConvertIdentifierList(identifiers.get())), "Count:q=0;Ids:as=;"},
        {DescribeEmpty<vuno_drive_information>(), "Count:q=0;Drives:aa{sv}=0 items;"},
        {DescribeEmpty<vuno_volume_information>(), "Count:q=0;Volumes:aa{sv}=0 items;"},
        {DescribeEmpty<vuno_migration_capability>(), "Capabilities:aa{sv}=0 items;Count:q=0;"},
        {DescribeEmpty<vuno_array_information>(), "Arrays:aa{sv}=0 items;Count:q=0;"},
        {DescribeEmpty<vuno_controller_information>(), "Controllers:aa{sv}=0 items;Count:q=0;"},
        {DescribeEmpty<vuno_raid_capability>(), "Capabilities:aa{sv}=0 items;Count:y=0;"},
        {Describe(ConvertFirmwareSlots(slots.get())),
         "Capacity:u=7;Count:q=0;Slots:aa{sv}=0 items;"},
        {DescribeEmpty<vuno_event>(), "Count:q=0;Events:aa{sv}=0 items;"},
    };
    for (const auto &[description, expected] : cases) {
        EXPECT_EQ(description, expected);
    }
}

TEST(ListResults, MissingRecordIsAnInternalError) {
    StdoutCapture output;
    testing::ExpectErrorDictionary(ConvertDriveList(nullptr), "VunoInternalError",
                                   "Indicates internal VUNO error.");
    testing::ExpectErrorDictionary(ConvertSubscription(nullptr), "VunoInternalError",
                                   "Indicates internal VUNO error.");
}

TEST(DriveListResult, EveryFieldOfAVmdDrive) {
    ItemDictionary item = ItemWith<vuno_drive_information>([](vuno_drive_information &drive) {
        std::memcpy(drive.Id, kCounting, VUNO_IDENTIFIER_SIZE);
        std::fill_n(drive.ControllerId, VUNO_IDENTIFIER_SIZE, 0xF0);
        std::fill_n(drive.Serial, sizeof drive.Serial, 'S');
        std::memcpy(drive.Model, "Model \xFF\0ignored", 15);
        std::fill_n(drive.FwRev, sizeof drive.FwRev, '7');
        drive.Size = 4000787030016;
        drive.LogicalBlockSize = 512;
        drive.PhysicalBlockSize = 0xFFFFFFFF;
        drive.Status = 6;
        drive.Usage = 1;
        drive.WriteCacheState = 1;
        drive.ActivateLedSupport = 0x80;
        drive.Type = VUNO_DRIVE_TYPE_VMD;
        drive.Nvme = {32902, 3, 0, 1, 7, 1, 2, 0xFFFF, 0xFFFFFFFFFFFFFFFF};
    });
    EXPECT_EQ(Describe(item), "ActivateLedSupport:b=true;ArrayId:s=;AttachedToPCH:b=false;"
                              "ControllerId:s=f0f0f0f0-f0f0-f0f0-f0f0-f0f0f0f0f0f0;"
                              "DualControllerNVMe:b=true;DualControllerOrder:s=Second;"
                              "FwRev:s=77777777;Id:s=00010203-0405-0607-0809-0a0b0c0d0e0f;"
                              "LogicalBlockSize:u=512;Model:s=Model \xEF\xBF\xBD;"
                              "NegotiatedLinkRate:d=16;PhysicalBlockSize:u=4294967295;"
                              "PhysicalSlotNumber:t=18446744073709551615;"
                              "PrebootVisible:b=false;RootPortOffset:q=65535;"
                              "Serial:s=SSSSSSSSSSSSSSSSSSSS;Size:t=4000787030016;"
                              "SocketNumber:q=1;Status:s=Normal;SystemDrive:b=false;"
                              "Type:s=VMD;Usage:s=Array Member;VMDControllerNumber:q=2;"
                              "VendorId:q=32902;WriteCacheState:b=true;");
}

TEST(DriveListResult, ConnectionTypeDecidesTheFurtherKeys) {
    const auto common = Keys("Id ArrayId ControllerId Serial Model FwRev Size LogicalBlockSize "
                             "PhysicalBlockSize Status Usage WriteCacheState PrebootVisible "
                             "ActivateLedSupport SystemDrive");
    const std::string pcie = "AttachedToPCH:b=false;DualControllerNVMe:b=false;"
                             "DualControllerOrder:s=First;NegotiatedLinkRate:d=2.5;";
    const std::vector<std::pair<uint32_t, std::string>> cases{
        {0, "PortNumber:y=9;Type:s=SATA optical;"},
        {1, "NCQSupported:b=true;NegotiatedLinkRate:d=1.5;SolidStateDrive:b=false;Type:s=SATA;"},
        {2, pcie + "Type:s=Non VMD;VendorId:q=9;"},
        {3, pcie + "PhysicalSlotNumber:t=0;RootPortOffset:q=0;SocketNumber:q=0;Type:s=VMD;"
                   "VMDControllerNumber:q=0;VendorId:q=9;"},
        {4, ""},
        {0xffffffff, ""}};
    for (const auto &[type, expected] : cases) {
        SCOPED_TRACE(type);
        StdoutCapture output;
        ItemDictionary item = ItemWith<vuno_drive_information>([type](auto &drive) {
            drive.Type = type;
            if (type < VUNO_DRIVE_TYPE_NON_VMD) {
                drive.Sata = {9, 0, 0, 1};
            } else {
                drive.Nvme.VendorId = 9;
            }
        });
        EXPECT_EQ(DescribeOptional(item, common), expected);
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(DriveListResult, EveryBadFieldIsReportedInKeyOrderAndTheRestIsKept) {
    StdoutCapture output;
    ItemDictionary item = ItemWith<vuno_drive_information>([](vuno_drive_information &drive) {
        std::memcpy(drive.Serial, "SN1234567890", 12);
        drive.Status = 9;
        drive.Usage = 0x1f;
        drive.Type = VUNO_DRIVE_TYPE_NON_VMD;
        drive.Nvme = {0x1234, 4, 1, 2, 0, 0, 0, 0, 0};
    });
    EXPECT_EQ(output.Text(), "Invalid drive status: 0x9\n"
                             "Invalid drive usage: 0x1f\n"
                             "Invalid PCIe link rate: 0x4\n"
                             "Invalid dual controller order: 0x2\n");
    EXPECT_EQ(item.at("Serial").get<std::string>(), "SN1234567890");
    EXPECT_EQ(item.at("VendorId").get<uint16_t>(), 0x1234);
    EXPECT_TRUE(item.at("AttachedToPCH").get<bool>());
}

TEST(VolumeListResult, EveryFieldOfAVolume) {
    ItemDictionary item = ItemWith<vuno_volume_information>([](vuno_volume_information &volume) {
        std::fill_n(volume.Id, VUNO_IDENTIFIER_SIZE, 0x11);
        std::fill_n(volume.ArrayId, VUNO_IDENTIFIER_SIZE, 0x22);
        std::fill_n(volume.Name, sizeof volume.Name, 'v');
        volume.ArrayOrdinal = 3;
        volume.State = 2;
        volume.Level = 3;
        volume.Size = 1ull << 40;
        volume.StripSizeCode = 32768;
        volume.DrivesNumber = 4;
        volume.MigrationProgress = 32767;
        volume.Migrating = 1;
        volume.Initialized = 2;
        volume.VerifyErrors = 5;
        volume.VerifyBadBlocks = 6;
        volume.LogicalBlockSize = 4096;
        volume.VolumeCachePolicy = 3;
        volume.RAIDWriteHolePolicy = 2;
        std::fill_n(volume.JournalingDriveIdentifier, VUNO_IDENTIFIER_SIZE, 0xEE);
    });
    EXPECT_EQ(Describe(item), "ArrayId:s=22222222-2222-2222-2222-222222222222;ArrayOrdinal:y=3;"
                              "DrivesNumber:y=4;Id:s=11111111-1111-1111-1111-111111111111;"
                              "Initialized:b=true;"
                              "JournalingDriveIdentifier:s=eeeeeeee-eeee-eeee-eeee-eeeeeeeeeeee;"
                              "Level:s=Level 10;LogicalBlockSize:u=4096;Migrating:b=true;"
                              "MigrationProgress:d=49;Name:s=vvvvvvvvvvvvvvvv;"
                              "RAIDWriteHolePolicy:s=Journaling Drive;Size:t=1099511627776;"
                              "State:s=Degraded;StripSizeKiB:t=65536;SystemVolume:b=false;"
                              "VerifyBadBlocks:u=6;VerifyErrors:u=5;"
                              "VolumeCachePolicy:s=Write Back;");
}

TEST(VolumeListResult, MigrationProgressIsRoundedDownToWholePercent) {
    const std::vector<std::pair<uint16_t, double>> cases{
        {0, 0.0},      {1, 0.0},      {655, 0.0},    {656, 1.0},
        {32767, 49.0}, {32768, 50.0}, {65534, 99.0}, {65535, 100.0}};
    for (const auto &[progress, percent] : cases) {
        ItemDictionary item = ItemWith<vuno_volume_information>(
            [progress = progress](auto &volume) { volume.MigrationProgress = progress; });
        EXPECT_EQ(item.at("MigrationProgress").get<double>(), percent) << progress;
    }
}

TEST(SmallResults, EveryFieldOfArraysMigrationsEventsAndSingleAnswers) {
    ItemDictionary array = ItemWith<vuno_array_information>([](vuno_array_information &a) {
        std::fill_n(a.Id, VUNO_IDENTIFIER_SIZE, 0x5A);
        std::memcpy(a.Name, "Array 1", 7);
        a.TotalSize = 1000;
        a.FreeSize = 1;
        a.VolatileWriteCacheState = 1;
    });
    EXPECT_EQ(Describe(array), "FreeSize:t=1;Id:s=5a5a5a5a-5a5a-5a5a-5a5a-5a5a5a5a5a5a;"
                               "Name:s=Array 1;TotalSize:t=1000;VolatileWriteCacheState:b=true;");
    EXPECT_EQ(Describe(ItemWith<vuno_migration_capability>([](auto &m) {
                  m = {3, 255};
              })),
              "MinAdditionalDrivesCount:y=255;TargetRAIDLevel:s=Level 10;");
    ItemDictionary event = ItemWith<vuno_event>([](vuno_event &e) {
        e.EventType = 141;
        std::fill_n(e.EventIdentifier, VUNO_IDENTIFIER_SIZE, 0x42);
    });
    EXPECT_EQ(Describe(event),
              "EventIdentifier:s=42424242-4242-4242-4242-424242424242;EventType:s=Volume removed;");

    vuno_volume_identifier volume{};
    std::fill_n(volume.VolumeId, VUNO_IDENTIFIER_SIZE, 0x0C);
    EXPECT_EQ(Describe(ConvertNewVolumeIdentifier(&volume)),
              "VolumeId:s=0c0c0c0c-0c0c-0c0c-0c0c-0c0c0c0c0c0c;");
    vuno_subscription subscription{{}, 0xFFFF};
    std::fill_n(subscription.SubscriptionId, VUNO_IDENTIFIER_SIZE, 0xD3);
    EXPECT_EQ(Describe(ConvertSubscription(&subscription)),
              "EventQueueDepth:q=65535;SubscriptionId:s=d3d3d3d3-d3d3-d3d3-d3d3-d3d3d3d3d3d3;");
    vuno_executor_information executor{1, 65535, {}, 0xFFFFFFFF};
    std::memcpy(executor.ExecutorVersion, "7.8.0.1021", 10);
    EXPECT_EQ(Describe(ConvertExecutorInformation(&executor)),
              "ExecutorVersion:s=7.8.0.1021;SSIVersion:s=1.65535;");
}

TEST(FirmwareSlotsResult, CapacityAndSlotsInRecordOrder) {
    auto record = MakeList<vuno_firmware_slot_list, vuno_firmware_slot>(2);
    record->Capacity = 0xFFFFFFFF;
    record->Slots[0] = {65535, {'R', '1'}};
    record->Slots[1] = {1, {'1', '2', '3', '4', '5', '6', '7', '8'}};
    ResultDictionary result = ConvertFirmwareSlots(record.get());
    EXPECT_EQ(Describe(result), "Capacity:u=4294967295;Count:q=2;Slots:aa{sv}=2 items;");
    auto slots = testing::Items(result, "Slots");
    EXPECT_EQ(Describe(slots.at(0)), "Number:q=65535;Revision:s=R1;");
    EXPECT_EQ(Describe(slots.at(1)), "Number:q=1;Revision:s=12345678;");
}

TEST(ControllerListResult, EveryFieldOfAnAhciController) {
    ItemDictionary item = ItemWith<vuno_controller_information>([](auto &controller) {
        std::fill_n(controller.Id, VUNO_IDENTIFIER_SIZE, 0x01);
        std::memcpy(controller.Name, "Controller A", 12);
        controller.VendorId = 32902;
        controller.DeviceId = 10274;
        controller.SubsystemId = 65535;
        controller.HardwareRev = 9;
        controller.PreosDriverLoaded = 1;
        const uint16_t osDriver[] = {1, 2, 0, 65535};
        const uint16_t preosDriver[] = {17, 0, 3, 400};
        std::copy_n(osDriver, 4, controller.OSDriverVer);
        std::copy_n(preosDriver, 4, controller.PreosDriverVer);
        controller.MaxVolumesPerArray = 2;
        controller.MaxVolumesPerController = 12;
        controller.MaxDrivesPerController = 600;
        controller.ReadPatrolEnabled = 1;
        controller.ControllerMode = 1;
    });
    EXPECT_EQ(Describe(item), "ControllerMode:s=RAID;DeviceId:q=10274;HardwareRev:y=9;"
                              "Id:s=01010101-0101-0101-0101-010101010101;"
                              "MaxDrivesPerController:q=600;MaxVolumesPerArray:q=2;"
                              "MaxVolumesPerController:q=12;Name:s=Controller A;"
                              "OSDriverVer:s=1.2.0.65535;PreosDriverLoaded:b=true;"
                              "PreosDriverVer:s=17.0.3.400;ROHIEnabled:b=false;"
                              "ReadPatrolEnabled:b=true;SubsystemId:q=65535;Type:s=AHCI;"
                              "VendorId:q=32902;");
}

TEST(ControllerListResult, DriverVersionAndModeAppearOnlyWhereTheyApply) {
    const auto common = Keys("Id Name VendorId DeviceId SubsystemId HardwareRev PreosDriverLoaded "
                             "OSDriverVer MaxVolumesPerArray MaxVolumesPerController "
                             "MaxDrivesPerController ROHIEnabled ReadPatrolEnabled");
    struct Case {
        uint32_t type;
        uint8_t preosLoaded;
        std::string optional;
    };
    const std::vector<Case> cases{{0, 0, "ControllerMode:s=RAID;Type:s=AHCI;"},
                                  {1, 0x80, "PreosDriverVer:s=0.0.0.0;Type:s=NVMe;"},
                                  {2, 0, "Type:s=VMD;"},
                                  {3, 1, "PreosDriverVer:s=0.0.0.0;"},
                                  {0xffffffff, 0, ""}};
    for (const Case &test : cases) {
        SCOPED_TRACE(test.type);
        StdoutCapture output;
        ItemDictionary item = ItemWith<vuno_controller_information>([&](auto &controller) {
            controller.Type = test.type;
            controller.PreosDriverLoaded = test.preosLoaded;
            controller.ControllerMode = 1;
        });
        EXPECT_EQ(DescribeOptional(item, common), test.optional);
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(RaidCapabilitiesResult, CountIsOneByteAndEveryFieldOfACapability) {
    auto record = MakeList<vuno_raid_capability_list, vuno_raid_capability>(255);
    std::fill_n(record->Capabilities, 255, vuno_raid_capability{1, 2, 8, 0, 1, 64, 0x0060});
    ResultDictionary result = ConvertRaidCapabilities(record.get());
    EXPECT_EQ(Describe(result), "Capabilities:aa{sv}=255 items;Count:y=255;");
    EXPECT_EQ(Describe(testing::Items(result, "Capabilities").back()),
              "DefaultStripSizeKiB:t=128;EvenDriveCount:b=true;Level:s=Level 0;"
              "MaxDrivesCount:q=8;MinDrivesCount:q=2;OddDriveCount:b=false;"
              "SupportedStripSizesKiB:at=64,128;");
}

TEST(RaidCapabilitiesResult, SupportedStripSizesComeFromTheMaskInAscendingOrder) {
    const std::vector<std::pair<uint16_t, std::string>> cases{
        {0x0000, ""},
        {0x0060, "64,128"},
        {0x8001, "2,65536"},
        {0xFFFF, "2,4,8,16,32,64,128,256,512,1024,2048,4096,8192,16384,32768,65536"}};
    for (const auto &[mask, sizes] : cases) {
        ItemDictionary item = ItemWith<vuno_raid_capability>(
            [mask = mask](auto &capability) { capability.SupportedStripSizesMask = mask; });
        EXPECT_EQ(testing::ValueText(item.at("SupportedStripSizesKiB")), sizes) << mask;
    }
}

} // namespace
} // namespace vuno::dbus
