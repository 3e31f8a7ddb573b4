// Conversion of method arguments into the values of the library's request
// records. Parsers are pure apart from the lines they write to standard
// output, and refuse bad input by throwing:
//  - ValidationError: the method answers InvalidArgument with its text;
//  - ErrorReply: the method answers with the dictionary it carries.
// Dispatch code catches everything around its parsing and passes the
// exception to ReplyForParsingFailure, which also covers memory exhaustion
// and anything unexpected.
#pragma once

#include "result_dictionary.hpp"

#include <vuno.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vuno::dbus {

class ValidationError : public std::exception {
  public:
    explicit ValidationError(std::string text) : text_(std::move(text)) {}
    const char *what() const noexcept override { return text_.c_str(); }
    // Unlike what(), keeps anything behind a zero byte of a quoted argument.
    const std::string &Text() const { return text_; }

  private:
    std::string text_;
};

class ErrorReply : public std::exception {
  public:
    explicit ErrorReply(ResultDictionary reply) : reply_(std::move(reply)) {}
    const char *what() const noexcept override { return "argument refused with a ready reply"; }
    const ResultDictionary &Reply() const { return reply_; }

  private:
    ResultDictionary reply_;
};

// Writes the matching line ("Invalid argument", "Out of memory", "Unknown
// error") where the interface asks for one. `failure` must not be null.
ResultDictionary ReplyForParsingFailure(std::exception_ptr failure);

using Identifier = std::array<uint8_t, VUNO_IDENTIFIER_SIZE>;

struct Scope {
    uint32_t type;
    Identifier identifier;
};

struct ExistingDataDrive {
    uint32_t flag;
    Identifier identifier;
};

inline constexpr size_t kVolumeNameWidth = 16;
inline constexpr size_t kRevisionTextWidth = 8;
using VolumeName = std::array<uint8_t, kVolumeNameWidth>;
using RevisionText = std::array<uint8_t, kRevisionTextWidth>;

// Counts travel as u8 and u16 fields of the requests.
inline constexpr size_t kMaxEventTypes = 255;
inline constexpr size_t kMaxDriveIdentifiers = 65535;

struct NamedCode {
    std::string_view text;
    uint32_t code;
};

// Shared with the result converters, which turn codes back into these texts.
inline constexpr std::array<NamedCode, 17> kEventTypes{{
    {"Drive inserted", 0},
    {"Drive removed", 1},
    {"Drive failed", 2},
    {"Volume added", 128},
    {"Volume rebuild started", 129},
    {"Volume rebuild completed", 130},
    {"Volume verify started", 131},
    {"Volume verify completed", 132},
    {"Volume verify and fix started", 133},
    {"Volume verify and fix completed", 134},
    {"Volume migrate started", 135},
    {"Volume migrate completed", 136},
    {"Volume initialize started", 137},
    {"Volume initialize completed", 138},
    {"Volume degraded", 139},
    {"Volume failed", 140},
    {"Volume removed", 141},
}};

inline constexpr std::array<NamedCode, 4> kVolumeCachePolicies{{
    {"Unknown", 0},
    {"Disabled", 1},
    {"Write Through", 2},
    {"Write Back", 3},
}};

inline constexpr std::array<NamedCode, 3> kRaidWriteHolePolicies{{
    {"Off", 0},
    {"Distributed", 1},
    {"Journaling Drive", 2},
}};

// Accepts 32 hex digits, optionally grouped 8-4-4-4-12 by dashes and
// optionally enclosed in braces.
Identifier ParseIdentifier(std::string_view text);
// The all-zero identifier is shown as the empty string.
std::string IdentifierToText(std::span<const uint8_t, VUNO_IDENTIFIER_SIZE> identifier);

uint32_t ParseScopeType(std::string_view text);
Scope ParseScope(std::string_view type, std::string_view identifier);

// Never refuses: an unknown level is sent as 0 for the executor to judge.
uint32_t ParseRaidLevel(std::string_view text);
// Strip size in KiB to its code; refuses with the InvalidStripSize reply.
uint16_t ParseStripSize(uint32_t kib);

// Refuses with the InvalidVolumeName reply, extended by the reason.
VolumeName ParseVolumeName(std::string_view text);
RevisionText ParseRevisionText(std::string_view text);

uint32_t ParseRaidWriteHolePolicy(std::string_view text);
// An empty text means "no journaling drive" and gives the all-zero value.
Identifier ParseJournalingDriveIdentifier(std::string_view text);
// The identifier is only looked at when the drive is to be used.
ExistingDataDrive ParseExistingDataDrive(bool use, std::string_view identifier);
uint32_t ParseVolumeCachePolicy(std::string_view text);
uint32_t ParseFirmwareUpdateAction(std::string_view text);

std::vector<uint32_t> ParseEventTypes(std::span<const std::string> entries);
std::vector<Identifier> ParseDriveIdentifiers(std::span<const std::string> entries);

} // namespace vuno::dbus
