#include "argument_parsing.hpp"
#include "request_builders.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using testing::ExpectErrorDictionary;
using testing::StdoutCapture;

const std::string kVolume = "00112233-4455-6677-8899-aabbccddeeff";
const std::string kDriveA = "0102030405060708090a0b0c0d0e0f10";
const std::string kDriveB = "{a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf}";
const std::string kBad = "123";

constexpr std::array<uint8_t, 16> kVolumeBytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr std::array<uint8_t, 16> kDriveABytes{1, 2,  3,  4,  5,  6,  7,  8,
                                               9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::array<uint8_t, 16> kDriveBBytes{0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                                               0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};

std::array<uint8_t, 16> Bytes(const uint8_t (&field)[16]) {
    std::array<uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), field, bytes.size());
    return bytes;
}

bool AllZero(const uint8_t (&field)[16]) {
    return Bytes(field) == std::array<uint8_t, 16>{};
}

// The reply a call gets when its builder refuses, as the dispatch makes it.
ResultDictionary RefusalOf(const std::function<void()> &build) {
    StdoutCapture quiet;
    try {
        build();
    } catch (...) {
        return ReplyForParsingFailure(std::current_exception());
    }
    ADD_FAILURE() << "the builder accepted its arguments";
    return {};
}

void ExpectInvalidArgument(const std::function<void()> &build, const std::string &text) {
    ExpectErrorDictionary(RefusalOf(build), "InvalidArgument", text);
}

const std::string kInvalidVolumeName = "Volume name contains one or more invalid characters.";
const std::string kInvalidStripSize = "The strip size is not valid for the specified RAID level.";

std::vector<std::string> Repeated(const std::string &entry, size_t count) {
    return std::vector<std::string>(count, entry);
}

TEST(ScopeBuilder, FillsTypeCodeAndIdentifier) {
    const vuno_scope drive = BuildScope("Drive", kDriveA);
    EXPECT_EQ(drive.type, 4u);
    EXPECT_EQ(Bytes(drive.identifier), kDriveABytes);

    const vuno_scope global = BuildScope("Global", "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(global.type, 0u);
    EXPECT_TRUE(AllZero(global.identifier));
}

TEST(ScopeBuilder, ReportsTheTypeBeforeTheIdentifierAndChecksTheIdentifierForGlobal) {
    ExpectInvalidArgument([] { BuildScope("global", kBad); }, "Invalid scope type: global");
    ExpectInvalidArgument([] { BuildScope("Global", ""); }, "Invalid scope identifier: ");
}

TEST(IdentifierBuilders, CarryIdentifierFlagAndPolicy) {
    EXPECT_EQ(Bytes(BuildIdentifier(kDriveB).identifier), kDriveBBytes);

    const vuno_identifier_flag enabled = BuildIdentifierFlag(kVolume, true);
    EXPECT_EQ(Bytes(enabled.identifier), kVolumeBytes);
    EXPECT_EQ(enabled.flag, 1u);
    EXPECT_EQ(BuildIdentifierFlag(kVolume, false).flag, 0u);

    const vuno_identifier_policy policy = BuildVolumeCachePolicy(kVolume, "Write Back");
    EXPECT_EQ(Bytes(policy.identifier), kVolumeBytes);
    EXPECT_EQ(policy.policy, 3u);

    const vuno_expand_volume_args expand = BuildExpandVolume(kVolume, UINT64_MAX);
    EXPECT_EQ(Bytes(expand.volume), kVolumeBytes);
    EXPECT_EQ(expand.size, UINT64_MAX);

    const auto events = BuildGetEvents(kVolume, 0xDEADBEEF);
    EXPECT_EQ(Bytes(events->subscription), kVolumeBytes);
    EXPECT_EQ(events->argument, 0xDEADBEEFu);
}

TEST(IdentifierBuilders, ReportTheIdentifierBeforeTheSecondArgument) {
    ExpectInvalidArgument([] { BuildIdentifier(kBad); }, "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildVolumeCachePolicy(kBad, "Sometimes"); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildVolumeCachePolicy(kVolume, "write back"); },
                          "Invalid Volume Cache Policy: write back");
    ExpectInvalidArgument([] { BuildUpdateDriveFirmware(1, kBad, "Later"); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildUpdateDriveFirmware(1, kDriveA, "Later"); },
                          "Invalid update action: Later");
    ExpectInvalidArgument([] { BuildGetEvents("", 0); }, "Invalid scope identifier: ");
}

TEST(UpdateDriveFirmwareBuilder, CarriesSlotDriveAndAction) {
    const vuno_update_drive_firmware_args record =
        BuildUpdateDriveFirmware(7, kDriveA, "Immediate");
    EXPECT_EQ(record.slot, 7u);
    EXPECT_EQ(Bytes(record.drive), kDriveABytes);
    EXPECT_EQ(record.action, 1u);
}

TEST(RenameVolumeBuilder, PadsTheNameAndReportsTheVolumeFirst) {
    const vuno_rename_volume_args record = BuildRenameVolume(kVolume, "Data");
    EXPECT_EQ(Bytes(record.volume), kVolumeBytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.name), 4), "Data");
    EXPECT_TRUE(std::all_of(record.name + 4, record.name + 16, [](uint8_t b) { return b == 0; }));

    ExpectInvalidArgument([] { BuildRenameVolume(kBad, "Tab\there"); },
                          "Invalid scope identifier: 123");
    ExpectErrorDictionary(RefusalOf([] { BuildRenameVolume(kVolume, "Tab\there"); }),
                          "InvalidVolumeName", kInvalidVolumeName + " Non-ASCII characters found");
}

