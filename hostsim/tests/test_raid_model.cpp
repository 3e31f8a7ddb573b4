#include "inventory_file.hpp"
#include "raid_model.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>

namespace vuno::hostsim {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr uint64_t kNvmeSize = 1600321314816;
constexpr uint64_t kSystemSize = 200 * kGiB;
constexpr uint64_t kDataExtent = 1024 * kGiB;
const Identifier kUnknown = MakeIdentifier(0xBAD);

Identifier DriveId(std::string_view label) {
    return LabelIdentifier("drive", label);
}
Identifier VolumeId(std::string_view label) {
    return LabelIdentifier("volume", label);
}

std::vector<Identifier> Drives(std::initializer_list<std::string_view> labels) {
    std::vector<Identifier> ids;
    for (std::string_view label : labels) {
        ids.push_back(DriveId(label));
    }
    return ids;
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

class RaidModelTest : public ::testing::Test {
  protected:
    RaidModelTest() : model_(clock_, DefaultInventory()) {
        model_.SetEventsQueued([this](const Identifier &) { ++announcements_; });
        EXPECT_EQ(model_.Subscribe({ScopeType::Global, {}}, {}, everything_), SsiStatus::Success);
    }

    void TearDown() override { ExpectConsistent(model_); }

    const Drive &DriveNamed(std::string_view label) const {
        const Drive *drive = model_.FindDrive(DriveId(label));
        EXPECT_NE(drive, nullptr) << label;
        return *drive;
    }
    const Volume &VolumeNamed(std::string_view label) const {
        const Volume *volume = model_.FindVolume(VolumeId(label));
        EXPECT_NE(volume, nullptr) << label;
        return *volume;
    }

    std::vector<Event> Events() { return model_.TakeEvents(everything_, 0); }

    void Advance(Duration step) {
        clock_.Set(clock_.Now() + step);
        model_.OnTime();
    }

    static NewVolume SataMirror() {
        NewVolume request;
        request.name = "Mirror";
        request.level = RaidLevel::Raid1;
        request.stripCode = 32;
        request.members = Drives({"sata0", "sata1"});
        return request;
    }

    Clock clock_;
    RaidModel model_;
    Identifier everything_{};
    int announcements_ = 0;
};

TEST_F(RaidModelTest, DefaultHostDerivesSizesAndRoles) {
    ExpectConsistent(model_);
    const Array &array = model_.Contents().arrays.at(0);
    EXPECT_EQ(model_.TotalSize(array), 3 * kNvmeSize);
    EXPECT_EQ(model_.FreeSize(DriveNamed("nvme0")), kNvmeSize - kSystemSize - kDataExtent);
    EXPECT_EQ(model_.FreeSize(DriveNamed("nvme2")), kNvmeSize - kDataExtent);
    EXPECT_EQ(model_.FreeSize(array), 3 * kNvmeSize - 2 * kSystemSize - 3 * kDataExtent);
    EXPECT_TRUE(model_.IsSystemDrive(DriveNamed("nvme1")));
    EXPECT_FALSE(model_.IsSystemDrive(DriveNamed("nvme2")));
    EXPECT_EQ(model_.ArrayOrdinal(VolumeNamed("system")), 0);
    EXPECT_EQ(model_.ArrayOrdinal(VolumeNamed("data")), 1);
    EXPECT_TRUE(Events().empty());
}

struct ScopeCase {
    ScopeType type;
    const char *keyword;
    const char *label;
    std::vector<std::string_view> drives;
    std::vector<std::string_view> volumes;
    std::vector<std::string_view> arrays;
    std::vector<std::string_view> controllers;
};

template <typename Item> std::vector<Identifier> IdsOf(const std::vector<const Item *> &items) {
    std::vector<Identifier> ids;
    for (const Item *item : items) {
        ids.push_back(item->id);
    }
    return ids;
}

std::vector<Identifier> Labelled(const char *keyword, const std::vector<std::string_view> &labels) {
    std::vector<Identifier> ids;
    for (std::string_view label : labels) {
        ids.push_back(LabelIdentifier(keyword, label));
    }
    return ids;
}

TEST_F(RaidModelTest, ScopesSelectTheRelatedObjectsInInventoryOrder) {
    const ScopeCase cases[] = {
        {ScopeType::Global,
         "controller",
         "",
         {"nvme0", "nvme1", "nvme2", "nvme3", "nvme4", "nvme5", "sata0", "sata1"},
         {"system", "data"},
         {"array0"},
         {"vmd0", "sata0"}},
        {ScopeType::Controller,
         "controller",
         "vmd0",
         {"nvme0", "nvme1", "nvme2", "nvme3", "nvme4", "nvme5"},
         {"system", "data"},
         {"array0"},
         {"vmd0"}},
        {ScopeType::Controller, "controller", "sata0", {"sata0", "sata1"}, {}, {}, {"sata0"}},
        {ScopeType::Array,
         "array",
         "array0",
         {"nvme0", "nvme1", "nvme2"},
         {"system", "data"},
         {"array0"},
         {"vmd0"}},
        {ScopeType::Volume,
         "volume",
         "system",
         {"nvme0", "nvme1"},
         {"system"},
         {"array0"},
         {"vmd0"}},
        {ScopeType::Drive, "drive", "nvme2", {"nvme2"}, {"data"}, {"array0"}, {"vmd0"}},
        {ScopeType::Drive, "drive", "nvme0", {"nvme0"}, {"system", "data"}, {"array0"}, {"vmd0"}},
        {ScopeType::Drive, "drive", "nvme3", {"nvme3"}, {}, {}, {"vmd0"}},
    };
    for (const ScopeCase &scope : cases) {
        SCOPED_TRACE(std::string(scope.keyword) + " " + scope.label);
        const Identifier id =
            *scope.label == '\0' ? kUnknown : LabelIdentifier(scope.keyword, scope.label);
        Selection selection;
        ASSERT_EQ(model_.Select({scope.type, id}, selection), SsiStatus::Success);
        EXPECT_EQ(IdsOf(selection.drives), Labelled("drive", scope.drives));
        EXPECT_EQ(IdsOf(selection.volumes), Labelled("volume", scope.volumes));
        EXPECT_EQ(IdsOf(selection.arrays), Labelled("array", scope.arrays));
        EXPECT_EQ(IdsOf(selection.controllers), Labelled("controller", scope.controllers));
    }
}

TEST_F(RaidModelTest, ScopesNamingNothingOfTheirKindAreRefused) {
    const std::pair<ScopeType, SsiStatus> cases[] = {
        {ScopeType::Controller, SsiStatus::InvalidController},
        {ScopeType::Array, SsiStatus::InvalidArray},
        {ScopeType::Volume, SsiStatus::InvalidVolume},
        {ScopeType::Drive, SsiStatus::InvalidDrive},
        {static_cast<ScopeType>(5), SsiStatus::InvalidScope},
    };
    for (const auto &[type, status] : cases) {
        SCOPED_TRACE(static_cast<int>(type));
        Selection selection;
        // An identifier of another kind of object is unknown too.
        const Identifier other = type == ScopeType::Drive ? VolumeId("data") : DriveId("nvme0");
        EXPECT_EQ(model_.Select({type, other}, selection), status);
        EXPECT_EQ(model_.Select({type, kNoIdentifier}, selection), status);
    }
}

TEST_F(RaidModelTest, CreatedVolumeGetsANewArrayAndTheLargestSizeByDefault) {
    Identifier created{};
    ASSERT_EQ(model_.CreateVolume(SataMirror(), created), SsiStatus::Success);
    const Volume &volume = *model_.FindVolume(created);
    EXPECT_EQ(volume.name, "Mirror");
    EXPECT_EQ(volume.level, RaidLevel::Raid1);
    EXPECT_EQ(volume.members, Drives({"sata0", "sata1"}));
    EXPECT_EQ(volume.stripCode, 32);
    EXPECT_EQ(volume.state, VolumeState::Normal);
    EXPECT_FALSE(volume.initialized) << "a new mirror is not initialised";
    // The smaller drive, in whole 64 KiB strips.
    const uint64_t smaller = DriveNamed("sata0").size;
    EXPECT_EQ(volume.size, smaller - smaller % (64 * 1024));
    EXPECT_EQ(volume.extent, volume.size);

    const Array *array = model_.FindArray(volume.arrayId);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->name, "Array1");
    EXPECT_EQ(array->controllerId, LabelIdentifier("controller", "sata0"));
    EXPECT_EQ(DriveNamed("sata1").usage, DriveUsage::ArrayMember);
    EXPECT_EQ(DriveNamed("sata1").arrayId, array->id);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::VolumeAdded, created}}));
    EXPECT_EQ(announcements_, 1);
}

