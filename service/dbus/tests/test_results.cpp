// What a client reads in a reply: the error dictionaries of the statuses and
// the results converted from response records.
#include "argument_parsing.hpp"
#include "bus_text.hpp"
#include "result_conversion.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

namespace vuno::dbus {
namespace {

using vuno::testing::ErrorText;
using vuno::testing::StdoutCapture;

TEST(StatusMapping, ListedValuesHaveTheirOwnNamesAndOthersFallBack) {
    std::set<std::string> names;
    std::set<std::string> messages;
    const auto collect = [&](const ResultDictionary &error) {
        names.insert(error.at(kErrorKey).get<std::string>());
        messages.insert(error.at(kErrorMessageKey).get<std::string>());
    };
    StdoutCapture quiet;
    for (uint32_t status = 1; status <= 13; ++status) {
        collect(MapLibraryStatus(status));
    }
    for (uint32_t status = 1; status <= 282; status = status == 7 ? 256 : status + 1) {
        collect(MapSsiStatus(status));
    }
    // All distinct but the gap at 280, which falls back.
    EXPECT_EQ(names.size(), 13u + 7u + 27u);
    EXPECT_EQ(messages.size(), names.size());
    EXPECT_EQ(names.count("UnknownSsiStatus"), 1u);
    EXPECT_EQ(ErrorText(MapLibraryStatus(0)), "UnknownVunoStatus: Unknown VUNO status.");
}

// The bus itself is the judge: whatever the bytes, the text must be
// accepted as a string, and well-formed text is kept.
TEST(BusText, AnyBytesGiveAStringTheBusAccepts) {
    EXPECT_EQ(BusText(std::vector<uint8_t>{0xC3, 0xA9, 0xFF}), "\xC3\xA9\xEF\xBF\xBD");
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(1, 0xFF);
    for (int sample = 0; sample < 50000; ++sample) {
        std::vector<uint8_t> bytes(1 + sample % 4);
        std::generate(bytes.begin(), bytes.end(), [&] { return byte(random); });
        const std::string converted = BusText(bytes);
        try {
            ASSERT_EQ(sdbus::Variant(converted).get<std::string>(), converted);
        } catch (const sdbus::Error &) {
            FAIL() << "refused by the bus: " << ::testing::PrintToString(bytes);
        }
    }
}

template <typename T> bool Put(std::ostream &text, const sdbus::Variant &value) {
    if (!value.containsValueOfType<T>()) {
        return false;
    }
    if constexpr (std::is_same_v<T, uint8_t>) {
        text << unsigned{value.get<T>()};
    } else {
        text << value.get<T>();
    }
    return true;
}

// "Key:type=value;" for every entry in key order: one comparison checks the
// keys, their D-Bus types and their values (of basic types).
std::string Describe(const ItemDictionary &dictionary) {
    std::ostringstream text;
    for (const auto &[key, value] : dictionary) {
        text << key << ":" << value.peekValueType() << "=";
        static_cast<void>(Put<std::string>(text, value) || Put<bool>(text, value) ||
                          Put<uint8_t>(text, value) || Put<uint16_t>(text, value) ||
                          Put<uint32_t>(text, value) || Put<uint64_t>(text, value) ||
                          Put<double>(text, value));
        text << ";";
    }
    return text.str();
}

// The item of a one-element list that `fill` sets up.
template <typename Record, typename Fill>
ItemDictionary OnlyItem(ResultDictionary (*convert)(const Record *), const char *listKey,
                        Fill fill) {
    // Room for one element of any list.
    const std::unique_ptr<void, decltype(&std::free)> block(std::calloc(1, sizeof(Record) + 1024),
                                                            &std::free);
    auto &record = *static_cast<Record *>(block.get());
    record.Count = 1;
    fill(record);
    return convert(&record).at(listKey).template get<std::vector<ItemDictionary>>().at(0);
}

ItemDictionary Drive(const std::function<void(vuno_drive_information &)> &fill) {
    return OnlyItem(ConvertDriveList, "Drives", [&](auto &list) { fill(list.Drives[0]); });
}

// Strip size codes start valid, so that only the field under test is
// reported.
ItemDictionary Volume(const std::function<void(vuno_volume_information &)> &fill) {
    return OnlyItem(ConvertVolumeList, "Volumes", [&](auto &list) {
        list.Volumes[0].StripSizeCode = 1;
        fill(list.Volumes[0]);
    });
}

TEST(Results, EveryFieldOfAVmdDriveComesFromItsOwnPlace) {
    const ItemDictionary item = Drive([](vuno_drive_information &drive) {
        std::memset(drive.Id, 0x01, VUNO_IDENTIFIER_SIZE);
        std::memset(drive.ControllerId, 0xF0, VUNO_IDENTIFIER_SIZE);
        std::memset(drive.Serial, 'S', sizeof drive.Serial);
        std::memcpy(drive.Model, "Model \xFF\0ignored", 15);
        std::memset(drive.FwRev, '7', sizeof drive.FwRev);
        drive.Size = 4000787030016;
        drive.LogicalBlockSize = 512;
        drive.PhysicalBlockSize = 4096;
        drive.Status = 4;
        drive.Usage = 1;
        drive.WriteCacheState = 1;
        drive.ActivateLedSupport = 0x80;
        drive.Type = VUNO_DRIVE_TYPE_VMD;
        drive.Nvme = {32902, 3, 0, 1, 7, 1, 2, 0xFFFF, 0xFFFFFFFFFFFFFFFF};
    });
    EXPECT_EQ(Describe(item), "ActivateLedSupport:b=1;ArrayId:s=;AttachedToPCH:b=0;"
                              "ControllerId:s=f0f0f0f0-f0f0-f0f0-f0f0-f0f0f0f0f0f0;"
                              "DualControllerNVMe:b=1;DualControllerOrder:s=Second;"
                              "FwRev:s=77777777;Id:s=01010101-0101-0101-0101-010101010101;"
                              "LogicalBlockSize:u=512;Model:s=Model \xEF\xBF\xBD;"
                              "NegotiatedLinkRate:d=16;PhysicalBlockSize:u=4096;"
                              "PhysicalSlotNumber:t=18446744073709551615;PrebootVisible:b=0;"
                              "RootPortOffset:q=65535;Serial:s=SSSSSSSSSSSSSSSSSSSS;"
                              "Size:t=4000787030016;SocketNumber:q=1;Status:s=SMART event;"
                              "SystemDrive:b=0;Type:s=VMD;Usage:s=Array Member;"
                              "VMDControllerNumber:q=2;VendorId:q=32902;WriteCacheState:b=1;");

    const ItemDictionary sata = Drive([](auto &drive) {
        drive.Type = VUNO_DRIVE_TYPE_SATA;
        drive.Sata.NegotiatedLinkRate = 3;
    });
    EXPECT_EQ(sata.at("NegotiatedLinkRate").get<double>(), 16.0);
    EXPECT_EQ(sata.count("VendorId") + sata.count("PortNumber"), 0u);
    EXPECT_EQ(Drive([](auto &drive) { drive.Type = 4; }).count("Type"), 0u);
}

TEST(Results, VolumeProgressAndStripSizeAreConverted) {
    const ItemDictionary item = Volume([](vuno_volume_information &volume) {
        volume.MigrationProgress = 32767;
        volume.StripSizeCode = 32768;
    });
    EXPECT_EQ(item.at("MigrationProgress").get<double>(), 49.0);
    EXPECT_EQ(item.at("StripSizeKiB").get<uint64_t>(), 65536u);
    const ItemDictionary progress = Volume([](auto &volume) { volume.MigrationProgress = 656; });
    EXPECT_EQ(progress.at("MigrationProgress").get<double>(), 1.0);
}

TEST(Results, SupportedStripSizesComeFromTheMaskInAscendingOrder) {
    for (const auto &[mask, sizes] : std::vector<std::pair<uint16_t, std::vector<uint64_t>>>{
             {0x0060, {64, 128}}, {0x8001, {2, 65536}}, {0, {}}}) {
        const ItemDictionary capability =
            OnlyItem(ConvertRaidCapabilities, "Capabilities", [mask = mask](auto &list) {
                list.Capabilities[0].SupportedStripSizesMask = mask;
            });
        EXPECT_EQ(capability.at("SupportedStripSizesKiB").get<std::vector<uint64_t>>(), sizes);
    }
}

// Codes below `listed` have distinct texts; the first code past them has
// none.
TEST(Results, EnumerationsGiveDistinctTextsAndTheFallback) {
    const std::vector<std::tuple<std::string, std::function<ItemDictionary(uint32_t)>, uint32_t>>
        enumerations{
            {"Status", [](uint32_t c) { return Drive([c](auto &d) { d.Status = c; }); }, 9},
            {"Usage", [](uint32_t c) { return Drive([c](auto &d) { d.Usage = c; }); }, 6},
            {"State", [](uint32_t c) { return Volume([c](auto &v) { v.State = c; }); }, 10},
            {"RAIDWriteHolePolicy",
             [](uint32_t c) { return Volume([c](auto &v) { v.RAIDWriteHolePolicy = c; }); }, 3},
        };
    StdoutCapture quiet;
    for (const auto &[key, item, listed] : enumerations) {
        std::set<std::string> texts;
        for (uint32_t code = 0; code <= listed; ++code) {
            texts.insert(item(code).at(key).template get<std::string>());
        }
        EXPECT_EQ(texts.size(), listed + 1) << key;
        EXPECT_EQ(texts.count(""), 1u) << key;
    }
    EXPECT_EQ(Volume([](auto &v) { v.StripSizeCode = 3; }).at("StripSizeKiB").get<uint64_t>(),
              UINT64_MAX);
}

} // namespace
} // namespace vuno::dbus