TEST(RaidWriteHolePolicyBuilder, EmptyJournalingDriveIsAllZero) {
    const auto off = BuildRaidWriteHolePolicy(kVolume, "Off", "");
    EXPECT_EQ(off.policy, 0u);
    EXPECT_TRUE(AllZero(off.journaling_drive));

    const auto journal = BuildRaidWriteHolePolicy(kVolume, "Journaling Drive", kDriveA);
    EXPECT_EQ(Bytes(journal.volume), kVolumeBytes);
    EXPECT_EQ(journal.policy, 2u);
    EXPECT_EQ(Bytes(journal.journaling_drive), kDriveABytes);

    ExpectInvalidArgument([] { BuildRaidWriteHolePolicy(kBad, "On", kBad); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildRaidWriteHolePolicy(kVolume, "On", kBad); },
                          "Invalid RAID Write Hole Policy: On");
    ExpectInvalidArgument([] { BuildRaidWriteHolePolicy(kVolume, "Off", kBad); },
                          "Invalid scope identifier: 123");
}

TEST(IdentifierListBuilder, CopiesTargetAndDrivesInOrder) {
    const auto record = BuildIdentifierList(kVolume, {kDriveB, kDriveA});
    EXPECT_EQ(Bytes(record->identifier), kVolumeBytes);
    ASSERT_EQ(record->count, 2u);
    EXPECT_EQ(Bytes(record->drives[0]), kDriveBBytes);
    EXPECT_EQ(Bytes(record->drives[1]), kDriveABytes);

    EXPECT_EQ(BuildIdentifierList(kVolume, {})->count, 0u);
}

TEST(IdentifierListBuilder, ChecksCountThenTargetThenDrives) {
    ExpectInvalidArgument([] { BuildIdentifierList(kBad, Repeated(kBad, 65536)); },
                          "Too many drive identifiers.");
    ExpectInvalidArgument([] { BuildIdentifierList("target", {kBad}); },
                          "Invalid scope identifier: target");
    ExpectInvalidArgument(
        [] {
            BuildIdentifierList(kVolume, {kDriveA, "second", "third"});
        },
        "Invalid scope identifier: second");
    EXPECT_EQ(BuildIdentifierList(kVolume, Repeated(kDriveA, 65535))->count, 65535u);
}

struct CreateVolumeArguments {
    std::string name = "Data";
    uint32_t stripSizeKib = 128;
    std::string raidLevel = "5";
    uint64_t size = 0x0123456789ABCDEF;
    std::string existingDataDrive = kDriveA;
    bool useExistingDataDrive = true;
    std::string writeHolePolicy = "Journaling Drive";
    std::string journalingDrive = kDriveB;
    std::vector<std::string> drives = {kDriveA, kDriveB};

