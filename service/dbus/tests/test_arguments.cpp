// Method arguments as a client sends them: the request records built from
// them, or the reply and the lines that refuse them.
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
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using vuno::testing::ExpectErrorDictionary;
using vuno::testing::StdoutCapture;
using Bytes16 = std::array<uint8_t, 16>;

const std::string kVolume = "00112233-4455-6677-8899-aabbccddeeff";
const std::string kDrive = "0102030405060708090a0b0c0d0e0f10";
constexpr Bytes16 kVolumeBytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
constexpr Bytes16 kDriveBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::string kInvalidStripSize = "The strip size is not valid for the specified RAID level.";
const std::string kInvalidName = "Volume name contains one or more invalid characters. ";

Bytes16 Field(const uint8_t (&field)[16]) {
    Bytes16 bytes{};
    std::memcpy(bytes.data(), field, bytes.size());
    return bytes;
}

struct Refusal {
    ResultDictionary reply;
    std::string output;
};

// What a call whose arguments `parse` refuses answers and writes.
Refusal RefusalOf(const std::function<void()> &parse) {
    StdoutCapture output;
    try {
        parse();
    } catch (...) {
        ResultDictionary reply = ReplyForParsingFailure(std::current_exception());
        return {reply, output.Text()};
    }
    ADD_FAILURE() << "the arguments were accepted";
    return {};
}

void ExpectInvalidArgument(const std::function<void()> &parse, const std::string &text) {
    ExpectErrorDictionary(RefusalOf(parse).reply, "InvalidArgument", text);
}

TEST(Identifiers, EverySpellingGivesTheBytesInWrittenOrderAndPrintsBackGrouped) {
    for (const std::string text :
         {"00112233-4455-6677-8899-aabbccddeeff", "00112233445566778899AABBCCDDEEFF",
          "{00112233-4455-6677-8899-AaBbCcDdEeFf}", "{00112233445566778899aabbccddeeff}"}) {
        EXPECT_EQ(ParseIdentifier(text), kVolumeBytes) << text;
    }
    EXPECT_EQ(IdentifierToText(kVolumeBytes), kVolume);
    EXPECT_EQ(IdentifierToText(Identifier{}), "");
}

TEST(Identifiers, MalformedTextsAreRefusedWithTheArgumentQuoted) {
    using namespace std::string_literals;
    for (const std::string &text :
         {""s, "123"s, "00112233445566778899aabbccddeef"s, "00112233445566778899aabbccddeeff0"s,
          "00112233-44556677-8899-aabbccddeeff"s, "00112233-445-56677-8899-aabbccddeeff"s,
          "{00112233445566778899aabbccddeeff"s, "00112233445566778899aabbccddeeff}"s,
          "{{00112233445566778899aabbccddeeff}}"s, "00112233445566778899aabbccddeefg"s,
          " 00112233445566778899aabbccddeeff"s, "00112233445566778899aabbccddeeff-"s}) {
        const Refusal refusal = RefusalOf([&] { ParseIdentifier(text); });
        ExpectErrorDictionary(refusal.reply, "InvalidArgument",
                              "Invalid scope identifier: " + text);
        EXPECT_EQ(refusal.output, "Invalid scope identifier: " + text + "\nInvalid argument\n");
    }
}

TEST(Arguments, StripSizesArePowersOfTwoFromTwoTo64KiB) {
    for (uint32_t kib = 2; kib <= 65536; kib *= 2) {
        EXPECT_EQ(ParseStripSize(kib), kib / 2) << kib;
    }
    for (uint32_t kib : {0u, 1u, 3u, 96u, 131072u, 0xFFFFFFFFu}) {
        const Refusal refusal = RefusalOf([kib] { ParseStripSize(kib); });
        ExpectErrorDictionary(refusal.reply, "InvalidStripSize", kInvalidStripSize);
        EXPECT_EQ(refusal.output, "Invalid strip size: " + std::to_string(kib) + "\n");
    }
}

