// Method arguments as a client sends them: the request records built from
// them, or the error that refuses them.
#include "argument_parsing.hpp"
#include "firmware_image.hpp"
#include "request_builders.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using vuno::testing::StdoutCapture;
using Bytes16 = std::array<uint8_t, 16>;
using Texts = std::vector<std::string>;

const std::string kVolume = "00112233-4455-6677-8899-aabbccddeeff";
const std::string kDrive = "0102030405060708090a0b0c0d0e0f10";
constexpr Bytes16 kVolumeBytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr Bytes16 kDriveBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::string kBadStripSize =
    "InvalidStripSize: The strip size is not valid for the specified RAID level.";
const std::string kBadName = "InvalidVolumeName: Volume name contains one or more invalid "
                             "characters. ";

Bytes16 Field(const uint8_t (&field)[16]) {
    Bytes16 bytes{};
    std::memcpy(bytes.data(), field, bytes.size());
    return bytes;
}

// "Error: ErrorMessage" of the reply of a call whose arguments `parse`
// refuses.
std::string Refusal(const std::function<void()> &parse) {
    StdoutCapture quiet;
    try {
        parse();
    } catch (...) {
        return vuno::testing::ErrorText(ReplyForParsingFailure(std::current_exception()));
    }
    return "accepted";
}

TEST(Identifiers, EverySpellingGivesTheBytesInWrittenOrderAndPrintsBackGrouped) {
    for (const std::string text :
         {"00112233-4455-6677-8899-aabbccddeeff", "00112233445566778899AABBCCDDEEFF",
          "{00112233-4455-6677-8899-AaBbCcDdEeFf}", "{00112233445566778899aabbccddeeff}"}) {
        EXPECT_EQ(ParseIdentifier(text), kVolumeBytes) << text;
    }
    EXPECT_EQ(IdentifierToText(kVolumeBytes), kVolume);
    EXPECT_EQ(IdentifierToText(Identifier{}), "");

    for (const std::string text :
         {"00112233445566778899aabbccddeef", "00112233-445-56677-8899-aabbccddeeff",
          "{00112233445566778899aabbccddeeff", "00112233445566778899aabbccddeefg"}) {
        EXPECT_EQ(Refusal([&] { ParseIdentifier(text); }),
                  "InvalidArgument: Invalid scope identifier: " + text);
    }
}

TEST(Arguments, SizesNamesAndNamedValuesWithinTheirLimits) {
    for (uint32_t kib = 2; kib <= 65536; kib *= 2) {
        EXPECT_EQ(ParseStripSize(kib), kib / 2) << kib;
    }
    for (uint32_t kib : {0u, 1u, 96u, 131072u}) {
        EXPECT_EQ(Refusal([kib] { ParseStripSize(kib); }), kBadStripSize) << kib;
    }

    const VolumeName full = ParseVolumeName("Data volume ~ 01");
    EXPECT_EQ(std::string(full.begin(), full.end()), "Data volume ~ 01");
    // Characters are checked before the length.
    EXPECT_EQ(Refusal([] { ParseVolumeName("a name far too long\t"); }),
              kBadName + "Non-ASCII characters found");

    EXPECT_EQ(Refusal([] { ParseScope("global", "not looked at"); }),
              "InvalidArgument: Invalid scope type: global");
    EXPECT_EQ(ParseEventTypes(Texts(255, "Volume removed")), std::vector<uint32_t>(255, 141));
    EXPECT_EQ(Refusal([] {
                  ParseEventTypes(Texts{"Drive failed", "drive removed", "x"});
              }),
              "InvalidArgument: Invalid event type: drive removed");
    EXPECT_EQ(ParseDriveIdentifiers(Texts(65535, kDrive)).size(), 65535u);
    // An unknown RAID level is the executor's to judge.
    StdoutCapture quiet;
    EXPECT_EQ(ParseRaidLevel("10"), 3u);
    EXPECT_EQ(ParseRaidLevel("6"), 0u);
}

TEST(RequestBuilders, PutEachArgumentIntoItsField) {
    const vuno_update_drive_firmware_args update = BuildUpdateDriveFirmware(7, kDrive, "Immediate");
    EXPECT_EQ(update.slot, 7u);
    EXPECT_EQ(Field(update.drive), kDriveBytes);
    EXPECT_EQ(update.action, 1u);
    const auto writeHole = BuildRaidWriteHolePolicy(kVolume, "Distributed", "");
    EXPECT_EQ(Field(writeHole.volume), kVolumeBytes);
    EXPECT_EQ(writeHole.policy, 1u);
    EXPECT_EQ(Field(writeHole.journaling_drive), Bytes16{});
    EXPECT_EQ(BuildGetEvents(kVolume, 0xDEADBEEF)->argument, 0xDEADBEEFu);

    const auto change = BuildChangeRaidLevel(kVolume, 65536, "5", {kVolume, kDrive});
    EXPECT_EQ(Field(change->volume), kVolumeBytes);
    EXPECT_EQ(change->strip_size, 32768u);
    EXPECT_EQ(change->raid_level, 4u);
    ASSERT_EQ(change->count, 2u);
    EXPECT_EQ(Field(change->drives[1]), kDriveBytes);
    // Checks the count before the types.
    EXPECT_EQ(Refusal([] { BuildEventSubscription("all", "x", Texts(256)); }),
              "InvalidArgument: Too many expected event types.");
}