TEST_F(RaidModelTest, VolumesCanShareAnArray) {
    NewVolume request;
    request.name = "Scratch";
    request.level = RaidLevel::Raid0;
    request.stripCode = 64;
    request.size = 100 * kGiB;
    request.members = Drives({"nvme1", "nvme2"});
    const uint64_t freeBefore = model_.FreeSize(DriveNamed("nvme1"));
    Identifier created{};
    ASSERT_EQ(model_.CreateVolume(request, created), SsiStatus::Success);
    const Volume &volume = *model_.FindVolume(created);
    EXPECT_EQ(volume.arrayId, LabelIdentifier("array", "array0"));
    EXPECT_EQ(volume.extent, 50 * kGiB);
    EXPECT_TRUE(volume.initialized);
    EXPECT_EQ(model_.ArrayOrdinal(volume), 2);
    EXPECT_EQ(model_.FreeSize(DriveNamed("nvme1")), freeBefore - 50 * kGiB);
    EXPECT_EQ(model_.Contents().arrays.size(), 1u);
}

struct CreateCase {
    const char *what;
    std::function<void(NewVolume &)> change;
    SsiStatus status;
};

TEST_F(RaidModelTest, RefusedVolumesLeaveNothingBehind) {
    const auto raid5InArray = [](NewVolume &request) {
        request.level = RaidLevel::Raid5;
        request.size = kGiB;
        request.members = Drives({"nvme0", "nvme1", "nvme2"});
        request.writeHolePolicy = WriteHolePolicy::JournalingDrive;
    };
    const CreateCase cases[] = {
        {"no members", [](NewVolume &r) { r.members.clear(); }, SsiStatus::InvalidNumberOfDrives},
        {"one member", [](NewVolume &r) { r.members.pop_back(); },
         SsiStatus::InvalidNumberOfDrives},
        {"RAID 10 of two", [](NewVolume &r) { r.level = RaidLevel::Raid10; },
         SsiStatus::InvalidNumberOfDrives},
        {"unknown member", [](NewVolume &r) { r.members[1] = kUnknown; },
         SsiStatus::InvalidMemberDrive},
        {"member twice", [](NewVolume &r) { r.members[1] = r.members[0]; },
         SsiStatus::InvalidMemberDrive},
        {"two controllers",
         [](NewVolume &r) {
             r.members = Drives({"sata0", "nvme4"});
         },
         SsiStatus::InvalidMemberDrive},
        {"a spare",
         [](NewVolume &r) {
             r.members = Drives({"nvme4", "nvme3"});
         },
         SsiStatus::InvalidMemberDrive},
        {"stale metadata",
         [](NewVolume &r) {
             r.members = Drives({"nvme4", "nvme5"});
         },
         SsiStatus::InvalidMemberDrive},
        {"free and array member",
         [](NewVolume &r) {
             r.members = Drives({"nvme0", "nvme4"});
         },
         SsiStatus::InvalidMemberDrive},
        {"strip not for RAID 1", [](NewVolume &r) { r.stripCode = 64; },
         SsiStatus::InvalidStripSize},
        {"strip of two bits", [](NewVolume &r) { r.stripCode = 48; }, SsiStatus::InvalidStripSize},
        {"no strip", [](NewVolume &r) { r.stripCode = 0; }, SsiStatus::InvalidStripSize},
        {"empty name", [](NewVolume &r) { r.name = ""; }, SsiStatus::InvalidVolumeName},
        {"name with a slash", [](NewVolume &r) { r.name = "a/b"; }, SsiStatus::InvalidVolumeName},
        {"name taken", [](NewVolume &r) { r.name = "Data"; }, SsiStatus::InvalidVolumeName},
        {"distributed on RAID 1",
         [](NewVolume &r) { r.writeHolePolicy = WriteHolePolicy::Distributed; },
         SsiStatus::InvalidRAIDWriteHolePolicy},
        {"journaling drive without the policy",
         [](NewVolume &r) { r.journalingDrive = DriveId("nvme4"); },
         SsiStatus::InconsistentRAIDWriteHolePolicy},
        {"journaling drive is a spare",
         [&](NewVolume &r) {
             raid5InArray(r);
             r.journalingDrive = DriveId("nvme3");
         },
         SsiStatus::InvalidJournalingDrive},
        {"journaling drive is a member",
         [&](NewVolume &r) {
             raid5InArray(r);
             r.journalingDrive = DriveId("nvme2");
         },
         SsiStatus::InvalidJournalingDrive},
        {"journaling without a drive", raid5InArray, SsiStatus::InvalidJournalingDrive},
        {"existing data on no member",
         [](NewVolume &r) {
             r.existingData = true;
             r.existingDataDrive = DriveId("nvme4");
         },
         SsiStatus::InvalidExistingDataDrive},
        {"existing data drive without the flag",
         [](NewVolume &r) { r.existingDataDrive = DriveId("sata0"); },
         SsiStatus::InvalidExistingDataDrive},
        {"size in part blocks", [](NewVolume &r) { r.size = 1000; }, SsiStatus::InvalidSize},
        {"size beyond the drives", [](NewVolume &r) { r.size = 1000 * kGiB; },
         SsiStatus::DriveTooSmall},
        {"level the controller lacks", [](NewVolume &r) { r.level = RaidLevel::Unknown; },
         SsiStatus::UnsupportedRaidLevel},
    };
    const std::string before = Snapshot(model_);
    for (const CreateCase &row : cases) {
        SCOPED_TRACE(row.what);
        NewVolume request = SataMirror();
        row.change(request);
        Identifier created{};
        EXPECT_EQ(model_.CreateVolume(request, created), row.status);
        EXPECT_EQ(Snapshot(model_), before);
        EXPECT_TRUE(IsZero(created));
    }
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(announcements_, 0);
}