TEST(Arguments, VolumeNamesArePrintableAsciiOfAtMostSixteenBytes) {
    const VolumeName full = ParseVolumeName("Data volume ~ 01");
    EXPECT_EQ(std::string(full.begin(), full.end()), "Data volume ~ 01");
    EXPECT_EQ(ParseVolumeName(""), VolumeName{});
    const std::string tooLong = "Invalid string size. Maximum length: 16";
    const std::string notAscii = "Non-ASCII characters found";
    const std::vector<std::pair<std::string, std::string>> refused{
        {"seventeen chars!!", tooLong},
        {"tab\there", notAscii},
        {"caf\xC3\xA9", notAscii},
        {std::string("nul\0", 4), notAscii},
        {"a name far too long\x7f", notAscii},
    };
    for (const auto &[name, reason] : refused) {
        const Refusal refusal = RefusalOf([&] { ParseVolumeName(name); });
        ExpectErrorDictionary(refusal.reply, "InvalidVolumeName", kInvalidName + reason);
        EXPECT_EQ(refusal.output, reason + "\n");
    }
}

TEST(Arguments, NamedValuesMatchExactly) {
    EXPECT_EQ(ParseScope("Drive", kDrive).type, 4u);
    EXPECT_EQ(ParseScope("Global", std::string(32, '0')).identifier, Identifier{});
    EXPECT_EQ(ParseVolumeCachePolicy("Write Back"), 3u);
    EXPECT_EQ(ParseRaidWriteHolePolicy("Journaling Drive"), 2u);
    EXPECT_EQ(ParseFirmwareUpdateAction("Immediate"), 1u);
    EXPECT_EQ(ParseRaidLevel("10"), 3u);
    const Refusal scope = RefusalOf([] { ParseScope("global", "not checked"); });
    ExpectErrorDictionary(scope.reply, "InvalidArgument", "Invalid scope type: global");
    EXPECT_EQ(scope.output, "Invalid scope type: global\nInvalid argument\n");
    ExpectInvalidArgument([] { ParseVolumeCachePolicy("write back"); },
                          "Invalid Volume Cache Policy: write back");
    ExpectInvalidArgument([] { ParseFirmwareUpdateAction("onReset"); },
                          "Invalid update action: onReset");

    // An unknown RAID level is the executor's to judge.
    StdoutCapture output;
    EXPECT_EQ(ParseRaidLevel("6"), 0u);
    EXPECT_EQ(output.Text(), "Invalid RAID level: 6\n");
}

TEST(Arguments, ListsAreCountedBeforeTheirFirstBadEntryIsReported) {
    EXPECT_EQ(ParseEventTypes(std::vector<std::string>(255, "Volume removed")),
              std::vector<uint32_t>(255, 141));
    const Refusal events = RefusalOf([] { ParseEventTypes(std::vector<std::string>(256, "x")); });
    ExpectErrorDictionary(events.reply, "InvalidArgument", "Too many expected event types.");
    EXPECT_EQ(events.output, "Invalid argument\n");
    ExpectInvalidArgument(
        [] {
            ParseEventTypes(std::vector<std::string>{"Drive inserted", "drive removed", "x"});
        },
        "Invalid event type: drive removed");

    EXPECT_EQ(ParseDriveIdentifiers(std::vector<std::string>(65535, kDrive)).size(), 65535u);
    ExpectInvalidArgument([] { ParseDriveIdentifiers(std::vector<std::string>(65536, "x")); },
                          "Too many drive identifiers.");
    ExpectInvalidArgument(
        [] {
            ParseDriveIdentifiers(std::vector<std::string>{kDrive, "first", "second"});
        },
        "Invalid scope identifier: first");
}