    HeapRecord<vuno_create_volume_args> Build() const {
        return BuildCreateVolume(name, stripSizeKib, raidLevel, size, existingDataDrive,
                                 useExistingDataDrive, writeHolePolicy, journalingDrive, drives);
    }
};

TEST(CreateVolumeBuilder, FillsEveryField) {
    const auto record = CreateVolumeArguments{}.Build();
    ASSERT_EQ(record->count, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->name)), "Data");
    EXPECT_EQ(record->strip_size, 64u);
    EXPECT_EQ(record->raid_level, 4u);
    EXPECT_EQ(record->size, 0x0123456789ABCDEFu);
    EXPECT_EQ(record->existing_data, 1u);
    EXPECT_EQ(record->write_hole_policy, 2u);
    EXPECT_EQ(Bytes(record->existing_data_drive), kDriveABytes);
    EXPECT_EQ(Bytes(record->journaling_drive), kDriveBBytes);
    EXPECT_EQ(Bytes(record->drives[0]), kDriveABytes);
    EXPECT_EQ(Bytes(record->drives[1]), kDriveBBytes);
}

TEST(CreateVolumeBuilder, UnusedExistingDataDriveAndUnknownLevelAreNotRefused) {
    CreateVolumeArguments arguments;
    arguments.useExistingDataDrive = false;
    arguments.existingDataDrive = kBad;
    arguments.raidLevel = "6";
    arguments.journalingDrive = "";
    arguments.writeHolePolicy = "Off";
    arguments.drives = {};

    StdoutCapture output;
    const auto record = arguments.Build();
    EXPECT_EQ(record->count, 0u);
    EXPECT_EQ(record->existing_data, 0u);
    EXPECT_TRUE(AllZero(record->existing_data_drive));
    EXPECT_TRUE(AllZero(record->journaling_drive));
    EXPECT_EQ(record->raid_level, 0u);
    EXPECT_EQ(output.Text(), "Invalid RAID level: 6\n");
}

// Each row spoils one argument and every argument checked after it; the
// row's own failure must be the one reported.
struct OrderRow {
    const char *check;
    std::function<void(CreateVolumeArguments &)> spoil;
    std::string error;
    std::string message;
};

TEST(CreateVolumeBuilder, ReportsTheFirstFailureInCheckOrder) {
    const std::vector<OrderRow> rows = {
        {"member count", [](auto &a) { a.drives = Repeated(kBad, 65536); }, "InvalidArgument",
         "Too many drive identifiers."},
        {"member identifiers",
         [](auto &a) {
             a.drives = {kDriveA, "member"};
         },
         "InvalidArgument", "Invalid scope identifier: member"},
        {"name", [](auto &a) { a.name = "seventeen-chars!!"; }, "InvalidVolumeName",
         kInvalidVolumeName + " Invalid string size. Maximum length: 16"},
        {"strip size", [](auto &a) { a.stripSizeKib = 3; }, "InvalidStripSize", kInvalidStripSize},
        {"write hole policy", [](auto &a) { a.writeHolePolicy = "Journal"; }, "InvalidArgument",
         "Invalid RAID Write Hole Policy: Journal"},
        {"journaling drive", [](auto &a) { a.journalingDrive = "journal"; }, "InvalidArgument",
         "Invalid scope identifier: journal"},
        {"existing data drive", [](auto &a) { a.existingDataDrive = "existing"; },
         "InvalidArgument", "Invalid scope identifier: existing"},
    };
    for (size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE(rows[row].check);
        CreateVolumeArguments arguments;
        // Backwards, so that a row spoiling the same argument as a later
        // one has the last word.
        for (size_t later = rows.size(); later-- > row;) {
            rows[later].spoil(arguments);
        }
        ExpectErrorDictionary(RefusalOf([&arguments] { arguments.Build(); }), rows[row].error,
                              rows[row].message);
    }
}