TEST_F(RaidModelTest, ControllersLimitVolumesPerArray) {
    // The SATA controller takes two volumes per array.
    NewVolume request = SataMirror();
    request.size = 10 * kGiB;
    Identifier created{};
    ASSERT_EQ(model_.CreateVolume(request, created), SsiStatus::Success);
    request.name = "Second";
    ASSERT_EQ(model_.CreateVolume(request, created), SsiStatus::Success);
    request.name = "Third";
    EXPECT_EQ(model_.CreateVolume(request, created), SsiStatus::InvalidMemberDrive);
}

TEST_F(RaidModelTest, JournalingDriveFollowsTheWriteHolePolicy) {
    const Identifier data = VolumeId("data");
    const Identifier nvme4 = DriveId("nvme4");
    ASSERT_EQ(model_.SetWriteHolePolicy(data, WriteHolePolicy::JournalingDrive, nvme4),
              SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme4").usage, DriveUsage::Journaling);
    EXPECT_EQ(VolumeNamed("data").journalingDrive, nvme4);
    ExpectConsistent(model_);

    EXPECT_EQ(model_.SetWriteHolePolicy(data, WriteHolePolicy::Off, nvme4),
              SsiStatus::InconsistentRAIDWriteHolePolicy);
    EXPECT_EQ(
        model_.SetWriteHolePolicy(VolumeId("system"), WriteHolePolicy::Distributed, kNoIdentifier),
        SsiStatus::InvalidRAIDWriteHolePolicy);
    EXPECT_EQ(model_.SetWriteHolePolicy(kUnknown, WriteHolePolicy::Off, kNoIdentifier),
              SsiStatus::InvalidVolume);
    ASSERT_EQ(model_.SetWriteHolePolicy(data, WriteHolePolicy::Off, kNoIdentifier),
              SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme4").usage, DriveUsage::PassThrough);
    EXPECT_EQ(VolumeNamed("data").writeHolePolicy, WriteHolePolicy::Off);
}

struct JobCase {
    const char *what;
    std::function<SsiStatus(RaidModel &)> start;
    const char *volume;
    VolumeState state;
    EventType started;
    EventType completed;
    Duration length;
};

TEST_F(RaidModelTest, LongOperationsEndAfterTheirTime) {
    const JobDurations durations;
    const JobCase cases[] = {
        {"verify", [](RaidModel &m) { return m.VerifyVolume(VolumeId("data"), false); }, "data",
         VolumeState::Verifying, EventType::VolumeVerifyStarted, EventType::VolumeVerifyCompleted,
         durations.verify},
        {"verify and fix", [](RaidModel &m) { return m.VerifyVolume(VolumeId("system"), true); },
         "system", VolumeState::VerifyingAndRepair, EventType::VolumeVerifyAndFixStarted,
         EventType::VolumeVerifyAndFixCompleted, durations.verify},
        {"initialise", [](RaidModel &m) { return m.InitializeVolume(VolumeId("data")); }, "data",
         VolumeState::Initializing, EventType::VolumeInitializeStarted,
         EventType::VolumeInitializeCompleted, durations.initialize},
        {"migrate",
         [](RaidModel &m) {
             return m.ChangeRaidLevel(VolumeId("system"), RaidLevel::Raid5, 32, Drives({"nvme2"}));
         },
         "system", VolumeState::Migration, EventType::VolumeMigrateStarted,
         EventType::VolumeMigrateCompleted, durations.migrate},
    };
    for (const JobCase &job : cases) {
        SCOPED_TRACE(job.what);
        const Identifier volume = VolumeId(job.volume);
        ASSERT_EQ(job.start(model_), SsiStatus::Success);
        EXPECT_EQ(VolumeNamed(job.volume).state, job.state);
        EXPECT_EQ(Events(), (std::vector<Event>{{job.started, volume}}));
        EXPECT_EQ(model_.NextDeadline(), clock_.Now() + job.length);
        ExpectConsistent(model_);
        Advance(job.length - Duration{1});
        EXPECT_EQ(VolumeNamed(job.volume).state, job.state);
        Advance(Duration{1});
        EXPECT_EQ(VolumeNamed(job.volume).state, VolumeState::Normal);
        EXPECT_EQ(Events(), (std::vector<Event>{{job.completed, volume}}));
        EXPECT_FALSE(model_.NextDeadline());
    }
    EXPECT_TRUE(VolumeNamed("data").initialized);
    EXPECT_EQ(VolumeNamed("system").level, RaidLevel::Raid5);
    EXPECT_EQ(VolumeNamed("system").members, Drives({"nvme0", "nvme1", "nvme2"}));
}

TEST_F(RaidModelTest, MigrationReportsProgress) {
    const Identifier system = VolumeId("system");
    ASSERT_EQ(model_.ChangeRaidLevel(system, RaidLevel::Raid0, 64, {}), SsiStatus::Success);
    const Volume &volume = VolumeNamed("system");
    EXPECT_EQ(model_.MigrationProgress(volume), 0);
    Advance(JobDurations{}.migrate / 4);
    EXPECT_EQ(model_.MigrationProgress(volume), 0xFFFF / 4);
    EXPECT_EQ(volume.extent, kSystemSize / 2) << "the mirror's data is striped over both drives";
    EXPECT_EQ(volume.size, kSystemSize);
}

TEST_F(RaidModelTest, InstantOperationsRaiseBothEventsAtOnce) {
    const Duration none{0};
    RaidModel model(clock_, DefaultInventory(), JobDurations{none, none, none, none});
    Identifier all{};
    ASSERT_EQ(model.Subscribe({}, {}, all), SsiStatus::Success);
    ASSERT_EQ(model.VerifyVolume(VolumeId("data"), false), SsiStatus::Success);
    EXPECT_EQ(model.FindVolume(VolumeId("data"))->state, VolumeState::Normal);
    EXPECT_EQ(model.TakeEvents(all, 0),
              (std::vector<Event>{{EventType::VolumeVerifyStarted, VolumeId("data")},
                                  {EventType::VolumeVerifyCompleted, VolumeId("data")}}));
}

TEST_F(RaidModelTest, VolumeOperationsCheckLevelAndState) {
    const Identifier data = VolumeId("data");
    const Identifier system = VolumeId("system");
    ASSERT_EQ(model_.VerifyVolume(data, false), SsiStatus::Success);
    EXPECT_EQ(model_.VerifyVolume(data, false), SsiStatus::InvalidVolumeState);
    EXPECT_EQ(model_.InitializeVolume(data), SsiStatus::InvalidVolumeState);
    EXPECT_EQ(model_.ExpandVolume(data, 3000 * kGiB), SsiStatus::InvalidVolumeState);
    ASSERT_EQ(model_.CancelVerification(data), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Normal);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::VolumeVerifyStarted, data}}))
        << "a cancelled verification does not complete";
    EXPECT_FALSE(model_.NextDeadline());
    EXPECT_EQ(model_.CancelVerification(data), SsiStatus::InvalidVolumeState);

    EXPECT_EQ(model_.RebuildVolume(data, {}), SsiStatus::InvalidVolumeState);
    EXPECT_EQ(model_.MarkVolumeNormal(data), SsiStatus::InvalidVolumeState);
    EXPECT_EQ(model_.DeleteVolume(system), SsiStatus::InvalidVolumeState) << "the system volume";
    EXPECT_EQ(model_.ChangeRaidLevel(data, RaidLevel::Raid0, 64, {}),
              SsiStatus::UnsupportedRaidLevel);
    EXPECT_EQ(model_.ChangeRaidLevel(system, RaidLevel::Raid5, 32, {}),
              SsiStatus::InvalidNumberOfDrives);
    EXPECT_EQ(model_.ChangeRaidLevel(system, RaidLevel::Raid5, 4, Drives({"nvme2"})),
              SsiStatus::InvalidStripSize);
    EXPECT_EQ(model_.ChangeRaidLevel(system, RaidLevel::Raid5, 32, Drives({"nvme3"})),
              SsiStatus::InvalidMemberDrive);
    EXPECT_EQ(model_.SetCachePolicy(data, CachePolicy::Unknown),
              SsiStatus::InvalidVolumeCachePolicy);
    EXPECT_EQ(model_.RenameVolume(data, "System"), SsiStatus::InvalidVolumeName);
    EXPECT_EQ(model_.RenameVolume(data, " Lead"), SsiStatus::InvalidVolumeName);

    NewVolume stripe = SataMirror();
    stripe.level = RaidLevel::Raid0;
    stripe.stripCode = 64;
    Identifier created{};
    ASSERT_EQ(model_.CreateVolume(stripe, created), SsiStatus::Success);
    EXPECT_EQ(model_.VerifyVolume(created, false), SsiStatus::UnsupportedRaidLevel);
    EXPECT_EQ(model_.InitializeVolume(created), SsiStatus::UnsupportedRaidLevel);
}