TEST(RequestBuilders, PutEachArgumentIntoItsField) {
    const vuno_identifier_flag flag = BuildIdentifierFlag(kVolume, true);
    EXPECT_EQ(Field(flag.identifier), kVolumeBytes);
    EXPECT_EQ(flag.flag, 1u);
    const vuno_update_drive_firmware_args update = BuildUpdateDriveFirmware(7, kDrive, "OnReset");
    EXPECT_EQ(update.slot, 7u);
    EXPECT_EQ(Field(update.drive), kDriveBytes);
    EXPECT_EQ(update.action, 0u);
    const vuno_rename_volume_args rename = BuildRenameVolume(kVolume, "Data");
    EXPECT_EQ(Field(rename.volume), kVolumeBytes);
    EXPECT_EQ(Field(rename.name), (Bytes16{'D', 'a', 't', 'a'}));
    const auto writeHole = BuildRaidWriteHolePolicy(kVolume, "Distributed", "");
    EXPECT_EQ(writeHole.policy, 1u);
    EXPECT_EQ(Field(writeHole.journaling_drive), Bytes16{});
    const auto events = BuildGetEvents(kVolume, 0xDEADBEEF);
    EXPECT_EQ(Field(events->subscription), kVolumeBytes);
    EXPECT_EQ(events->argument, 0xDEADBEEFu);

    const auto change = BuildChangeRaidLevel(kVolume, 65536, "5", {kVolume, kDrive});
    EXPECT_EQ(change->strip_size, 32768u);
    EXPECT_EQ(change->raid_level, 4u);
    ASSERT_EQ(change->count, 2u);
    EXPECT_EQ(Field(change->drives[0]), kVolumeBytes);
    EXPECT_EQ(Field(change->drives[1]), kDriveBytes);
    const auto subscription = BuildEventSubscription("Volume", kVolume, {"Drive inserted"});
    EXPECT_EQ(subscription->scope.type, 3u);
    ASSERT_EQ(subscription->count, 1u);
    EXPECT_EQ(subscription->event_types[0], 0u);
}

struct CreateVolumeArguments {
    std::string name = "Data";
    uint32_t stripSizeKib = 128;
    std::string raidLevel = "0";
    std::string existingDataDrive = kDrive;
    bool useExistingDataDrive = true;
    std::string writeHolePolicy = "Journaling Drive";
    std::string journalingDrive = kVolume;
    std::vector<std::string> drives = {kDrive};

    HeapRecord<vuno_create_volume_args> Build() const {
        return BuildCreateVolume(name, stripSizeKib, raidLevel, 0x0123456789ABCDEF,
                                 existingDataDrive, useExistingDataDrive, writeHolePolicy,
                                 journalingDrive, drives);
    }
};

TEST(RequestBuilders, CreateVolumeFillsEveryFieldAndIgnoresAnUnusedDrive) {
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
    unused.existingDataDrive = "not an identifier";
    const auto withoutDrive = unused.Build();
    EXPECT_EQ(withoutDrive->existing_data, 0u);
    EXPECT_EQ(Field(withoutDrive->existing_data_drive), Bytes16{});
}

// Each row spoils one argument and every argument checked after it; the
// row's own failure must be the one reported.
TEST(RequestBuilders, CreateVolumeReportsTheFirstFailureInCheckOrder) {
    struct Row {
        std::function<void(CreateVolumeArguments &)> spoil;
        std::string error;
        std::string message;
    };
    const std::vector<Row> rows = {
        {[](auto &a) { a.drives.assign(65536, "x"); }, "InvalidArgument",
         "Too many drive identifiers."},
        {[](auto &a) { a.drives = {"member"}; }, "InvalidArgument",
         "Invalid scope identifier: member"},
        {[](auto &a) { a.name = "tab\t"; }, "InvalidVolumeName",
         kInvalidName + "Non-ASCII characters found"},
        {[](auto &a) { a.stripSizeKib = 3; }, "InvalidStripSize", kInvalidStripSize},
        {[](auto &a) { a.writeHolePolicy = "On"; }, "InvalidArgument",
         "Invalid RAID Write Hole Policy: On"},
        {[](auto &a) { a.journalingDrive = "journal"; }, "InvalidArgument",
         "Invalid scope identifier: journal"},
        {[](auto &a) { a.existingDataDrive = "existing"; }, "InvalidArgument",
         "Invalid scope identifier: existing"},
    };
    for (size_t row = 0; row < rows.size(); ++row) {
        CreateVolumeArguments arguments;
        // Backwards, so that the row's own spoiling has the last word.
        for (size_t later = rows.size(); later-- > row;) {
            rows[later].spoil(arguments);
        }
        ExpectErrorDictionary(RefusalOf([&arguments] { arguments.Build(); }).reply, rows[row].error,
                              rows[row].message);
    }
}

