#include "argument_parsing.hpp"
#include "status_mapping.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using testing::ExpectErrorDictionary;
using testing::StdoutCapture;

constexpr Identifier kCounting{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                               0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
constexpr Identifier kMixed{0x9f, 0x3c, 0x1a, 0xe2, 0x4b, 0x07, 0xd5, 0x11,
                            0x80, 0xa6, 0x00, 0xff, 0x3e, 0x5d, 0xc4, 0x21};

// Runs `parse`, which must refuse with a validation text, and returns it.
std::string ValidationText(const std::function<void()> &parse) {
    try {
        parse();
    } catch (const ValidationError &error) {
        return error.Text();
    }
    ADD_FAILURE() << "no ValidationError thrown";
    return {};
}

ResultDictionary RefusalReply(const std::function<void()> &parse) {
    try {
        parse();
    } catch (const ErrorReply &error) {
        return error.Reply();
    }
    ADD_FAILURE() << "no ErrorReply thrown";
    return {};
}

TEST(IdentifierParsing, AllAcceptedSpellingsGiveTheSameBytesInWrittenOrder) {
    const std::vector<std::string> spellings = {
        "9f3c1ae2-4b07-d511-80a6-00ff3e5dc421",   "9F3C1AE24B07D51180A600FF3E5DC421",
        "{9f3c1ae2-4b07-d511-80a6-00ff3e5dc421}", "{9F3C1AE24B07D51180A600FF3E5DC421}",
        "9f3C1aE2-4B07-d511-80A6-00fF3e5Dc421",
    };
    for (const std::string &text : spellings) {
        SCOPED_TRACE(text);
        StdoutCapture output;
        EXPECT_EQ(ParseIdentifier(text), kMixed);
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(IdentifierParsing, MalformedTextsAreRefusedWithTheArgumentQuoted) {
    const std::vector<std::string> texts = {
        "",
        "123",
        "9f3c1ae24b07d51180a600ff3e5dc42",          // 31 digits
        "9f3c1ae24b07d51180a600ff3e5dc4210",        // 33 digits
        "9f3c1ae2-4b07d51180a600ff3e5dc421",        // first dash only
        "9f3c1ae2-4b07-d511-80a600ff3e5dc421",      // last dash missing
        "9f3c1ae24b07-d511-80a6-00ff3e5dc421",      // first dash missing
        "9f3c1ae2-4b0-7d511-80a6-00ff3e5dc421",     // dash one digit early
        "9f3c1ae2--4b07d511-80a6-00ff3e5dc421",     // doubled dash, right length
        "{9f3c1ae2-4b07-d511-80a6-00ff3e5dc421",    // opening brace alone
        "9f3c1ae2-4b07-d511-80a6-00ff3e5dc421}",    // closing brace alone
        "{{9f3c1ae2-4b07-d511-80a6-00ff3e5dc421}}", // doubled braces
        "{}",
        "{",
        "9f3c1ae2-4b07-d511-80a6-00ff3e5dc42g",  // stray letter
        " 9f3c1ae24b07d51180a600ff3e5dc421",     // leading blank
        "9f3c1ae24b07d51180a600ff3e5dc421 ",     // trailing blank
        "9f3c1ae2-4b07-d511-80a6-00ff3e5dc421-", // trailing dash
        std::string("9f3c1ae24b07d51180a600ff3e5dc42\0", 32),
    };
    for (const std::string &text : texts) {
        SCOPED_TRACE(text);
        StdoutCapture output;
        std::string expected = "Invalid scope identifier: " + text;
        EXPECT_EQ(ValidationText([&] { ParseIdentifier(text); }), expected);
        EXPECT_EQ(output.Text(), expected + "\n");
    }
}

TEST(IdentifierText, AllZeroIsEmptyOthersAreGroupedLowerCase) {
    EXPECT_EQ(IdentifierToText(Identifier{}), "");
    EXPECT_EQ(IdentifierToText(kCounting), "00010203-0405-0607-0809-0a0b0c0d0e0f");
    EXPECT_EQ(IdentifierToText(kMixed), "9f3c1ae2-4b07-d511-80a6-00ff3e5dc421");
    Identifier lastByteOnly{};
    lastByteOnly.back() = 1;
    EXPECT_EQ(IdentifierToText(lastByteOnly), "00000000-0000-0000-0000-000000000001");
    EXPECT_EQ(ParseIdentifier(IdentifierToText(kMixed)), kMixed);
}

TEST(ScopeParsing, TypesMatchExactlyAndTheIdentifierIsAlwaysParsed) {
    const std::vector<std::pair<std::string, uint32_t>> types = {
        {"Global", 0}, {"Controller", 1}, {"Array", 2}, {"Volume", 3}, {"Drive", 4}};
    for (const auto &[text, code] : types) {
        Scope scope = ParseScope(text, "00010203-0405-0607-0809-0a0b0c0d0e0f");
        EXPECT_EQ(scope.type, code) << text;
        EXPECT_EQ(scope.identifier, kCounting) << text;
    }
    EXPECT_EQ(ParseScope("Global", "00000000000000000000000000000000").identifier, Identifier{});

    for (const std::string text : {"global", "GLOBAL", "Drive ", "", "Drives"}) {
        StdoutCapture output;
        EXPECT_EQ(ValidationText([&] { ParseScope(text, "not an identifier"); }),
                  "Invalid scope type: " + text);
        EXPECT_EQ(output.Text(), "Invalid scope type: " + text + "\n");
    }
    EXPECT_EQ(ValidationText([] { ParseScope("Global", ""); }), "Invalid scope identifier: ");
}

TEST(RaidLevelParsing, UnknownLevelsAreLeftToTheExecutor) {
    const std::vector<std::pair<std::string, uint32_t>> known = {
        {"0", 1}, {"1", 2}, {"10", 3}, {"5", 4}};
    for (const auto &[text, code] : known) {
        StdoutCapture output;
        EXPECT_EQ(ParseRaidLevel(text), code) << text;
        EXPECT_EQ(output.Text(), "");
    }
    for (const std::string text : {"6", "", "00", "RAID5", " 1"}) {
        StdoutCapture output;
        EXPECT_EQ(ParseRaidLevel(text), 0u) << text;
        EXPECT_EQ(output.Text(), "Invalid RAID level: " + text + "\n");
    }
}

TEST(StripSizeParsing, EveryPowerOfTwoFromTwoToSixtyFourKibibytesIsHalved) {
    for (uint32_t kib = 2; kib <= 65536; kib *= 2) {
        StdoutCapture output;
        EXPECT_EQ(ParseStripSize(kib), kib / 2) << kib;
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(StripSizeParsing, OtherSizesGiveTheUnextendedInvalidStripSizeReply) {
    for (uint32_t kib : {0u, 1u, 3u, 6u, 96u, 65535u, 131072u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(kib);
        StdoutCapture output;
        ExpectErrorDictionary(RefusalReply([&] { ParseStripSize(kib); }), "InvalidStripSize",
                              "The strip size is not valid for the specified RAID level.");
        EXPECT_EQ(output.Text(), "Invalid strip size: " + std::to_string(kib) + "\n");
    }
}

const std::string kInvalidVolumeName = "Volume name contains one or more invalid characters.";

TEST(VolumeNameParsing, UpToSixteenPrintableCharactersAreZeroPadded) {
    const std::vector<std::string> names = {"", "a", "Data volume ~ 01", " !\"#$%&'()*+,-./"};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        StdoutCapture output;
        VolumeName field = ParseVolumeName(name);
        EXPECT_EQ(std::string(field.begin(), field.begin() + name.size()), name);
        for (size_t i = name.size(); i < field.size(); ++i) {
            EXPECT_EQ(field[i], 0) << i;
        }
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(VolumeNameParsing, RefusalsExtendTheInvalidVolumeNameMessageWithTheReason) {
    const std::string tooLong = "Invalid string size. Maximum length: 16";
    const std::string notAscii = "Non-ASCII characters found";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"seventeen chars!!", tooLong},
        {std::string(1000, 'x'), tooLong},
        {"tab\there", notAscii},
        {"del\x7f", notAscii},
        {"caf\xC3\xA9", notAscii},
        {std::string("nul\0", 4), notAscii},
        {"newline\n", notAscii},
        // The character check comes before the length check.
        {"a name far too long\t", notAscii},
    };
    for (const auto &[name, reason] : cases) {
        SCOPED_TRACE(name);
        StdoutCapture output;
        ExpectErrorDictionary(RefusalReply([&] { ParseVolumeName(name); }), "InvalidVolumeName",
                              kInvalidVolumeName + " " + reason);
        EXPECT_EQ(output.Text(), reason + "\n");
    }
}

TEST(RevisionTextParsing, EightPrintableCharactersFitAndRefusalsAreValidationTexts) {
    RevisionText field = ParseRevisionText("1.2.3-rc");
    EXPECT_EQ(std::string(field.begin(), field.end()), "1.2.3-rc");
    EXPECT_EQ(ParseRevisionText(""), RevisionText{});

    StdoutCapture output;
    EXPECT_EQ(ValidationText([] { ParseRevisionText("1.2.3-rc1"); }),
              "Invalid string size. Maximum length: 8");
    EXPECT_EQ(ValidationText([] { ParseRevisionText("v\t1"); }), "Non-ASCII characters found");
    EXPECT_EQ(output.Text(),
              "Invalid string size. Maximum length: 8\nNon-ASCII characters found\n");
}

struct NamedParser {
    std::string name;
    std::function<uint32_t(std::string_view)> parse;
    std::vector<std::pair<std::string, uint32_t>> accepted;
    std::string failurePrefix;
};

TEST(NamedValueParsing, PoliciesAndActionsMatchExactly) {
    const std::vector<NamedParser> parsers = {
        {"write hole policy",
         ParseRaidWriteHolePolicy,
         {{"Off", 0}, {"Distributed", 1}, {"Journaling Drive", 2}},
         "Invalid RAID Write Hole Policy: "},
        {"volume cache policy",
         ParseVolumeCachePolicy,
         {{"Unknown", 0}, {"Disabled", 1}, {"Write Through", 2}, {"Write Back", 3}},
         "Invalid Volume Cache Policy: "},
        {"update action",
         ParseFirmwareUpdateAction,
         {{"OnReset", 0}, {"Immediate", 1}},
         "Invalid update action: "},
    };
    for (const NamedParser &parser : parsers) {
        SCOPED_TRACE(parser.name);
        for (const auto &[text, code] : parser.accepted) {
            EXPECT_EQ(parser.parse(text), code) << text;
            std::string lowered = text;
            lowered[0] = static_cast<char>(lowered[0] + ('a' - 'A'));
            StdoutCapture output;
            EXPECT_EQ(ValidationText([&] { parser.parse(lowered); }),
                      parser.failurePrefix + lowered);
            EXPECT_EQ(output.Text(), parser.failurePrefix + lowered + "\n");
        }
        EXPECT_EQ(ValidationText([&] { parser.parse(""); }), parser.failurePrefix);
    }
}

TEST(OptionalDriveParsing, JournalingAndExistingDataDrives) {
    StdoutCapture output;
    EXPECT_EQ(ParseJournalingDriveIdentifier(""), Identifier{});
    EXPECT_EQ(ParseJournalingDriveIdentifier("000102030405060708090a0b0c0d0e0f"), kCounting);

    ExistingDataDrive unused = ParseExistingDataDrive(false, "ignored, not an identifier");
    EXPECT_EQ(unused.flag, 0u);
    EXPECT_EQ(unused.identifier, Identifier{});
    ExistingDataDrive used = ParseExistingDataDrive(true, "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(used.flag, 1u);
    EXPECT_EQ(used.identifier, kCounting);
    EXPECT_EQ(output.Text(), "");

    EXPECT_EQ(ValidationText([] { ParseJournalingDriveIdentifier("-"); }),
              "Invalid scope identifier: -");
    EXPECT_EQ(ValidationText([] { ParseExistingDataDrive(true, ""); }),
              "Invalid scope identifier: ");
}

TEST(EventTypeParsing, EveryNamedTypeHasItsCode) {
    std::vector<std::string> all;
    for (const NamedCode &type : kEventTypes) {
        all.emplace_back(type.text);
    }
    std::vector<uint32_t> expected = {0, 1, 2};
    for (uint32_t code = 128; code <= 141; ++code) {
        expected.push_back(code);
    }
    EXPECT_EQ(ParseEventTypes(all), expected);
    EXPECT_TRUE(ParseEventTypes({}).empty());
}

TEST(EventTypeParsing, CountIsCheckedFirstThenTheFirstUnknownEntryIsReported) {
    std::vector<std::string> entries(255, "Volume degraded");
    EXPECT_EQ(ParseEventTypes(entries), std::vector<uint32_t>(255, 139));

    std::vector<std::string> tooMany(256, "not a type");
    StdoutCapture quiet;
    EXPECT_EQ(ValidationText([&] { ParseEventTypes(tooMany); }), "Too many expected event types.");
    EXPECT_EQ(quiet.Text(), "");

    const std::vector<std::string> mixed = {"Drive failed", "drive removed", "bogus"};
    StdoutCapture output;
    EXPECT_EQ(ValidationText([&] { ParseEventTypes(mixed); }), "Invalid event type: drive removed");
    EXPECT_EQ(output.Text(), "Invalid event type: drive removed\n");
}

TEST(DriveListParsing, CountIsCheckedFirstThenEntriesInOrder) {
    EXPECT_TRUE(ParseDriveIdentifiers({}).empty());
    const std::vector<std::string> two = {"000102030405060708090a0b0c0d0e0f",
                                          "{9f3c1ae2-4b07-d511-80a6-00ff3e5dc421}"};
    EXPECT_EQ(ParseDriveIdentifiers(two), (std::vector<Identifier>{kCounting, kMixed}));

    std::vector<std::string> most(65535, "9f3c1ae24b07d51180a600ff3e5dc421");
    EXPECT_EQ(ParseDriveIdentifiers(most).size(), 65535u);

    std::vector<std::string> tooMany(65536, "bad");
    StdoutCapture quiet;
    EXPECT_EQ(ValidationText([&] { ParseDriveIdentifiers(tooMany); }),
              "Too many drive identifiers.");
    EXPECT_EQ(quiet.Text(), "");

    const std::vector<std::string> badSecond = {"000102030405060708090a0b0c0d0e0f", "first bad",
                                                "second bad"};
    EXPECT_EQ(ValidationText([&] { ParseDriveIdentifiers(badSecond); }),
              "Invalid scope identifier: first bad");
}

TEST(ParsingFailureReply, EachKindOfFailureHasItsReplyAndLine) {
    struct Case {
        std::string name;
        std::exception_ptr failure;
        std::string errorName;
        std::string errorMessage;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"validation text", std::make_exception_ptr(ValidationError("Invalid update action: x")),
         "InvalidArgument", "Invalid update action: x", "Invalid argument\n"},
        {"ready reply", std::make_exception_ptr(ErrorReply(MapSsiStatus(256))), "InvalidStripSize",
         "The strip size is not valid for the specified RAID level.", ""},
        {"memory", std::make_exception_ptr(std::bad_alloc()), "NotEnoughMemory",
         "VUNO cannot allocate memory.", "Out of memory\n"},
        {"other exception", std::make_exception_ptr(std::out_of_range("index")), "UnknownError",
         "Unknown error has occurred during parsing arguments.", "Unknown error\n"},
        {"not an exception", std::make_exception_ptr(42), "UnknownError",
         "Unknown error has occurred during parsing arguments.", "Unknown error\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        StdoutCapture output;
        ExpectErrorDictionary(ReplyForParsingFailure(c.failure), c.errorName, c.errorMessage);
        EXPECT_EQ(output.Text(), c.line);
    }
}

} // namespace
} // namespace vuno::dbus