TEST_F(RaidModelTest, RenameExpandAndCachePolicyShowAtOnce) {
    const Identifier data = VolumeId("data");
    ASSERT_EQ(model_.RenameVolume(data, "Archive-2"), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("data").name, "Archive-2");
    ASSERT_EQ(model_.SetCachePolicy(data, CachePolicy::Disabled), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("data").cachePolicy, CachePolicy::Disabled);

    const uint64_t size = VolumeNamed("data").size;
    EXPECT_EQ(model_.ExpandVolume(data, size), SsiStatus::InvalidSize);
    EXPECT_EQ(model_.ExpandVolume(data, size + 100), SsiStatus::InvalidSize);
    EXPECT_EQ(model_.ExpandVolume(data, size + 1024 * kGiB), SsiStatus::DriveTooSmall);
    ASSERT_EQ(model_.ExpandVolume(data, size + 2 * kGiB), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("data").size, size + 2 * kGiB);
    EXPECT_EQ(model_.FreeSize(DriveNamed("nvme2")), kNvmeSize - kDataExtent - kGiB);
}

TEST_F(RaidModelTest, MigrationTargetsFollowTheLevel) {
    std::vector<MigrationCapability> targets;
    ASSERT_EQ(model_.MigrationCapabilities(VolumeId("system"), targets), SsiStatus::Success);
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].target, RaidLevel::Raid0);
    EXPECT_EQ(targets[0].minAdditionalDrives, 0);
    EXPECT_EQ(targets[1].target, RaidLevel::Raid5);
    EXPECT_EQ(targets[1].minAdditionalDrives, 1);
    EXPECT_EQ(targets[2].target, RaidLevel::Raid10);
    EXPECT_EQ(targets[2].minAdditionalDrives, 2);
    ASSERT_EQ(model_.MigrationCapabilities(VolumeId("data"), targets), SsiStatus::Success);
    EXPECT_TRUE(targets.empty());
    EXPECT_EQ(model_.MigrationCapabilities(kUnknown, targets), SsiStatus::InvalidVolume);
}