TEST(RequestBuilders, OtherMethodsCheckCountsFirstThenTheirArgumentsInOrder) {
    ExpectInvalidArgument([] { BuildIdentifierList("x", std::vector<std::string>(65536, "x")); },
                          "Too many drive identifiers.");
    ExpectInvalidArgument([] { BuildIdentifierList("target", {"drive"}); },
                          "Invalid scope identifier: target");
    ExpectInvalidArgument([] { BuildChangeRaidLevel("volume", 3, "0", {"drive"}); },
                          "Invalid scope identifier: volume");
    ExpectErrorDictionary(RefusalOf([] { BuildChangeRaidLevel(kVolume, 3, "0", {"x"}); }).reply,
                          "InvalidStripSize", kInvalidStripSize);
    ExpectInvalidArgument([] { BuildEventSubscription("all", "x", std::vector<std::string>(256)); },
                          "Too many expected event types.");
    ExpectInvalidArgument([] { BuildEventSubscription("Drive", "x", {"x"}); },
                          "Invalid scope identifier: x");
    ExpectInvalidArgument([] { BuildUpdateDriveFirmware(1, "drive", "Later"); },
                          "Invalid scope identifier: drive");
}

class FirmwareImage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "vuno-image-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string File(const std::string &contents, uint64_t size) {
        const std::string path = folder_ / std::to_string(size);
        std::ofstream(path, std::ios::binary) << contents;
        std::filesystem::resize_file(path, size);
        return path;
    }

    std::filesystem::path folder_;
};

TEST_F(FirmwareImage, TravelsWholeAfterTheFileIsOpenedAndTheRevisionChecked) {
    const std::string image("\x00\x01\xfe\xff image", 10);
    const std::string path = File(image, image.size());
    const auto record = BuildSendFirmwareToSlot(3, "1.2.3", path);
    EXPECT_EQ(record->slot, 3u);
    ASSERT_EQ(record->image_length, image.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->image), image.size()), image);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record->revision), 8),
              std::string("1.2.3\0\0\0", 8));

    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", path); },
                          "Invalid string size. Maximum length: 8");
    ExpectInvalidArgument([&] { BuildSendFirmwareToSlot(1, "nine-char", path + ".missing"); },
                          "Invalid Firmware image file.");
}

TEST_F(FirmwareImage, MustFitIntoOneRequestAndMustNotShrink) {
    EXPECT_EQ(FirmwareImageFile(File("", kMaxFirmwareImageSize)).Size(), kMaxFirmwareImageSize);
    const std::string tooLarge = File("", kMaxFirmwareImageSize + 1);
    ExpectInvalidArgument([&] { FirmwareImageFile image(tooLarge); },
                          "Cannot get Firmware image file size.");

    const std::string path = File("", 4096);
    FirmwareImageFile image(path);
    std::filesystem::resize_file(path, 100);
    std::vector<uint8_t> buffer(image.Size());
    ExpectInvalidArgument([&] { image.ReadInto(buffer); }, "Invalid Firmware image file.");
}

TEST(ParsingFailures, EachKindHasItsReplyAndLine) {
    struct Case {
        std::exception_ptr failure;
        std::string error;
        std::string message;
        std::string line;
    };
    const std::string unknown = "Unknown error has occurred during parsing arguments.";
    const std::vector<Case> cases = {
        {std::make_exception_ptr(std::bad_alloc()), "NotEnoughMemory",
         "VUNO cannot allocate memory.", "Out of memory\n"},
        {std::make_exception_ptr(std::out_of_range("index")), "UnknownError", unknown,
         "Unknown error\n"},
        {std::make_exception_ptr(42), "UnknownError", unknown, "Unknown error\n"},
    };
    for (const Case &c : cases) {
        const Refusal refusal = RefusalOf([&] { std::rethrow_exception(c.failure); });
        ExpectErrorDictionary(refusal.reply, c.error, c.message);
        EXPECT_EQ(refusal.output, c.line);
    }
}

} // namespace
} // namespace vuno::dbus
