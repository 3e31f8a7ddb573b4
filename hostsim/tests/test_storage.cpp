// The host's storage as the 41 commands leave it: every volume operation
// keeps the model consistent, a refused one changes nothing, and any
// payload at all is answered or refused without harm.
#include "inventory_file.hpp"
#include "storage_executor.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>

namespace vuno::hostsim {
namespace {

Identifier DriveId(std::string_view label) {
    return LabelIdentifier("drive", label);
}
Identifier VolumeId(std::string_view label) {
    return LabelIdentifier("volume", label);
}

bool IsJobState(VolumeState state) {
    return state == VolumeState::Initializing || state == VolumeState::Rebuilding ||
           state == VolumeState::Verifying || state == VolumeState::VerifyingAndRepair ||
           state == VolumeState::Migration;
}

// The rules the model promises to keep, whatever happened before.
void ExpectConsistent(const RaidModel &model) {
    const Inventory &inventory = model.Contents();
    std::set<Identifier> ids;
    const auto expectNew = [&ids](const Identifier &id) {
        EXPECT_FALSE(IsZero(id));
        EXPECT_TRUE(ids.insert(id).second) << "identifier used twice";
    };
    std::set<Identifier> journalingDrives;
    std::set<std::string> names;
    for (const Volume &volume : inventory.volumes) {
        SCOPED_TRACE("volume " + volume.name);
        expectNew(volume.id);
        EXPECT_TRUE(ValidVolumeName(volume.name));
        EXPECT_TRUE(names.insert(volume.name).second) << "name used twice";
        EXPECT_NE(model.FindArray(volume.arrayId), nullptr);
        std::vector<bool> present;
        for (const Identifier &member : volume.members) {
            present.push_back(model.IsPresentMember(volume, member));
        }
        if (volume.job) {
            EXPECT_TRUE(IsJobState(volume.state));
        } else if (volume.state != VolumeState::Failed) {
            EXPECT_EQ(volume.state, HealthOf(volume.level, present));
        }
        if (volume.state == VolumeState::Rebuilding) {
            EXPECT_EQ(HealthOf(volume.level, present), VolumeState::Normal);
        }
        if (volume.writeHolePolicy != WriteHolePolicy::Off) {
            EXPECT_EQ(volume.level, RaidLevel::Raid5);
        }
        EXPECT_EQ(IsZero(volume.journalingDrive),
                  volume.writeHolePolicy != WriteHolePolicy::JournalingDrive);
        if (!IsZero(volume.journalingDrive)) {
            journalingDrives.insert(volume.journalingDrive);
        }
    }
    for (const Controller &controller : inventory.controllers) {
        expectNew(controller.id);
    }
    for (const Array &array : inventory.arrays) {
        expectNew(array.id);
        EXPECT_NE(model.FindController(array.controllerId), nullptr);
        EXPECT_TRUE(std::any_of(inventory.volumes.begin(), inventory.volumes.end(),
                                [&array](const Volume &v) { return v.arrayId == array.id; }))
            << "an array without volumes";
    }
    for (const Drive &drive : inventory.drives) {
        SCOPED_TRACE("drive " + drive.serial);
        expectNew(drive.id);
        EXPECT_NE(model.FindController(drive.controllerId), nullptr);
        EXPECT_EQ(drive.usage == DriveUsage::ArrayMember, !IsZero(drive.arrayId));
        if (const Array *array = model.FindArray(drive.arrayId)) {
            EXPECT_EQ(array->controllerId, drive.controllerId);
        }
        EXPECT_EQ(drive.usage == DriveUsage::Journaling, journalingDrives.contains(drive.id));
        uint64_t used = 0;
        for (const Volume &volume : inventory.volumes) {
            used += model.IsPresentMember(volume, drive.id) ? volume.extent : 0;
        }
        EXPECT_LE(used, drive.size) << "more given to volumes than the drive holds";
    }
}

// What a refused request must leave as it was.
std::string Snapshot(const RaidModel &model) {
    std::string text = WriteInventory(model);
    for (const Volume &volume : model.Contents().volumes) {
        text += std::to_string(static_cast<int>(volume.state)) + (volume.job ? "+job\n" : "\n");
    }
    return text;
}

class StorageTest : public ::testing::Test {
  protected:
    StorageTest() : model_(clock_, DefaultInventory()), executor_(model_) {}

    void Advance(Duration step) {
        clock_.Set(clock_.Now() + step);
        model_.OnTime();
    }

