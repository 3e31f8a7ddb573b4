#include "inventory_file.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

namespace vuno::hostsim {
namespace {

const Drive &DriveOf(const Inventory &inventory, std::string_view label) {
    const Identifier id = LabelIdentifier("drive", label);
    for (const Drive &drive : inventory.drives) {
        if (drive.id == id) {
            return drive;
        }
    }
    throw std::runtime_error("no drive " + std::string(label));
}

const Volume &VolumeOf(const Inventory &inventory, std::string_view label) {
    const Identifier id = LabelIdentifier("volume", label);
    for (const Volume &volume : inventory.volumes) {
        if (volume.id == id) {
            return volume;
        }
    }
    throw std::runtime_error("no volume " + std::string(label));
}

TEST(InventoryFileTest, DefaultInventoryIsTheDocumentedHost) {
    const Inventory inventory = DefaultInventory();
    ASSERT_EQ(inventory.controllers.size(), 2u);
    EXPECT_EQ(inventory.controllers[0].type, ControllerType::Vmd);
    EXPECT_EQ(inventory.controllers[1].type, ControllerType::Ahci);
    EXPECT_EQ(inventory.controllers[1].mode, ControllerMode::Raid);
    ASSERT_EQ(inventory.drives.size(), 8u);
    ASSERT_EQ(inventory.arrays.size(), 1u);
    ASSERT_EQ(inventory.slots.size(), 3u);
    EXPECT_EQ(inventory.slots[2].revision, "");

    const Identifier array = LabelIdentifier("array", "array0");
    for (const char *member : {"nvme0", "nvme1", "nvme2"}) {
        EXPECT_EQ(DriveOf(inventory, member).arrayId, array) << member;
        EXPECT_EQ(DriveOf(inventory, member).usage, DriveUsage::ArrayMember) << member;
    }
    EXPECT_EQ(DriveOf(inventory, "nvme3").usage, DriveUsage::Spare);
    EXPECT_EQ(DriveOf(inventory, "nvme4").usage, DriveUsage::PassThrough);
    EXPECT_EQ(DriveOf(inventory, "nvme5").usage, DriveUsage::OfflineArrayMember);
    EXPECT_EQ(DriveOf(inventory, "sata1").type, DriveType::Sata);

    const Volume &system = VolumeOf(inventory, "system");
    EXPECT_EQ(system.level, RaidLevel::Raid1);
    EXPECT_TRUE(system.systemVolume);
    EXPECT_EQ(system.extent, system.size);
    const Volume &data = VolumeOf(inventory, "data");
    EXPECT_EQ(data.level, RaidLevel::Raid5);
    EXPECT_EQ(data.members.size(), 3u);
    EXPECT_EQ(data.extent, data.size / 2);
    EXPECT_EQ(data.stripCode, 32);
    EXPECT_EQ(data.state, VolumeState::Normal);
    EXPECT_EQ(data.writeHolePolicy, WriteHolePolicy::Distributed);

    // The same text always gives the same identifiers.
    EXPECT_EQ(DefaultInventory().volumes[1].id, data.id);
}

TEST(InventoryFileTest, WrittenInventoryReadsBackUnchanged) {
    Clock clock;
    const Duration none{0};
    RaidModel model(clock, DefaultInventory(), JobDurations{none, none, none, none});
    Identifier created{};
    NewVolume mirror;
    mirror.name = "Mirror Two";
    mirror.level = RaidLevel::Raid1;
    mirror.stripCode = 32;
    mirror.members = {LabelIdentifier("drive", "sata0"), LabelIdentifier("drive", "sata1")};
    ASSERT_EQ(model.CreateVolume(mirror, created), SsiStatus::Success);
    ASSERT_EQ(model.UnmarkSpare(LabelIdentifier("drive", "nvme3")), SsiStatus::Success);
    ASSERT_EQ(model.SetWriteHolePolicy(LabelIdentifier("volume", "data"),
                                       WriteHolePolicy::JournalingDrive,
                                       LabelIdentifier("drive", "nvme4")),
              SsiStatus::Success);
    ASSERT_EQ(model.FailDrive(LabelIdentifier("drive", "nvme2")), SsiStatus::Success);

    const std::string written = WriteInventory(model);
    const InventoryLoad load = ParseInventory(written);
    ASSERT_TRUE(load.inventory) << load.error << "\n" << written;
    const Volume &data = load.inventory->volumes[1];
    EXPECT_EQ(data.state, VolumeState::Degraded);
    EXPECT_EQ(data.members[2], kNoIdentifier);
    EXPECT_EQ(data.journalingDrive, LabelIdentifier("drive", "nvme4"));
    RaidModel reloaded(clock, *load.inventory);
    EXPECT_EQ(WriteInventory(reloaded), written);
}

TEST(InventoryFileTest, ExplicitIdentifiersCommentsAndMissingMembers) {
    const InventoryLoad load =
        ParseInventory("  # a small host\r\n"
                       "\n"
                       "controller c type=AHCI id=00112233-4455-6677-8899-aabbccddeeff\r\n"
                       "drive a controller=c type=SATA size=1048576000 serial=\"A 1\"\n"
                       "drive b controller=c type=SATA size=1048576000\n"
                       "array r drives=a,b\n"
                       "volume v array=r level=1 drives=missing,b size=524288000 strip=64\n");
    ASSERT_TRUE(load.inventory) << load.error;
    const Inventory &inventory = *load.inventory;
    EXPECT_EQ(inventory.controllers[0].id,
              (Identifier{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
                          0xCC, 0xDD, 0xEE, 0xFF}));
    EXPECT_EQ(inventory.drives[0].serial, "A 1");
    EXPECT_EQ(inventory.volumes[0].state, VolumeState::Degraded);
    EXPECT_EQ(inventory.volumes[0].members[0], kNoIdentifier);
    EXPECT_EQ(inventory.volumes[0].name, "v");
}

struct MalformedCase {
    const char *lines;
    const char *error;
};

// Appended to three good lines, so the first bad line is line 4.
constexpr const char *kBase = "controller vmd type=VMD\n"
                              "drive n0 controller=vmd type=VMD size=1000000000000\n"
                              "drive n1 controller=vmd type=VMD size=1000000000000\n";

TEST(InventoryFileTest, MalformedFilesNameTheLine) {
    const MalformedCase cases[] = {
        {"disk d0", "line 4: unknown statement 'disk'"},
        {"controller c2", "line 4: field 'type' is missing"},
        {"controller c2 type=SCSI", "line 4: 'type' must be one of VMD, AHCI, NVMe, not 'SCSI'"},
        {"controller c2 type=VMD colour=red", "line 4: unexpected field 'colour' for controller"},
        {"controller c2 type=VMD mode=RAID", "line 4: unexpected field 'mode'"},
        {"controller vmd type=VMD", "line 4: controller vmd given twice"},
        {"controller c2 type=VMD type=VMD", "line 4: field 'type' given twice"},
        {"controller c2 type=VMD name=\"open", "line 4: a quote is not closed"},
        {"controller c2 type=VMD vendor=0x10000",
         "line 4: 'vendor' must be a number from 0 to 65535"},
        {"controller c2 type=VMD driver=1.2.3", "line 4: 'driver' must be four numbers"},
        {"controller c2 type=VMD id=12345", "line 4: 'id' must be 32 hexadecimal digits"},
        {"controller c2 type=VMD id=00000000000000000000000000000000",
         "line 4: identifier of c2 is zero or already used"},
        {"controller c2 type=VMD =x", "line 4: expected key=value, found '=x'"},
        {"controller type=VMD", "line 4: a controller needs a label"},
        {"drive n2 controller=sata type=VMD size=1", "line 4: no controller sata defined above"},
        {"drive n2 controller=vmd type=SATA size=1",
         "line 4: the drive's type does not fit its controller"},
        {"drive n2 controller=vmd type=VMD size=0", "line 4: 'size' must be a number from 1"},
        {"drive n2 controller=vmd type=VMD size=1 serial=123456789012345678901",
         "line 4: 'serial' is longer than 20 characters"},
        {"drive n2 controller=vmd type=VMD size=1 port=3", "line 4: unexpected field 'port'"},
        {"drive n2 controller=vmd type=VMD size=1 link=4",
         "line 4: 'link' must be a number from 0 to 3"},
        {"drive n2 controller=vmd type=VMD size=1 usage=spare\narray r drives=n0,n2",
         "line 5: drive n2 is not free for the array"},
        {"array r drives=n0,n0", "line 4: drive n0 is not free for the array"},
        {"array r drives=n0,,n1", "line 4: 'drives' must be labels joined by ','"},
        {"array r drives=n0,n1", "line 4: the array holds no volume"},
        {"array r drives=n0,n1\nvolume v array=r level=10 drives=n0,n1 size=512 strip=64",
         "line 5: RAID 10 on this controller cannot have 2 drives"},
        {"array r drives=n0,n1\nvolume v array=r level=1 drives=n0,n1 size=512 strip=128",
         "line 5: strip 128 KiB is not supported for RAID 1"},
        {"array r drives=n0,n1\nvolume v array=r level=1 drives=n0,n1 size=512 strip=3",
         "line 5: strip 3 KiB is not supported for RAID 1"},
        {"array r drives=n0,n1\nvolume v array=r level=0 drives=n0,n1 size=3000000000000 strip=64",
         "line 5: drive n0 has no room for the volume"},
        {"array r drives=n0,n1\nvolume v array=r level=0 drives=n0,n1 size=1000 strip=64",
         "line 5: the size or the drives' block sizes do not agree"},
        {"array r drives=n0\nvolume v array=r level=0 drives=n0,n1 size=512 strip=64",
         "line 5: drive n1 is not a member of the array"},
        {"array r drives=n0,n1\nvolume v array=r level=0 drives=n0,n1 size=512 strip=64 name=a/b",
         "line 5: 'a/b' is not a valid volume name"},
        {"array r drives=n0,n1\nvolume v array=r level=1 drives=n0,n1 size=512 strip=64 "
         "write-hole=distributed",
         "line 5: a write-hole policy needs RAID 5"},
        {"array r drives=n0,n1\nvolume v array=q level=0 drives=n0,n1 size=512 strip=64",
         "line 5: no array q defined above"},
        {"executor ssi=1", "line 4: 'ssi' must be MAJOR.MINOR"},
        {"executor ssi=1.0\nexecutor ssi=1.0", "line 5: executor given twice"},
        {"slot 0", "line 4: 'slot number' must be a number from 1 to 65535"},
        {"slot 1 revision=toolongrev", "line 4: 'revision' is longer than 8 characters"},
    };
    for (const MalformedCase &bad : cases) {
        SCOPED_TRACE(bad.lines);
        const InventoryLoad load = ParseInventory(std::string(kBase) + bad.lines + "\n");
        EXPECT_FALSE(load.inventory);
        EXPECT_EQ(load.error.rfind(bad.error, 0), 0u) << load.error;
    }
}

TEST(InventoryFileTest, ControllersWithoutRaidHoldNoArrays) {
    const InventoryLoad load = ParseInventory("controller c type=AHCI mode=AHCI\n"
                                              "drive a controller=c type=SATA size=1000000\n"
                                              "drive b controller=c type=SATA size=1000000\n"
                                              "array r drives=a,b\n");
    EXPECT_EQ(load.error, "line 4: the controller cannot hold this array");
}

TEST(InventoryFileTest, FilesAreReadWithTheirNameInErrors) {
    const std::string path = ::testing::TempDir() + "/inventory_file_test.txt";
    std::ofstream(path) << "controller c type=NVMe\n"
                           "drive d controller=c type=NVMe size=4096 vendor=0x1234 dual=second\n";
    const InventoryLoad good = LoadInventoryFile(path);
    ASSERT_TRUE(good.inventory) << good.error;
    EXPECT_TRUE(good.inventory->drives[0].dualController);
    EXPECT_EQ(good.inventory->drives[0].dualControllerOrder, 1);

    std::ofstream(path) << "controller c type=NVMe\nbogus\n";
    EXPECT_EQ(LoadInventoryFile(path).error, path + ": line 2: unknown statement 'bogus'");
    EXPECT_EQ(LoadInventoryFile(path + ".absent").error, path + ".absent: cannot be read");
}

TEST(InventoryFileTest, DamagedTextIsRefusedWithALineOrAcceptedWhole) {
    std::mt19937 random(11);
    const std::string text = kDefaultInventoryText;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = text;
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
            damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        const InventoryLoad load = ParseInventory(damaged);
        if (load.inventory) {
            Clock clock;
            RaidModel model(clock, *load.inventory);
            EXPECT_TRUE(ParseInventory(WriteInventory(model)).inventory)
                << "what was accepted is written back readable";
        } else {
            EXPECT_EQ(load.error.rfind("line ", 0), 0u) << load.error;
        }
    }
}

} // namespace
} // namespace vuno::hostsim
