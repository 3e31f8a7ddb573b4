// The inventory file: what the simulator writes it reads back unchanged,
// and a file it cannot take is refused with a message that says where.
#include "inventory_file.hpp"
#include "options.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

namespace vuno::hostsim {
namespace {

Identifier DriveId(std::string_view label) {
    return LabelIdentifier("drive", label);
}

// A VMD controller with two free drives, and whatever `more` adds.
std::string Document(const std::string &more) {
    return R"({"controllers": [{"label": "vmd", "type": "VMD"}],
  "drives": [{"label": "n0", "controller": "vmd", "type": "VMD", "size": 1000000000000},
             {"label": "n1", "controller": "vmd", "type": "VMD", "size": 1000000000000}])" +
           more + "}";
}

TEST(InventoryFileTest, WrittenInventoryReadsBackUnchanged) {
    Clock clock;
    RaidModel model(clock, DefaultInventory(),
                    JobDurations{Duration{0}, Duration{0}, Duration{0}, Duration{0}});
    // Changes that show in the file: a new array and volume, a journaling
    // drive, and a missing member.
    NewVolume mirror;
    mirror.name = "Mirror";
    mirror.level = RaidLevel::Raid1;
    mirror.stripCode = 32;
    mirror.members = {DriveId("sata0"), DriveId("sata1")};
    Identifier created{};
    ASSERT_EQ(model.CreateVolume(mirror, created), SsiStatus::Success);
    ASSERT_EQ(model.SetWriteHolePolicy(LabelIdentifier("volume", "data"),
                                       WriteHolePolicy::JournalingDrive, DriveId("nvme4")),
              SsiStatus::Success);
    ASSERT_EQ(model.UnmarkSpare(DriveId("nvme3")), SsiStatus::Success);
    ASSERT_EQ(model.FailDrive(DriveId("sata1")), SsiStatus::Success);

    const std::string written = WriteInventory(model);
    const InventoryLoad reread = ParseInventory(written);
    ASSERT_TRUE(reread.inventory) << reread.error << "\n" << written;
    RaidModel copy(clock, *reread.inventory);
    EXPECT_EQ(WriteInventory(copy), written);
    EXPECT_NE(copy.FindVolume(created), nullptr) << "identifiers are kept";
    EXPECT_EQ(copy.FindVolume(created)->state, VolumeState::Degraded);
}

TEST(InventoryFileTest, ErrorsNameTheObjectAndTheField) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"[]", "the inventory: must be an object"},
        {R"({"disks": []})", "the inventory: unexpected field 'disks'"},
        {R"({"controllers": [{"label": "c", "type": "SCSI"}]})",
         "controllers[0] (c): 'type' must be one of VMD, AHCI, NVMe"},
        {Document(R"(, "arrays": [{"label": "r", "drives": ["n0", "n0"]}])"),
         "arrays[0] (r): drive n0 is not free for the array"},
        {Document(R"(, "arrays": [{"label": "r", "drives": ["n0", "n1"]}],
            "volumes": [{"label": "v", "array": "r", "level": "0", "drives": ["n0", "n1"],
                         "size": 3000000000000, "strip": 64}])"),
         "volumes[0] (v): drive n0 has no room for the volume"},
        {"{\n  \"controllers\": [\n    {\"label\" \"c\"}]}", "parse error at line 3, column 16"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const InventoryLoad load = ParseInventory(c.text);
        EXPECT_FALSE(load.inventory);
        EXPECT_EQ(load.error.rfind(c.error, 0), 0u) << load.error;
    }
}

TEST(InventoryFileTest, FilesAreReadByPathAndThroughTheCommandLine) {
    const std::string path = ::testing::TempDir() + "/inventory_file_test.json";
    std::ofstream(path) << Document("");
    const Options options = ParseOptions({"--inventory", path});
    ASSERT_FALSE(options.error) << *options.error;
    EXPECT_EQ(options.settings.inventory->drives.size(), 2u);

    std::ofstream(path) << R"({"drives": 1})";
    EXPECT_EQ(LoadInventoryFile(path).error,
              path + ": the inventory: 'drives' must be a list of at most 1024 items");
    EXPECT_EQ(ParseOptions({"--inventory", path + ".absent"}).error,
              path + ".absent: cannot be read");
}

TEST(InventoryFileTest, DamagedFilesAreRefusedWithAPlaceOrAcceptedWhole) {
    std::mt19937 random(11);
    const std::string text = kDefaultInventoryText;
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = text;
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
            damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        const InventoryLoad load = ParseInventory(damaged);
        if (!load.inventory) {
            EXPECT_NE(load.error.find(": "), std::string::npos) << load.error;
            continue;
        }
        Clock clock;
        RaidModel model(clock, *load.inventory);
        EXPECT_TRUE(ParseInventory(WriteInventory(model)).inventory)
            << "what was accepted is written back readable";
    }
}

} // namespace
} // namespace vuno::hostsim
