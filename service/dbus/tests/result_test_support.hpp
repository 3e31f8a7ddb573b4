// Records built by hand the way the library lays them out, and a text form
// of the dictionaries converted from them.
#pragma once

#include "result_conversion.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace vuno::dbus::testing {

struct FreeBlock {
    void operator()(void *block) const { std::free(block); }
};
template <typename Record> using RecordPointer = std::unique_ptr<Record, FreeBlock>;

// A zero-filled list record with room for `count` elements.
template <typename Record, typename Element> RecordPointer<Record> MakeList(size_t count) {
    auto *record = static_cast<Record *>(std::calloc(1, sizeof(Record) + count * sizeof(Element)));
    if (record == nullptr) {
        throw std::bad_alloc();
    }
    record->Count = static_cast<decltype(record->Count)>(count);
    return RecordPointer<Record>(record);
}

template <typename Values> std::string Joined(const Values &values) {
    std::ostringstream text;
    for (const auto &value : values) {
        text << (&value == &values.front() ? "" : ",") << value;
    }
    return text.str();
}

inline std::string ValueText(const sdbus::Variant &value) {
    const std::string signature = value.peekValueType();
    std::ostringstream text;
    if (signature == "s") {
        text << value.get<std::string>();
    } else if (signature == "b") {
        text << (value.get<bool>() ? "true" : "false");
    } else if (signature == "y") {
        text << unsigned{value.get<uint8_t>()};
    } else if (signature == "q") {
        text << value.get<uint16_t>();
    } else if (signature == "u") {
        text << value.get<uint32_t>();
    } else if (signature == "t") {
        text << value.get<uint64_t>();
    } else if (signature == "d") {
        text << value.get<double>();
    } else if (signature == "as") {
        text << Joined(value.get<std::vector<std::string>>());
    } else if (signature == "at") {
        text << Joined(value.get<std::vector<uint64_t>>());
    } else if (signature == "aa{sv}") {
        text << value.get<std::vector<ItemDictionary>>().size() << " items";
    }
    return text.str();
}

// "Key:signature=value;" for every entry, in key order: one comparison
// checks the key set, the D-Bus types and the values.
inline std::string Describe(const std::map<std::string, sdbus::Variant> &dictionary) {
    std::string text;
    for (const auto &[key, value] : dictionary) {
        text += key + ":" + value.peekValueType() + "=" + ValueText(value) + ";";
    }
    return text;
}

inline std::vector<ItemDictionary> Items(const ResultDictionary &result, const std::string &key) {
    return result.at(key).get<std::vector<ItemDictionary>>();
}

// How each list record holds its elements and names its list.
template <typename Element> struct ListOf;
#define VUNO_TEST_LIST_OF(ElementType, RecordType, Member, Convert, Key)                           \
    template <> struct ListOf<ElementType> {                                                       \
        using Record = RecordType;                                                                 \
        static ElementType *Elements(Record &record) { return record.Member; }                     \
        static ResultDictionary Converted(const Record &record) { return Convert(&record); }       \
        static constexpr const char *kKey = Key;                                                   \
    };
VUNO_TEST_LIST_OF(vuno_drive_information, vuno_drive_information_list, Drives, ConvertDriveList,
                  "Drives")
VUNO_TEST_LIST_OF(vuno_volume_information, vuno_volume_information_list, Volumes, ConvertVolumeList,
                  "Volumes")
VUNO_TEST_LIST_OF(vuno_array_information, vuno_array_information_list, Arrays, ConvertArrayList,
                  "Arrays")
VUNO_TEST_LIST_OF(vuno_firmware_slot, vuno_firmware_slot_list, Slots, ConvertFirmwareSlots, "Slots")
VUNO_TEST_LIST_OF(vuno_migration_capability, vuno_migration_capability_list, Capabilities,
                  ConvertMigrationCapabilities, "Capabilities")
VUNO_TEST_LIST_OF(vuno_controller_information, vuno_controller_information_list, Controllers,
                  ConvertControllerList, "Controllers")
VUNO_TEST_LIST_OF(vuno_raid_capability, vuno_raid_capability_list, Capabilities,
                  ConvertRaidCapabilities, "Capabilities")
VUNO_TEST_LIST_OF(vuno_event, vuno_event_list, Events, ConvertEventList, "Events")
#undef VUNO_TEST_LIST_OF

// The item converted from a one-element list whose element `fill` sets up
// (strip size codes start valid, so that only the field under test can be
// reported).
template <typename Element, typename Fill> ItemDictionary ItemWith(Fill fill) {
    auto record = MakeList<typename ListOf<Element>::Record, Element>(1);
    Element &element = ListOf<Element>::Elements(*record)[0];
    if constexpr (requires { element.StripSizeCode; }) {
        element.StripSizeCode = 64;
    }
    if constexpr (requires { element.DefaultStripSizeCode; }) {
        element.DefaultStripSizeCode = 64;
    }
    fill(element);
    auto items = Items(ListOf<Element>::Converted(*record), ListOf<Element>::kKey);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? ItemDictionary{} : items.front();
}

} // namespace vuno::dbus::testing