    Clock clock_;
    RaidModel model_;
    StorageExecutor executor_;
};

NewVolume Request(std::string name, RaidLevel level, std::vector<Identifier> members) {
    NewVolume request;
    request.name = std::move(name);
    request.level = level;
    request.stripCode = 32;
    request.members = std::move(members);
    return request;
}

TEST_F(StorageTest, VolumeOperationsKeepTheStorageConsistent) {
    const Identifier data = VolumeId("data");
    const Identifier system = VolumeId("system");
    const Identifier sata0 = DriveId("sata0");
    const Identifier sata1 = DriveId("sata1");
    Identifier mirror{};
    using Step = std::function<SsiStatus(RaidModel &)>;
    const struct {
        const char *name;
        Step step;
        SsiStatus expected;
    } steps[] = {
        {"mirror on the SATA drives",
         [&](RaidModel &m) {
             return m.CreateVolume(Request("Mirror", RaidLevel::Raid1, {sata0, sata1}), mirror);
         },
         SsiStatus::Success},
        {"a drive already in use",
         [&](RaidModel &m) {
             Identifier unused{};
             return m.CreateVolume(Request("Other", RaidLevel::Raid0, {sata0, DriveId("nvme4")}),
                                   unused);
         },
         SsiStatus::InvalidMemberDrive},
        {"journaling drive",
         [&](RaidModel &m) {
             return m.SetWriteHolePolicy(data, WriteHolePolicy::JournalingDrive, DriveId("nvme4"));
         },
         SsiStatus::Success},
        {"member fails, spare rebuilds",
         [&](RaidModel &m) { return m.FailDrive(DriveId("nvme2")); }, SsiStatus::Success},
        {"RAID 1 to RAID 0",
         [&](RaidModel &m) { return m.ChangeRaidLevel(system, RaidLevel::Raid0, 64, {}); },
         SsiStatus::Success},
        {"mirror loses a member", [&](RaidModel &m) { return m.FailDrive(sata1); },
         SsiStatus::Success},
        {"rebuild onto a failed drive",
         [&](RaidModel &m) { return m.RebuildVolume(mirror, {sata1}); },
         SsiStatus::InvalidMemberDrive},
        {"delete the mirror", [&](RaidModel &m) { return m.DeleteVolume(mirror); },
         SsiStatus::Success},
        {"remove a member", [&](RaidModel &m) { return m.RemoveDrive(DriveId("nvme0")); },
         SsiStatus::Success},
        {"delete the data volume", [&](RaidModel &m) { return m.DeleteVolume(data); },
         SsiStatus::Success},
        {"delete the system volume", [&](RaidModel &m) { return m.DeleteVolume(system); },
         SsiStatus::InvalidVolumeState},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.name);
        const std::string before = Snapshot(model_);
        EXPECT_EQ(s.step(model_), s.expected);
        if (s.expected != SsiStatus::Success) {
            EXPECT_EQ(Snapshot(model_), before) << "a refusal changes nothing";
        }
        ExpectConsistent(model_);
        Advance(Duration{60000});
        ExpectConsistent(model_);
    }
    EXPECT_EQ(model_.FindDrive(sata0)->usage, DriveUsage::PassThrough)
        << "the mirror's array went with it";
    EXPECT_EQ(model_.FindVolume(system)->state, VolumeState::Failed);
}

// Random command codes and payloads, some around real identifiers so that
// they get past the first checks, with drives failing and returning and
// time passing in between.
TEST_F(StorageTest, AnyPayloadIsAnsweredOrRefusedWithoutHarm) {
    std::mt19937 random(7);
    std::vector<Identifier> ids;
    for (const Drive &drive : model_.Contents().drives) {
        ids.push_back(drive.id);
    }
    for (const Volume &volume : model_.Contents().volumes) {
        ids.push_back(volume.id);
    }
    ids.push_back(model_.Contents().arrays[0].id);
    for (int round = 0; round < 30000; ++round) {
        if (round % 97 == 0) {
            const Identifier &drive = ids[random() % 8];
            (void)(random() % 2 == 0 ? model_.FailDrive(drive) : model_.ReinsertDrive(drive));
            Advance(Duration{random() % 30000});
        }
        Bytes payload(random() % 120);
        for (uint8_t &byte : payload) {
            byte = random() % 4 == 0 ? static_cast<uint8_t>(random()) : 0;
        }
        for (size_t at = 0; at + 16 <= payload.size() && random() % 2 == 0;
             at += 16 + random() % 3) {
            const Identifier &id = ids[random() % ids.size()];
            std::copy(id.begin(), id.end(), payload.begin() + static_cast<std::ptrdiff_t>(at));
        }
        const auto code = static_cast<uint8_t>(random() % 44);
        int answers = 0;
        executor_.Handle(code, payload, [&answers](SsiAnswer) { ++answers; });
        EXPECT_LE(answers, 1);
        if (answers == 0) {
            EXPECT_EQ(code, kGetEvents) << "only GetEvents may wait";
        }
        if (round % 1000 == 0) {
            ExpectConsistent(model_);
        }
    }
    ExpectConsistent(model_);
    const InventoryLoad reread = ParseInventory(WriteInventory(model_));
    EXPECT_TRUE(reread.inventory) << "the host is still one a file can describe: " << reread.error;
}

} // namespace
} // namespace vuno::hostsim
