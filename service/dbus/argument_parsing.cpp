#include "argument_parsing.hpp"

#include "status_mapping.hpp"

#include <algorithm>
#include <bit>
#include <iostream>
#include <new>
#include <optional>

namespace vuno::dbus {

namespace {

constexpr std::array<NamedCode, 5> kScopeTypes{{
    {"Global", 0},
    {"Controller", 1},
    {"Array", 2},
    {"Volume", 3},
    {"Drive", 4},
}};

constexpr std::array<NamedCode, 4> kRaidLevels{{
    {"0", 1},
    {"1", 2},
    {"10", 3},
    {"5", 4},
}};
constexpr uint32_t kUnknownRaidLevel = 0;

constexpr std::array<NamedCode, 2> kFirmwareUpdateActions{{
    {"OnReset", 0},
    {"Immediate", 1},
}};

constexpr uint32_t kMinStripSizeKib = 2;
constexpr uint32_t kMaxStripSizeKib = 65536;

constexpr size_t kPlainIdentifierLength = 32;
constexpr size_t kDashedIdentifierLength = 36;
constexpr size_t kFirstDashPosition = 8;

// The grouped form puts a dash in front of these bytes (8-4-4-4-12 digits).
bool DashPrecedes(size_t byte) {
    return byte == 4 || byte == 6 || byte == 8 || byte == 10;
}

[[noreturn]] void RefuseAndReport(const std::string &text) {
    std::cout << text << std::endl;
    throw ValidationError(text);
}

std::optional<uint32_t> FindCode(std::span<const NamedCode> table, std::string_view text) {
    auto found = std::find_if(table.begin(), table.end(),
                              [text](const NamedCode &entry) { return entry.text == text; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->code;
}

uint32_t ParseNamed(std::span<const NamedCode> table, std::string_view text,
                    std::string_view failurePrefix) {
    auto code = FindCode(table, text);
    if (!code) {
        RefuseAndReport(std::string(failurePrefix) + std::string(text));
    }
    return *code;
}

std::optional<uint8_t> HexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return std::nullopt;
}

std::optional<Identifier> DecodeIdentifier(std::string_view text) {
    if (!text.empty() && text.front() == '{') {
        if (text.size() < 2 || text.back() != '}') {
            return std::nullopt;
        }
        text = text.substr(1, text.size() - 2);
    }
    bool dashed = text.size() > kFirstDashPosition && text[kFirstDashPosition] == '-';
    if (text.size() != (dashed ? kDashedIdentifierLength : kPlainIdentifierLength)) {
        return std::nullopt;
    }
    Identifier identifier{};
    size_t position = 0;
    for (size_t byte = 0; byte < identifier.size(); ++byte) {
        if (dashed && DashPrecedes(byte) && text[position++] != '-') {
            return std::nullopt;
        }
        auto high = HexDigitValue(text[position++]);
        auto low = HexDigitValue(text[position++]);
        if (!high || !low) {
            return std::nullopt;
        }
        identifier[byte] = static_cast<uint8_t>(*high << 4 | *low);
    }
    return identifier;
}

bool IsPrintableAscii(char character) {
    return character >= ' ' && character <= '~';
}

void CheckFixedText(std::string_view text, size_t width) {
    if (!std::all_of(text.begin(), text.end(), IsPrintableAscii)) {
        RefuseAndReport("Non-ASCII characters found");
    }
    if (text.size() > width) {
        RefuseAndReport("Invalid string size. Maximum length: " + std::to_string(width));
    }
}

template <size_t Width> std::array<uint8_t, Width> ParseFixedText(std::string_view text) {
    CheckFixedText(text, Width);
    std::array<uint8_t, Width> field{};
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

ResultDictionary InvalidVolumeNameReply(const std::string &reason) {
    ResultDictionary reply = MapSsiStatus(kSsiStatusInvalidVolumeName);
    auto message = reply.at(kErrorMessageKey).get<std::string>();
    reply[kErrorMessageKey] = sdbus::Variant(message + " " + reason);
    return reply;
}

} // namespace

ResultDictionary ReplyForParsingFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ValidationError &error) {
        std::cout << "Invalid argument" << std::endl;
        return InvalidArgumentError(error.Text());
    } catch (const ErrorReply &error) {
        return error.Reply();
    } catch (const std::bad_alloc &) {
        std::cout << "Out of memory" << std::endl;
        return NotEnoughMemoryError();
    } catch (...) {
        std::cout << "Unknown error" << std::endl;
        return UnknownError();
    }
}

Identifier ParseIdentifier(std::string_view text) {
    auto identifier = DecodeIdentifier(text);
    if (!identifier) {
        RefuseAndReport("Invalid scope identifier: " + std::string(text));
    }
    return *identifier;
}

std::string IdentifierToText(std::span<const uint8_t, VUNO_IDENTIFIER_SIZE> identifier) {
    if (std::all_of(identifier.begin(), identifier.end(), [](uint8_t byte) { return byte == 0; })) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(kDashedIdentifierLength);
    for (size_t byte = 0; byte < identifier.size(); ++byte) {
        if (DashPrecedes(byte)) {
            text += '-';
        }
        text += kDigits[identifier[byte] >> 4];
        text += kDigits[identifier[byte] & 0x0F];
    }
    return text;
}

uint32_t ParseScopeType(std::string_view text) {
    return ParseNamed(kScopeTypes, text, "Invalid scope type: ");
}

Scope ParseScope(std::string_view type, std::string_view identifier) {
    uint32_t typeCode = ParseScopeType(type);
    return Scope{typeCode, ParseIdentifier(identifier)};
}

uint32_t ParseRaidLevel(std::string_view text) {
    auto code = FindCode(kRaidLevels, text);
    if (!code) {
        std::cout << "Invalid RAID level: " << text << std::endl;
        return kUnknownRaidLevel;
    }
    return *code;
}

uint16_t ParseStripSize(uint32_t kib) {
    if (kib < kMinStripSizeKib || kib > kMaxStripSizeKib || !std::has_single_bit(kib)) {
        std::cout << "Invalid strip size: " << kib << std::endl;
        throw ErrorReply(MapSsiStatus(kSsiStatusInvalidStripSize));
    }
    return static_cast<uint16_t>(kib / 2);
}

VolumeName ParseVolumeName(std::string_view text) {
    try {
        return ParseFixedText<kVolumeNameWidth>(text);
    } catch (const ValidationError &error) {
        throw ErrorReply(InvalidVolumeNameReply(error.Text()));
    }
}

RevisionText ParseRevisionText(std::string_view text) {
    return ParseFixedText<kRevisionTextWidth>(text);
}

uint32_t ParseRaidWriteHolePolicy(std::string_view text) {
    return ParseNamed(kRaidWriteHolePolicies, text, "Invalid RAID Write Hole Policy: ");
}

Identifier ParseJournalingDriveIdentifier(std::string_view text) {
    if (text.empty()) {
        return Identifier{};
    }
    return ParseIdentifier(text);
}

ExistingDataDrive ParseExistingDataDrive(bool use, std::string_view identifier) {
    if (!use) {
        return ExistingDataDrive{0, Identifier{}};
    }
    return ExistingDataDrive{1, ParseIdentifier(identifier)};
}

uint32_t ParseVolumeCachePolicy(std::string_view text) {
    return ParseNamed(kVolumeCachePolicies, text, "Invalid Volume Cache Policy: ");
}

uint32_t ParseFirmwareUpdateAction(std::string_view text) {
    return ParseNamed(kFirmwareUpdateActions, text, "Invalid update action: ");
}

std::vector<uint32_t> ParseEventTypes(std::span<const std::string> entries) {
    if (entries.size() > kMaxEventTypes) {
        throw ValidationError("Too many expected event types.");
    }
    std::vector<uint32_t> codes;
    codes.reserve(entries.size());
    for (const std::string &entry : entries) {
        codes.push_back(ParseNamed(kEventTypes, entry, "Invalid event type: "));
    }
    return codes;
}

std::vector<Identifier> ParseDriveIdentifiers(std::span<const std::string> entries) {
    if (entries.size() > kMaxDriveIdentifiers) {
        throw ValidationError("Too many drive identifiers.");
    }
    std::vector<Identifier> identifiers;
    identifiers.reserve(entries.size());
    for (const std::string &entry : entries) {
        identifiers.push_back(ParseIdentifier(entry));
    }
    return identifiers;
}

} // namespace vuno::dbus
