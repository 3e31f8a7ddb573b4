#include "bus_text.hpp"

#include <sdbus-c++/Types.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string Replacements(size_t count) {
    std::string text;
    for (size_t index = 0; index < count; ++index) {
        text += kReplacement;
    }
    return text;
}

std::string BusTextOf(const std::string &bytes) {
    return BusText({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
}

TEST(BusText, WellFormedTextIsKeptAndEveryOtherByteReplaced) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", ""},
        {"Plain \x01\x1f\x7f text", "Plain \x01\x1f\x7f text"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},           // two bytes
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},         // three bytes
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}, // four bytes
        {"\xF4\x8F\xBF\xBD", "\xF4\x8F\xBF\xBD"}, // last usable code point
        {"a\xFF"
         "b",
         "a" + kReplacement + "b"}, // never a lead byte
        {"\x80", kReplacement},     // stray continuation
        {"\xC3", kReplacement},     // cut short by the end
        {"\xC3"
         "A",
         kReplacement + "A"},                  // cut short by a letter
        {"\xC0\x80", Replacements(2)},         // overlong zero
        {"\xE0\x80\xAF", Replacements(3)},     // overlong
        {"\xED\xA0\x80", Replacements(3)},     // surrogate
        {"\xEF\xB7\x90", Replacements(3)},     // U+FDD0
        {"\xEF\xBF\xBE", Replacements(3)},     // U+FFFE
        {"\xF4\x90\x80\x80", Replacements(4)}, // beyond Unicode
    };
    for (const auto &[bytes, expected] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(BusTextOf(bytes), expected);
    }
}

// The bus itself is the judge: whatever the bytes, the text must be
// accepted as a string and come back unchanged.
TEST(BusText, AnyBytesGiveAStringTheBusAccepts) {
    std::vector<std::string> samples;
    for (int first = 1; first < 256; ++first) {
        for (int second = 1; second < 256; ++second) {
            samples.push_back({static_cast<char>(first), static_cast<char>(second)});
        }
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> highByte(0x7F, 0xFF);
    for (int sample = 0; sample < 100000; ++sample) {
        std::string bytes(4, '\0');
        for (char &byte : bytes) {
            byte = static_cast<char>(highByte(random));
        }
        samples.push_back(bytes);
    }
    for (const std::string &bytes : samples) {
        std::string text = BusTextOf(bytes);
        try {
            ASSERT_EQ(sdbus::Variant(text).get<std::string>(), text);
        } catch (const sdbus::Error &) {
            FAIL() << "refused by the bus: " << ::testing::PrintToString(bytes);
        }
    }
}

} // namespace
} // namespace vuno::dbus