TEST_F(RaidModelTest, AFailedMemberIsRebuiltOntoTheSpare) {
    VolumeState seenWhenAnnounced = VolumeState::Unknown;
    model_.SetEventsQueued([this, &seenWhenAnnounced](const Identifier &) {
        ++announcements_;
        seenWhenAnnounced = VolumeNamed("data").state;
    });
    const Identifier data = VolumeId("data");
    ASSERT_EQ(model_.FailDrive(DriveId("nvme2")), SsiStatus::Success);
    EXPECT_EQ(announcements_, 1) << "one announcement once the failure is handled";
    EXPECT_EQ(seenWhenAnnounced, VolumeState::Rebuilding);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::DriveFailed, DriveId("nvme2")},
                                            {EventType::VolumeDegraded, data},
                                            {EventType::VolumeRebuildStarted, data}}));
    EXPECT_EQ(VolumeNamed("data").members, Drives({"nvme0", "nvme1", "nvme3"}));
    EXPECT_EQ(DriveNamed("nvme3").usage, DriveUsage::ArrayMember);
    EXPECT_EQ(DriveNamed("nvme2").status, DriveStatus::Failed);
    EXPECT_TRUE(IsZero(DriveNamed("nvme2").arrayId));
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Normal);
    ExpectConsistent(model_);

    Advance(JobDurations{}.rebuild);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Normal);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::VolumeRebuildCompleted, data}}));
    EXPECT_EQ(model_.FailDrive(DriveId("nvme2")), SsiStatus::InvalidDrive);
    ASSERT_EQ(model_.MarkDriveNormal(DriveId("nvme2")), SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme2").usage, DriveUsage::PassThrough);
}

TEST_F(RaidModelTest, WithoutASpareDegradedVolumesWaitForARebuild) {
    ASSERT_EQ(model_.UnmarkSpare(DriveId("nvme3")), SsiStatus::Success);
    ASSERT_EQ(model_.RemoveDrive(DriveId("nvme0")), SsiStatus::Success);
    const Identifier system = VolumeId("system");
    const Identifier data = VolumeId("data");
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::DriveRemoved, DriveId("nvme0")},
                                            {EventType::VolumeDegraded, system},
                                            {EventType::VolumeDegraded, data}}));
    EXPECT_EQ(model_.FindDrive(DriveId("nvme0")), nullptr);

    EXPECT_EQ(model_.RebuildVolume(data, {}), SsiStatus::InvalidNumberOfDrives);
    EXPECT_EQ(model_.RebuildVolume(data, Drives({"nvme4", "nvme3"})),
              SsiStatus::InvalidNumberOfDrives);
    EXPECT_EQ(model_.RebuildVolume(data, Drives({"nvme5"})), SsiStatus::InvalidMemberDrive);
    EXPECT_EQ(model_.RebuildVolume(data, Drives({"sata0"})), SsiStatus::InvalidMemberDrive);
    EXPECT_EQ(model_.RebuildVolume(kUnknown, Drives({"nvme4"})), SsiStatus::InvalidVolume);
    ASSERT_EQ(model_.RebuildVolume(data, Drives({"nvme4"})), SsiStatus::Success);
    // The new member is in the array, and still has room for the mirror.
    ASSERT_EQ(model_.RebuildVolume(system, Drives({"nvme4"})), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("system").members, Drives({"nvme4", "nvme1"}));
    ExpectConsistent(model_);
    Advance(JobDurations{}.rebuild);
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Normal);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Normal);
}