TEST(ChangeRaidLevelBuilder, FillsRecordAndReportsTheFirstFailureInCheckOrder) {
    const auto record = BuildChangeRaidLevel(kVolume, 65536, "10", {kDriveB});
    EXPECT_EQ(Bytes(record->volume), kVolumeBytes);
    EXPECT_EQ(record->strip_size, 32768u);
    EXPECT_EQ(record->raid_level, 3u);
    ASSERT_EQ(record->count, 1u);
    EXPECT_EQ(Bytes(record->drives[0]), kDriveBBytes);

    ExpectInvalidArgument([] { BuildChangeRaidLevel(kBad, 3, "0", Repeated(kBad, 65536)); },
                          "Too many drive identifiers.");
    ExpectInvalidArgument([] { BuildChangeRaidLevel(kBad, 3, "0", {kBad}); },
                          "Invalid scope identifier: 123");
    ExpectErrorDictionary(RefusalOf([] { BuildChangeRaidLevel(kVolume, 3, "0", {kBad}); }),
                          "InvalidStripSize", kInvalidStripSize);
    ExpectInvalidArgument(
        [] {
            BuildChangeRaidLevel(kVolume, 2, "0", {kDriveA, "x"});
        },
        "Invalid scope identifier: x");
}

TEST(EventSubscriptionBuilder, FillsScopeAndEventCodes) {
    const auto record =
        BuildEventSubscription("Volume", kVolume, {"Volume removed", "Drive inserted"});
    EXPECT_EQ(record->scope.type, 3u);
    EXPECT_EQ(Bytes(record->scope.identifier), kVolumeBytes);
    ASSERT_EQ(record->count, 2u);
    EXPECT_EQ(record->event_types[0], 141u);
    EXPECT_EQ(record->event_types[1], 0u);

    EXPECT_EQ(BuildEventSubscription("Global", kVolume, {})->count, 0u);
    EXPECT_EQ(BuildEventSubscription("Global", kVolume, Repeated("Drive failed", 255))->count,
              255u);
}

TEST(EventSubscriptionBuilder, ChecksCountThenScopeTypeThenIdentifierThenEvents) {
    ExpectInvalidArgument([] { BuildEventSubscription("all", kBad, Repeated("x", 256)); },
                          "Too many expected event types.");
    ExpectInvalidArgument([] { BuildEventSubscription("all", kBad, {"x"}); },
                          "Invalid scope type: all");
    ExpectInvalidArgument([] { BuildEventSubscription("Drive", kBad, {"x"}); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument(
        [] {
            BuildEventSubscription("Drive", kDriveA, {"Drive failed", "drive failed"});
        },
        "Invalid event type: drive failed");
}

class FirmwareImageBuilder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vuno-image-XXXXXX";
        folder_ = mkdtemp(pattern);
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override {
        for (const auto &path : created_) {
            ::unlink(path.c_str());
        }
        ::rmdir(folder_.c_str());
    }

    std::string File(const std::string &name, const std::string &contents) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        created_.push_back(path);
        return path;
    }

    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(FirmwareImageBuilder, CarriesSlotRevisionAndTheWholeImage) {
    const std::string image("\x00\x01\xfe\xff image", 10);
    const auto record = BuildSendFirmwareToSlot(3, "1.2.3", File("image.bin", image));
    EXPECT_EQ(record->slot, 3u);
    ASSERT_EQ(record->image_length, image.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->image), image.size()), image);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->revision), 5), "1.2.3");
    EXPECT_EQ(record->revision[5], 0);

    const auto empty = BuildSendFirmwareToSlot(0, "", File("empty.bin", ""));
    EXPECT_EQ(empty->image_length, 0u);
}

TEST_F(FirmwareImageBuilder, OpensTheFileBeforeCheckingTheRevision) {
    const std::string missing = folder_ + "/missing.bin";
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", missing); },
                          "Invalid Firmware image file.");
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", folder_); },
                          "Invalid Firmware image file.");

    const std::string image = File("image.bin", "firmware");
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", image); },
                          "Invalid string size. Maximum length: 8");
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "r\xc3\xa9v", image); },
                          "Non-ASCII characters found");
}

} // namespace
} // namespace vuno::dbus
