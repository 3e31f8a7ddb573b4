#include "result_fields.hpp"

#include "bus_text.hpp"
#include "status_mapping.hpp"

#include <algorithm>
#include <bit>
#include <iostream>
#include <limits>

namespace vuno::dbus {

namespace {

constexpr std::array<NamedCode, 5> kRaidLevelTexts{{
    {"Unknown", 0},
    {"Level 0", 1},
    {"Level 1", 2},
    {"Level 10", 3},
    {"Level 5", 4},
}};

constexpr uint32_t kLargestStripSizeCode = 32768;
constexpr uint64_t kInvalidStripSize = std::numeric_limits<uint64_t>::max();

} // namespace

void ReportInvalidValue(std::string_view invalidPrefix, uint32_t value) {
    std::cout << invalidPrefix << std::hex << value << std::dec << std::endl;
}

std::optional<std::string_view> FindText(std::span<const NamedCode> table, uint32_t code) {
    auto found = std::find_if(table.begin(), table.end(),
                              [code](const NamedCode &entry) { return entry.code == code; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->text;
}

std::string EnumerationText(std::span<const NamedCode> table, uint32_t code,
                            std::string_view invalidPrefix) {
    auto text = FindText(table, code);
    if (!text) {
        ReportInvalidValue(invalidPrefix, code);
        return {};
    }
    return std::string(*text);
}

std::string RaidLevelText(uint32_t level) {
    return EnumerationText(kRaidLevelTexts, level, "Invalid RAID level: 0x");
}

std::string FixedText(std::span<const uint8_t> field) {
    return BusText(field.first(std::find(field.begin(), field.end(), uint8_t{0}) - field.begin()));
}

uint64_t StripSizeKib(uint32_t code) {
    if (!std::has_single_bit(code) || code > kLargestStripSizeCode) {
        ReportInvalidValue("Invalid strip size: 0x", code);
        return kInvalidStripSize;
    }
    return uint64_t{code} * 2;
}

ResultDictionary MissingRecordResult() {
    std::cout << "Internal error, successful response without its record" << std::endl;
    return VunoInternalError();
}

} // namespace vuno::dbus