TEST_F(RaidModelTest, ReturningMembersReviveAFailedVolume) {
    ASSERT_EQ(model_.UnmarkSpare(DriveId("nvme3")), SsiStatus::Success);
    ASSERT_EQ(model_.RemoveDrive(DriveId("nvme0")), SsiStatus::Success);
    ASSERT_EQ(model_.RemoveDrive(DriveId("nvme1")), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Failed);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Failed);
    const std::vector<Event> events = Events();
    EXPECT_EQ(std::count(events.begin(), events.end(),
                         Event{EventType::VolumeFailed, VolumeId("system")}),
              1);
    EXPECT_EQ(model_.MarkVolumeNormal(VolumeId("system")), SsiStatus::InvalidVolumeState);

    ASSERT_EQ(model_.ReinsertDrive(DriveId("nvme0")), SsiStatus::Success);
    ASSERT_EQ(model_.ReinsertDrive(DriveId("nvme1")), SsiStatus::Success);
    EXPECT_EQ(model_.ReinsertDrive(DriveId("nvme1")), SsiStatus::InvalidDrive);
    EXPECT_EQ(DriveNamed("nvme0").usage, DriveUsage::OfflineArrayMember);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::DriveInserted, DriveId("nvme0")},
                                            {EventType::DriveInserted, DriveId("nvme1")}}));
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Failed) << "until marked normal";

    ASSERT_EQ(model_.MarkVolumeNormal(VolumeId("system")), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Normal);
    EXPECT_EQ(DriveNamed("nvme0").usage, DriveUsage::ArrayMember);
    ASSERT_EQ(model_.MarkVolumeNormal(VolumeId("data")), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Normal);
}

TEST_F(RaidModelTest, DeletingTheLastVolumeDissolvesItsArray) {
    Identifier created{};
    ASSERT_EQ(model_.CreateVolume(SataMirror(), created), SsiStatus::Success);
    const Identifier array = model_.FindVolume(created)->arrayId;
    Events();
    ASSERT_EQ(model_.DeleteVolume(created), SsiStatus::Success);
    EXPECT_EQ(model_.FindVolume(created), nullptr);
    EXPECT_EQ(model_.FindArray(array), nullptr);
    EXPECT_EQ(DriveNamed("sata0").usage, DriveUsage::PassThrough);
    EXPECT_EQ(Events(), (std::vector<Event>{{EventType::VolumeRemoved, created}}));
    EXPECT_EQ(model_.DeleteVolume(created), SsiStatus::InvalidVolume);

    ASSERT_EQ(model_.DeleteVolume(VolumeId("data")), SsiStatus::Success);
    EXPECT_NE(model_.FindArray(LabelIdentifier("array", "array0")), nullptr);
    EXPECT_EQ(DriveNamed("nvme2").usage, DriveUsage::ArrayMember);
    EXPECT_EQ(model_.FreeSize(DriveNamed("nvme2")), kNvmeSize);
}

