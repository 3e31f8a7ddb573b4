#include "bus_text.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace vuno::dbus {

namespace {

// U+FFFD, shown in place of each byte that cannot travel as text.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct Utf8LeadByte {
    uint8_t mask;
    uint8_t pattern;
    size_t length;
    uint32_t smallestCodePoint; // anything below has a shorter encoding
};

constexpr std::array<Utf8LeadByte, 4> kUtf8LeadBytes{{
    {0x80, 0x00, 1, 0x0},
    {0xE0, 0xC0, 2, 0x80},
    {0xF0, 0xE0, 3, 0x800},
    {0xF8, 0xF0, 4, 0x10000},
}};

// The bus refuses these although UTF-8 can encode them: values beyond
// Unicode, UTF-16 surrogates and the noncharacters.
bool IsCarriableCodePoint(uint32_t codePoint) {
    return codePoint < 0x110000 && (codePoint & 0xFFFFF800) != 0xD800 &&
           (codePoint < 0xFDD0 || codePoint > 0xFDEF) && (codePoint & 0xFFFE) != 0xFFFE;
}

// Length of the well-formed UTF-8 sequence that starts `bytes`, or 0.
size_t Utf8SequenceLength(std::span<const uint8_t> bytes) {
    auto lead = std::find_if(kUtf8LeadBytes.begin(), kUtf8LeadBytes.end(),
                             [first = bytes.front()](const Utf8LeadByte &form) {
                                 return (first & form.mask) == form.pattern;
                             });
    if (lead == kUtf8LeadBytes.end() || bytes.size() < lead->length) {
        return 0;
    }
    uint32_t codePoint = bytes.front() & static_cast<uint8_t>(~lead->mask);
    for (size_t index = 1; index < lead->length; ++index) {
        if ((bytes[index] & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = codePoint << 6 | (bytes[index] & 0x3F);
    }
    if (codePoint < lead->smallestCodePoint || !IsCarriableCodePoint(codePoint)) {
        return 0;
    }
    return lead->length;
}

} // namespace

std::string BusText(std::span<const uint8_t> text) {
    std::string result;
    result.reserve(text.size());
    while (!text.empty()) {
        size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            result += kReplacementCharacter;
            length = 1;
        } else {
            result.append(text.begin(), text.begin() + length);
        }
        text = text.subspan(length);
    }
    return result;
}

} // namespace vuno::dbus