struct CreateVolumeArguments {
    std::string name = "Data";
    uint32_t stripSizeKib = 128;
    std::string existingDataDrive = kDrive;
    bool useExistingDataDrive = true;
    std::string writeHolePolicy = "Journaling Drive";
    std::string journalingDrive = kVolume;
    Texts drives = {kDrive};

    HeapRecord<vuno_create_volume_args> Build() const {
        return BuildCreateVolume(name, stripSizeKib, "0", 0x0123456789ABCDEF, existingDataDrive,
                                 useExistingDataDrive, writeHolePolicy, journalingDrive, drives);
    }
};

TEST(RequestBuilders, CreateVolumeFillsEveryFieldAndReportsTheFirstFailureInCheckOrder) {
    const auto record = CreateVolumeArguments{}.Build();
    EXPECT_EQ(Field(record->name), (Bytes16{'D', 'a', 't', 'a'}));
    EXPECT_EQ(record->strip_size, 64u);
    EXPECT_EQ(record->raid_level, 1u);
    EXPECT_EQ(record->size, 0x0123456789ABCDEFu);
    EXPECT_EQ(record->existing_data, 1u);
    EXPECT_EQ(Field(record->existing_data_drive), kDriveBytes);
    EXPECT_EQ(record->write_hole_policy, 2u);
    EXPECT_EQ(Field(record->journaling_drive), kVolumeBytes);
    ASSERT_EQ(record->count, 1u);
    EXPECT_EQ(Field(record->drives[0]), kDriveBytes);

    CreateVolumeArguments unused;
    unused.useExistingDataDrive = false;
    unused.existingDataDrive = "not looked at";
    EXPECT_EQ(Field(unused.Build()->existing_data_drive), Bytes16{});

    // Each row spoils its argument and every argument checked after it; its
    // own failure must be the one reported.
    const std::vector<std::pair<std::function<void(CreateVolumeArguments &)>, std::string>> rows{
        {[](auto &a) { a.drives.assign(65536, "x"); },
         "InvalidArgument: Too many drive identifiers."},
        {[](auto &a) { a.drives = {"member"}; },
         "InvalidArgument: Invalid scope identifier: member"},
        {[](auto &a) { a.name = "seventeen chars!!"; },
         kBadName + "Invalid string size. Maximum length: 16"},
        {[](auto &a) { a.stripSizeKib = 3; }, kBadStripSize},
        {[](auto &a) { a.writeHolePolicy = "On"; },
         "InvalidArgument: Invalid RAID Write Hole Policy: On"},
        {[](auto &a) { a.journalingDrive = "journal"; },
         "InvalidArgument: Invalid scope identifier: journal"},
        {[](auto &a) { a.existingDataDrive = "data"; },
         "InvalidArgument: Invalid scope identifier: data"},
    };
    for (size_t row = 0; row < rows.size(); ++row) {
        CreateVolumeArguments arguments;
        // Backwards, so that the row's own spoiling has the last word.
        for (size_t later = rows.size(); later-- > row;) {
            rows[later].first(arguments);
        }
        EXPECT_EQ(Refusal([&arguments] { arguments.Build(); }), rows[row].second);
    }
}

TEST(RequestBuilders, FirmwareImagesTravelWholeAndMustFitIntoOneRequest) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vuno-image-" + std::to_string(::getpid()));
    const std::string image("\x00\x01\xfe\xff image", 10);
    std::ofstream(path, std::ios::binary) << image;
    const auto record = BuildSendFirmwareToSlot(3, "1.2.3", path);
    EXPECT_EQ(record->slot, 3u);
    ASSERT_EQ(record->image_length, image.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->image), image.size()), image);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->revision), 8),
              std::string("1.2.3\0\0\0", 8));
    EXPECT_EQ(Refusal([&] { BuildSendFirmwareToSlot(1, "nine-char", path); }),
              "InvalidArgument: Invalid string size. Maximum length: 8");

    std::filesystem::resize_file(path, kMaxFirmwareImageSize);
    FirmwareImageFile largest(path);
    EXPECT_EQ(largest.Size(), kMaxFirmwareImageSize);
    // A file that shrank after it was opened.
    std::filesystem::resize_file(path, 100);
    std::vector<uint8_t> buffer(largest.Size());
    EXPECT_EQ(Refusal([&] { largest.ReadInto(buffer); }),
              "InvalidArgument: Invalid Firmware image file.");
    std::filesystem::resize_file(path, kMaxFirmwareImageSize + 1);
    EXPECT_EQ(Refusal([&] { FirmwareImageFile{path}; }),
              "InvalidArgument: Cannot get Firmware image file size.");
    std::filesystem::remove(path);
}

} // namespace
} // namespace vuno::dbus
