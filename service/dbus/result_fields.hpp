// Conventions shared by the result converters: how identifiers, texts,
// flags, enumerations and lists of a response record become dictionary
// values. An enumeration value that a table does not know never stops a
// conversion: it is reported on standard output and shown as a neutral
// value, so that one odd field from a newer or confused executor does not
// hide the rest of the answer.
#pragma once

#include "argument_parsing.hpp"
#include "result_dictionary.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vuno::dbus {

inline constexpr const char *kCountKey = "Count";

// Writes `invalidPrefix` followed by the value in lower-case hexadecimal.
void ReportInvalidValue(std::string_view invalidPrefix, uint32_t value);

std::optional<std::string_view> FindText(std::span<const NamedCode> table, uint32_t code);
// The text for `code`, or the empty string after reporting it.
std::string EnumerationText(std::span<const NamedCode> table, uint32_t code,
                            std::string_view invalidPrefix);
std::string RaidLevelText(uint32_t level);

// The bytes up to the first zero byte, or the whole field if it has none.
// Bytes the bus cannot carry are replaced as BusText does.
std::string FixedText(std::span<const uint8_t> field);
inline bool Flag(uint8_t byte) {
    return byte != 0;
}

// A strip size code is half the size in KiB and must be a single bit; any
// other code is reported and gives the all-ones value.
uint64_t StripSizeKib(uint32_t code);

// {"Count": count, listKey: items}. The D-Bus type of "Count" follows the
// type of the record's count field.
template <typename Count, typename Element, typename ConvertElement>
ResultDictionary ListResult(Count count, const Element *elements, const std::string &listKey,
                            ConvertElement convertElement) {
    std::vector<ItemDictionary> items;
    items.reserve(count);
    for (size_t index = 0; index < count; ++index) {
        items.push_back(convertElement(elements[index]));
    }
    return {{kCountKey, sdbus::Variant(count)}, {listKey, sdbus::Variant(items)}};
}

// A converter is only called for a successful response, which always
// carries its record; a missing one is the library's fault, not the
// executor's, and is answered as an internal error rather than trusted.
ResultDictionary MissingRecordResult();

template <typename Record, typename Convert>
ResultDictionary ConvertPresentRecord(const Record *record, Convert convert) {
    if (record == nullptr) {
        return MissingRecordResult();
    }
    return convert(*record);
}

} // namespace vuno::dbus