TEST_F(RaidModelTest, AddedDrivesJoinTheArray) {
    const Identifier array = LabelIdentifier("array", "array0");
    EXPECT_EQ(model_.AddDrivesToArray(array, {}), SsiStatus::InvalidNumberOfDrives);
    EXPECT_EQ(model_.AddDrivesToArray(kUnknown, Drives({"nvme4"})), SsiStatus::InvalidArray);
    EXPECT_EQ(model_.AddDrivesToArray(array, Drives({"sata0"})), SsiStatus::InvalidMemberDrive);
    EXPECT_EQ(model_.AddDrivesToArray(array, Drives({"nvme4", "nvme4"})),
              SsiStatus::InvalidMemberDrive);
    ASSERT_EQ(model_.AddDrivesToArray(array, Drives({"nvme4"})), SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme4").arrayId, array);
    EXPECT_EQ(model_.TotalSize(*model_.FindArray(array)), 3 * kNvmeSize + DriveNamed("nvme4").size);
    ASSERT_EQ(model_.SetArrayWriteCache(array, true), SsiStatus::Success);
    EXPECT_TRUE(model_.FindArray(array)->writeCache);
}

struct DriveCase {
    const char *what;
    std::function<SsiStatus(RaidModel &)> apply;
    SsiStatus status;
    std::function<bool(const RaidModel &)> holds;
};

bool UsageIs(const RaidModel &model, std::string_view drive, DriveUsage usage) {
    return model.FindDrive(DriveId(drive))->usage == usage;
}

TEST(RaidModelDriveTest, DriveCommandsCheckUsageAndStatus) {
    const DriveCase cases[] = {
        {"spare from a free drive", [](RaidModel &m) { return m.MarkSpare(DriveId("nvme4")); },
         SsiStatus::Success,
         [](const RaidModel &m) { return UsageIs(m, "nvme4", DriveUsage::Spare); }},
        {"spare from an array member", [](RaidModel &m) { return m.MarkSpare(DriveId("nvme0")); },
         SsiStatus::InvalidDrive, nullptr},
        {"spare from stale metadata", [](RaidModel &m) { return m.MarkSpare(DriveId("nvme5")); },
         SsiStatus::InvalidDrive, nullptr},
        {"spare of nothing", [](RaidModel &m) { return m.MarkSpare(kUnknown); },
         SsiStatus::InvalidDrive, nullptr},
        {"unmark a spare", [](RaidModel &m) { return m.UnmarkSpare(DriveId("nvme3")); },
         SsiStatus::Success,
         [](const RaidModel &m) { return UsageIs(m, "nvme3", DriveUsage::PassThrough); }},
        {"unmark a free drive", [](RaidModel &m) { return m.UnmarkSpare(DriveId("nvme4")); },
         SsiStatus::InvalidDrive, nullptr},
        {"clear stale metadata", [](RaidModel &m) { return m.ClearMetadata(DriveId("nvme5")); },
         SsiStatus::Success,
         [](const RaidModel &m) { return UsageIs(m, "nvme5", DriveUsage::PassThrough); }},
        {"clear an array member", [](RaidModel &m) { return m.ClearMetadata(DriveId("nvme0")); },
         SsiStatus::InvalidDrive, nullptr},
        {"normal drive marked normal",
         [](RaidModel &m) { return m.MarkDriveNormal(DriveId("nvme4")); }, SsiStatus::InvalidDrive,
         nullptr},
        {"SMART reset without an event",
         [](RaidModel &m) { return m.ResetSmartEvent(DriveId("nvme4")); }, SsiStatus::InvalidDrive,
         nullptr},
        {"write cache on",
         [](RaidModel &m) { return m.SetDriveWriteCache(DriveId("sata0"), true); },
         SsiStatus::Success,
         [](const RaidModel &m) { return m.FindDrive(DriveId("sata0"))->writeCache; }},
        {"LED", [](RaidModel &m) { return m.ActivateLed(DriveId("nvme4")); }, SsiStatus::Success,
         [](const RaidModel &m) { return m.LedActive(*m.FindDrive(DriveId("nvme4"))); }},
        {"LED of nothing", [](RaidModel &m) { return m.ActivateLed(kUnknown); },
         SsiStatus::InvalidDrive, nullptr},
        {"remove nothing", [](RaidModel &m) { return m.RemoveDrive(kUnknown); },
         SsiStatus::InvalidDrive, nullptr},
        {"ROHI",
         [](RaidModel &m) { return m.SetRohi(LabelIdentifier("controller", "sata0"), true); },
         SsiStatus::Success,
         [](const RaidModel &m) {
             return m.FindController(LabelIdentifier("controller", "sata0"))->rohiEnabled;
         }},
        {"read patrol of nothing", [](RaidModel &m) { return m.SetReadPatrol(kUnknown, true); },
         SsiStatus::InvalidController, nullptr},
    };
    for (const DriveCase &row : cases) {
        SCOPED_TRACE(row.what);
        Clock clock;
        RaidModel model(clock, DefaultInventory());
        const std::string before = Snapshot(model);
        EXPECT_EQ(row.apply(model), row.status);
        if (row.holds) {
            EXPECT_TRUE(row.holds(model));
        } else {
            EXPECT_EQ(Snapshot(model), before);
        }
        ExpectConsistent(model);
    }
}

TEST_F(RaidModelTest, ANewSpareRebuildsADegradedVolume) {
    ASSERT_EQ(model_.UnmarkSpare(DriveId("nvme3")), SsiStatus::Success);
    ASSERT_EQ(model_.FailDrive(DriveId("nvme1")), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Degraded);
    ASSERT_EQ(model_.MarkSpare(DriveId("nvme4")), SsiStatus::Success);
    EXPECT_EQ(VolumeNamed("system").state, VolumeState::Rebuilding);
    EXPECT_EQ(VolumeNamed("data").state, VolumeState::Degraded) << "one spare, taken by the first";
}

TEST_F(RaidModelTest, LedBlinksForAWhile) {
    ASSERT_EQ(model_.ActivateLed(DriveId("sata1")), SsiStatus::Success);
    Advance(kLedBlinkTime - Duration{1});
    EXPECT_TRUE(model_.LedActive(DriveNamed("sata1")));
    Advance(Duration{1});
    EXPECT_FALSE(model_.LedActive(DriveNamed("sata1")));
}

TEST_F(RaidModelTest, FirmwareGoesToSlotsThenToDrives) {
    const uint32_t capacity = model_.Contents().firmwareCapacity;
    EXPECT_EQ(model_.StoreFirmware(9, "3.3.00", 4096), SsiStatus::InvalidFirmwareSlot);
    EXPECT_EQ(model_.StoreFirmware(3, "3.3.00", 0), SsiStatus::InvalidFirmwareImage);
    EXPECT_EQ(model_.StoreFirmware(3, "3.3.00", capacity + 1), SsiStatus::InvalidFirmwareImage);
    EXPECT_EQ(model_.UpdateDriveFirmware(3, DriveId("nvme4"), FirmwareAction::Immediate),
              SsiStatus::InvalidFirmwareImage)
        << "slot 3 is empty";
    ASSERT_EQ(model_.StoreFirmware(3, "SA2R0200", capacity), SsiStatus::Success);
    EXPECT_EQ(model_.Contents().slots[2].revision, "SA2R0200");

    const Identifier nvme4 = DriveId("nvme4");
    EXPECT_EQ(model_.UpdateDriveFirmware(0, nvme4, FirmwareAction::Immediate),
              SsiStatus::InvalidFirmwareSlot);
    EXPECT_EQ(model_.UpdateDriveFirmware(2, kUnknown, FirmwareAction::Immediate),
              SsiStatus::InvalidDrive);
    EXPECT_EQ(model_.UpdateDriveFirmware(1, nvme4, FirmwareAction::Immediate),
              SsiStatus::FirmwareUpdateProhibited)
        << "no going back to 3.0.11";
    ASSERT_EQ(model_.UpdateDriveFirmware(2, nvme4, FirmwareAction::OnReset), SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme4").firmware, "3.1.04");
    EXPECT_EQ(DriveNamed("nvme4").pendingFirmware, "3.2.00");
    ASSERT_EQ(model_.UpdateDriveFirmware(2, nvme4, FirmwareAction::Immediate), SsiStatus::Success);
    EXPECT_EQ(DriveNamed("nvme4").firmware, "3.2.00");
    EXPECT_EQ(DriveNamed("nvme4").pendingFirmware, "");

    EXPECT_EQ(model_.UpdateDriveFirmware(3, DriveId("sata0"), FirmwareAction::Immediate),
              SsiStatus::FirmwareUpdateRequiresReset);
    EXPECT_EQ(DriveNamed("sata0").pendingFirmware, "SA2R0200");
}

TEST_F(RaidModelTest, SubscriptionsSeeOnlyTheirScopeAndTypes) {
    Identifier nvme2Events{};
    Identifier systemDegraded{};
    Identifier sataEvents{};
    Identifier driveFailures{};
    ASSERT_EQ(model_.Subscribe({ScopeType::Drive, DriveId("nvme2")}, {}, nvme2Events),
              SsiStatus::Success);
    ASSERT_EQ(model_.Subscribe({ScopeType::Volume, VolumeId("system")}, {EventType::VolumeDegraded},
                               systemDegraded),
              SsiStatus::Success);
    ASSERT_EQ(model_.Subscribe({ScopeType::Controller, LabelIdentifier("controller", "sata0")}, {},
                               sataEvents),
              SsiStatus::Success);
    ASSERT_EQ(model_.Subscribe({}, {EventType::DriveFailed}, driveFailures), SsiStatus::Success);

    ASSERT_EQ(model_.FailDrive(DriveId("nvme2")), SsiStatus::Success);
    // Once failed, the drive is no longer part of the volume it left.
    EXPECT_EQ(model_.TakeEvents(nvme2Events, 0),
              (std::vector<Event>{{EventType::DriveFailed, DriveId("nvme2")}}));
    EXPECT_EQ(model_.TakeEvents(driveFailures, 0),
              (std::vector<Event>{{EventType::DriveFailed, DriveId("nvme2")}}));
    EXPECT_EQ(model_.QueuedEvents(systemDegraded), 0u);
    EXPECT_EQ(model_.QueuedEvents(sataEvents), 0u);

    ASSERT_EQ(model_.RemoveDrive(DriveId("nvme0")), SsiStatus::Success);
    EXPECT_EQ(model_.TakeEvents(systemDegraded, 0),
              (std::vector<Event>{{EventType::VolumeDegraded, VolumeId("system")}}));
    EXPECT_EQ(model_.QueuedEvents(sataEvents), 0u);
    EXPECT_EQ(model_.QueuedEvents(driveFailures), 0u);
}

TEST_F(RaidModelTest, FullQueuesKeepTheNewestEvents) {
    for (uint64_t i = 0; i < kEventQueueDepth + 6; ++i) {
        model_.RaiseEvent(EventType::DriveInserted, MakeIdentifier(i));
    }
    EXPECT_EQ(model_.QueuedEvents(everything_), kEventQueueDepth);
    const std::vector<Event> first = model_.TakeEvents(everything_, 10);
    ASSERT_EQ(first.size(), 10u);
    EXPECT_EQ(first[0].object, MakeIdentifier(6));
    EXPECT_EQ(model_.QueuedEvents(everything_), kEventQueueDepth - 10u);
    EXPECT_EQ(model_.TakeEvents(everything_, 0).back().object,
              MakeIdentifier(kEventQueueDepth + 5));
    EXPECT_EQ(announcements_, static_cast<int>(kEventQueueDepth) + 6);
}

TEST_F(RaidModelTest, SubscriptionsAreLimitedAndEndWhenCancelled) {
    Selection unused;
    Identifier id{};
    EXPECT_EQ(model_.Subscribe({ScopeType::Array, kUnknown}, {}, id), SsiStatus::InvalidArray);
    std::vector<Identifier> subscriptions{everything_};
    while (subscriptions.size() < kMaxSubscriptions) {
        ASSERT_EQ(model_.Subscribe({}, {}, id), SsiStatus::Success);
        subscriptions.push_back(id);
    }
    EXPECT_EQ(model_.Subscribe({}, {}, id), SsiStatus::SsiBusy);
    EXPECT_EQ(std::set<Identifier>(subscriptions.begin(), subscriptions.end()).size(),
              kMaxSubscriptions);
    ASSERT_EQ(model_.Unsubscribe(subscriptions.back()), SsiStatus::Success);
    EXPECT_FALSE(model_.HasSubscription(subscriptions.back()));
    EXPECT_EQ(model_.Unsubscribe(subscriptions.back()), SsiStatus::InvalidSubscription);
    EXPECT_EQ(model_.Subscribe({}, {}, id), SsiStatus::Success);

    model_.Replace(*ParseInventory("controller c type=VMD\n").inventory);
    EXPECT_TRUE(model_.HasSubscription(everything_)) << "the executor keeps its subscriptions";
    EXPECT_EQ(model_.Contents().drives.size(), 0u);
    model_.ClearSubscriptions();
    EXPECT_FALSE(model_.HasSubscription(everything_));
}

} // namespace
} // namespace vuno::hostsim
