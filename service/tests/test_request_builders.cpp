#include "argument_parsing.hpp"
#include "request_builders.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

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
using Bytes16 = std::array<uint8_t, 16>;

const std::string kVolume = "00112233-4455-6677-8899-aabbccddeeff";
const std::string kDriveA = "0102030405060708090a0b0c0d0e0f10";
const std::string kDriveB = "{a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf}";
const std::string kBad = "123";
constexpr Bytes16 kVolumeBytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr Bytes16 kDriveABytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr Bytes16 kDriveBBytes{0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                               0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad, 0xae, 0xaf};
const std::string kInvalidVolumeName = "Volume name contains one or more invalid characters.";
const std::string kInvalidStripSize = "The strip size is not valid for the specified RAID level.";

Bytes16 Field(const uint8_t (&field)[16]) {
    Bytes16 bytes{};
    std::memcpy(bytes.data(), field, bytes.size());
    return bytes;
}

std::vector<std::string> Repeated(const std::string &entry, size_t count) {
    return std::vector<std::string>(count, entry);
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

TEST(RequestBuilders, PutEachArgumentIntoItsField) {
    const vuno_scope scope = BuildScope("Drive", kDriveA);
    EXPECT_EQ(scope.type, 4u);
    EXPECT_EQ(Field(scope.identifier), kDriveABytes);

    const vuno_identifier_flag flag = BuildIdentifierFlag(kVolume, true);
    EXPECT_EQ(Field(flag.identifier), kVolumeBytes);
    EXPECT_EQ(flag.flag, 1u);
    EXPECT_EQ(BuildIdentifierFlag(kVolume, false).flag, 0u);

    const vuno_identifier_policy policy = BuildVolumeCachePolicy(kVolume, "Write Back");
    EXPECT_EQ(Field(policy.identifier), kVolumeBytes);
    EXPECT_EQ(policy.policy, 3u);

    const vuno_expand_volume_args expand = BuildExpandVolume(kVolume, UINT64_MAX);
    EXPECT_EQ(Field(expand.volume), kVolumeBytes);
    EXPECT_EQ(expand.size, UINT64_MAX);

    const vuno_update_drive_firmware_args update =
        BuildUpdateDriveFirmware(7, kDriveA, "Immediate");
    EXPECT_EQ(update.slot, 7u);
    EXPECT_EQ(Field(update.drive), kDriveABytes);
    EXPECT_EQ(update.action, 1u);

    const vuno_rename_volume_args rename = BuildRenameVolume(kVolume, "Data");
    EXPECT_EQ(Field(rename.volume), kVolumeBytes);
    EXPECT_EQ(Field(rename.name), (Bytes16{'D', 'a', 't', 'a'}));

    const auto noJournal = BuildRaidWriteHolePolicy(kVolume, "Distributed", "");
    EXPECT_EQ(noJournal.policy, 1u);
    EXPECT_EQ(Field(noJournal.journaling_drive), Bytes16{});
    const auto journal = BuildRaidWriteHolePolicy(kVolume, "Journaling Drive", kDriveA);
    EXPECT_EQ(Field(journal.volume), kVolumeBytes);
    EXPECT_EQ(Field(journal.journaling_drive), kDriveABytes);

    const auto events = BuildGetEvents(kVolume, 0xDEADBEEF);
    EXPECT_EQ(Field(events->subscription), kVolumeBytes);
    EXPECT_EQ(events->argument, 0xDEADBEEFu);
}

TEST(RequestBuilders, ListsKeepTheirEntriesInOrder) {
    const auto rebuild = BuildIdentifierList(kVolume, {kDriveB, kDriveA});
    EXPECT_EQ(Field(rebuild->identifier), kVolumeBytes);
    ASSERT_EQ(rebuild->count, 2u);
    EXPECT_EQ(Field(rebuild->drives[0]), kDriveBBytes);
    EXPECT_EQ(Field(rebuild->drives[1]), kDriveABytes);
    EXPECT_EQ(BuildIdentifierList(kVolume, {})->count, 0u);
    EXPECT_EQ(BuildIdentifierList(kVolume, Repeated(kDriveA, 65535))->count, 65535u);

    const auto change = BuildChangeRaidLevel(kVolume, 65536, "10", {kDriveB});
    EXPECT_EQ(Field(change->volume), kVolumeBytes);
    EXPECT_EQ(change->strip_size, 32768u);
    EXPECT_EQ(change->raid_level, 3u);
    ASSERT_EQ(change->count, 1u);
    EXPECT_EQ(Field(change->drives[0]), kDriveBBytes);

    const auto subscription =
        BuildEventSubscription("Volume", kVolume, {"Volume removed", "Drive inserted"});
    EXPECT_EQ(subscription->scope.type, 3u);
    EXPECT_EQ(Field(subscription->scope.identifier), kVolumeBytes);
    ASSERT_EQ(subscription->count, 2u);
    EXPECT_EQ(subscription->event_types[0], 141u);
    EXPECT_EQ(subscription->event_types[1], 0u);
    EXPECT_EQ(BuildEventSubscription("Global", kVolume, Repeated("Drive failed", 255))->count,
              255u);
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
    EXPECT_EQ(Field(record->name), (Bytes16{'D', 'a', 't', 'a'}));
    EXPECT_EQ(record->strip_size, 64u);
    EXPECT_EQ(record->raid_level, 4u);
    EXPECT_EQ(record->size, 0x0123456789ABCDEFu);
    EXPECT_EQ(record->existing_data, 1u);
    EXPECT_EQ(record->write_hole_policy, 2u);
    EXPECT_EQ(Field(record->existing_data_drive), kDriveABytes);
    EXPECT_EQ(Field(record->journaling_drive), kDriveBBytes);
    EXPECT_EQ(Field(record->drives[0]), kDriveABytes);
    EXPECT_EQ(Field(record->drives[1]), kDriveBBytes);

    // An unused existing data drive is not looked at; an unknown level is
    // left for the executor to judge.
    CreateVolumeArguments loose;
    loose.useExistingDataDrive = false;
    loose.existingDataDrive = kBad;
    loose.raidLevel = "6";
    StdoutCapture output;
    const auto looseRecord = loose.Build();
    EXPECT_EQ(looseRecord->existing_data, 0u);
    EXPECT_EQ(Field(looseRecord->existing_data_drive), Bytes16{});
    EXPECT_EQ(looseRecord->raid_level, 0u);
    EXPECT_EQ(output.Text(), "Invalid RAID level: 6\n");
}

// Each row spoils one argument and every argument checked after it; the
// row's own failure must be the one reported.
TEST(CreateVolumeBuilder, ReportsTheFirstFailureInCheckOrder) {
    struct Row {
        const char *check;
        std::function<void(CreateVolumeArguments &)> spoil;
        std::string error;
        std::string message;
    };
    const std::vector<Row> rows = {
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

TEST(RequestBuilders, CountsComeFirstThenTheArgumentsInOrder) {
    ExpectInvalidArgument([] { BuildScope("global", kBad); }, "Invalid scope type: global");
    ExpectInvalidArgument([] { BuildScope("Global", ""); }, "Invalid scope identifier: ");
    ExpectInvalidArgument([] { BuildRenameVolume(kBad, "Tab\there"); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildRaidWriteHolePolicy(kBad, "On", kBad); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument([] { BuildRaidWriteHolePolicy(kVolume, "On", kBad); },
                          "Invalid RAID Write Hole Policy: On");
    ExpectInvalidArgument([] { BuildUpdateDriveFirmware(1, kBad, "Later"); },
                          "Invalid scope identifier: 123");

    ExpectInvalidArgument([] { BuildIdentifierList(kBad, Repeated(kBad, 65536)); },
                          "Too many drive identifiers.");
    ExpectInvalidArgument([] { BuildIdentifierList("target", {kBad}); },
                          "Invalid scope identifier: target");
    ExpectInvalidArgument(
        [] {
            BuildIdentifierList(kVolume, {kDriveA, "second", "third"});
        },
        "Invalid scope identifier: second");

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

    ExpectInvalidArgument([] { BuildEventSubscription("all", kBad, Repeated("x", 256)); },
                          "Too many expected event types.");
    ExpectInvalidArgument([] { BuildEventSubscription("all", kBad, {"x"}); },
                          "Invalid scope type: all");
    ExpectInvalidArgument([] { BuildEventSubscription("Drive", kBad, {"x"}); },
                          "Invalid scope identifier: 123");
    ExpectInvalidArgument(
        [] {
            BuildEventSubscription("Drive", kDriveA, {"Drive failed", "x"});
        },
        "Invalid event type: x");
}

TEST(FirmwareImageBuilder, CarriesTheWholeImageAndOpensTheFileBeforeCheckingTheRevision) {
    char pattern[] = "/tmp/vuno-image-XXXXXX";
    const int descriptor = mkstemp(pattern);
    ASSERT_GE(descriptor, 0);
    ::close(descriptor);
    const std::string path = pattern;
    const std::string image("\x00\x01\xfe\xff image", 10);
    std::ofstream(path, std::ios::binary) << image;

    const auto record = BuildSendFirmwareToSlot(3, "1.2.3", path);
    EXPECT_EQ(record->slot, 3u);
    ASSERT_EQ(record->image_length, image.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->image), image.size()), image);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->revision), 8),
              std::string("1.2.3\0\0\0", 8));

    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", path); },
                          "Invalid string size. Maximum length: 8");
    ::unlink(path.c_str());
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", path); },
                          "Invalid Firmware image file.");
}

} // namespace
} // namespace vuno::dbus
