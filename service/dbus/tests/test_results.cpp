// What a client reads in a reply: error dictionaries of the statuses, and
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

namespace vuno::dbus {
namespace {

using vuno::testing::ExpectErrorDictionary;
using vuno::testing::StdoutCapture;

std::string Name(const ResultDictionary &error) {
    return error.at(kErrorKey).get<std::string>();
}

TEST(StatusMapping, SpotChecksKeepTheirMessagesApostrophesIncluded) {
    ExpectErrorDictionary(
        MapLibraryStatus(9), "HostReset",
        "The Host OOB application has been reset. User should retry the command.");
    ExpectErrorDictionary(MapSsiStatus(256), "InvalidStripSize",
                          "The strip size is not valid for the specified RAID level.");
    const std::string reset = MapSsiStatus(273).at(kErrorMessageKey).get<std::string>();
    EXPECT_NE(reset.find("drive\u2019s reset."), std::string::npos);
    EXPECT_EQ(reset.find('\''), std::string::npos);
    EXPECT_NE(MapSsiStatus(262).at(kErrorMessageKey).get<std::string>().find("drive's capacity"),
              std::string::npos);
}

TEST(StatusMapping, ListedValuesHaveDistinctNamesAndOthersFallBackWithOneLine) {
    std::vector<ResultDictionary> listed;
    StdoutCapture silent;
    for (uint32_t status = 1; status <= 13; ++status) {
        listed.push_back(MapLibraryStatus(status));
    }
    for (uint32_t status = 1; status <= 282; status = status == 7 ? 256 : status + 1) {
        if (status != 280) {
            listed.push_back(MapSsiStatus(status));
        }
    }
    EXPECT_EQ(silent.Text(), "");
    std::set<std::string> names;
    std::set<std::string> messages;
    for (const ResultDictionary &error : listed) {
        ASSERT_EQ(error.size(), 2u);
        names.insert(Name(error));
        messages.insert(error.at(kErrorMessageKey).get<std::string>());
    }
    EXPECT_EQ(names.size(), listed.size());
    EXPECT_EQ(messages.size(), listed.size());
    EXPECT_EQ(names.count("UnknownVunoStatus") + names.count("UnknownSsiStatus"), 0u);

    for (uint32_t status : {0u, 14u, 0xFFFFFFFFu}) {
        StdoutCapture output;
        ExpectErrorDictionary(MapLibraryStatus(status), "UnknownVunoStatus",
                              "Unknown VUNO status.");
        std::ostringstream line;
        line << "Vuno status: 0x" << std::hex << status << "\n";
        EXPECT_EQ(output.Text(), line.str());
    }
    for (uint32_t status : {0u, 8u, 255u, 280u, 283u, 0x10101u}) {
        StdoutCapture output;
        ExpectErrorDictionary(MapSsiStatus(status), "UnknownSsiStatus", "Unknown SSI status.");
        std::ostringstream line;
        line << "SSI status: 0x" << std::hex << status << "\n";
        EXPECT_EQ(output.Text(), line.str());
    }
}

std::string BusTextOf(const std::string &bytes) {
    return BusText({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
}

TEST(BusText, WellFormedUtf8IsKeptAndEveryOtherByteReplaced) {
    const std::string r = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Plain \x01\x7f caf\xC3\xA9 \xE2\x82\xAC \xF4\x8F\xBF\xBD",
         "Plain \x01\x7f caf\xC3\xA9 \xE2\x82\xAC \xF4\x8F\xBF\xBD"},
        {"a\xFF"
         "b",
         "a" + r + "b"},
        {"\x80\xC3", r + r},
        {"\xC3"
         "A",
         r + "A"},
        {"\xC0\x80", r + r},
        {"\xED\xA0\x80", r + r + r},
        {"\xEF\xBF\xBE", r + r + r},
        {"\xF4\x90\x80\x80", r + r + r + r},
    };
    for (const auto &[bytes, expected] : cases) {
        EXPECT_EQ(BusTextOf(bytes), expected) << ::testing::PrintToString(bytes);
    }
}

// The bus itself is the judge: whatever the bytes, the text must be
// accepted as a string and come back unchanged.
TEST(BusText, AnyBytesGiveAStringTheBusAccepts) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(1, 0xFF);
    for (int sample = 0; sample < 50000; ++sample) {
        std::string bytes(1 + sample % 4, '\0');
        for (char &value : bytes) {
            value = static_cast<char>(byte(random));
        }
        const std::string text = BusTextOf(bytes);
        try {
            ASSERT_EQ(sdbus::Variant(text).get<std::string>(), text);
        } catch (const sdbus::Error &) {
            FAIL() << "refused by the bus: " << ::testing::PrintToString(bytes);
        }
    }
}

std::string ValueText(const sdbus::Variant &value) {
    const std::string type = value.peekValueType();
    std::ostringstream text;
    if (type == "s") {
        text << value.get<std::string>();
    } else if (type == "b") {
        text << value.get<bool>();
    } else if (type == "y") {
        text << unsigned{value.get<uint8_t>()};
    } else if (type == "q") {
        text << value.get<uint16_t>();
    } else if (type == "u") {
        text << value.get<uint32_t>();
    } else if (type == "t") {
        text << value.get<uint64_t>();
    } else if (type == "d") {
        text << value.get<double>();
    } else if (type == "as") {
        for (const auto &entry : value.get<std::vector<std::string>>()) {
            text << entry << ",";
        }
    } else if (type == "at") {
        for (const auto &entry : value.get<std::vector<uint64_t>>()) {
            text << entry << ",";
        }
    } else if (type == "aa{sv}") {
        text << value.get<std::vector<ItemDictionary>>().size();
    }
    return text.str();
}

// "Key:type=value;" for every entry in key order: one comparison checks the
// keys, their D-Bus types and their values.
std::string Describe(const ItemDictionary &dictionary) {
    std::string text;
    for (const auto &[key, value] : dictionary) {
        text += key + ":" + value.peekValueType() + "=" + ValueText(value) + ";";
    }
    return text;
}

// The item of a one-element list whose record `fill` sets up. Strip size
// codes start valid, so that only the field under test is reported.
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

ItemDictionary Volume(const std::function<void(vuno_volume_information &)> &fill) {
    return OnlyItem(ConvertVolumeList, "Volumes", [&](auto &list) {
        list.Volumes[0].StripSizeCode = 1;
        fill(list.Volumes[0]);
    });
}

ItemDictionary Controller(const std::function<void(vuno_controller_information &)> &fill) {
    return OnlyItem(ConvertControllerList, "Controllers",
                    [&](auto &list) { fill(list.Controllers[0]); });
}

constexpr uint8_t kCounting[VUNO_IDENTIFIER_SIZE] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                     8, 9, 10, 11, 12, 13, 14, 15};

TEST(Results, ListsKeepRecordOrderAndShowZeroIdentifiersEmpty) {
    const std::unique_ptr<void, decltype(&std::free)> block(
        std::calloc(1, sizeof(vuno_identifier_list_record) + 3 * VUNO_IDENTIFIER_SIZE), &std::free);
    auto *ids = static_cast<vuno_identifier_list_record *>(block.get());
    EXPECT_EQ(Describe(ConvertIdentifierList(ids)), "Count:q=0;Ids:as=;");
    ids->Count = 3;
    std::memcpy(ids->Ids[0], kCounting, VUNO_IDENTIFIER_SIZE);
    std::memset(ids->Ids[2], 0xAB, VUNO_IDENTIFIER_SIZE);
    EXPECT_EQ(Describe(ConvertIdentifierList(ids)),
              "Count:q=3;Ids:as=00010203-0405-0607-0809-0a0b0c0d0e0f,,"
              "abababab-abab-abab-abab-abababababab,;");
    ExpectErrorDictionary(ConvertDriveList(nullptr), "VunoInternalError",
                          "Indicates internal VUNO error.");
}

TEST(Results, EveryFieldOfAVmdDriveFromItsOwnPlace) {
    const ItemDictionary item = Drive([](vuno_drive_information &drive) {
        std::memcpy(drive.Id, kCounting, VUNO_IDENTIFIER_SIZE);
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
                              "FwRev:s=77777777;Id:s=00010203-0405-0607-0809-0a0b0c0d0e0f;"
                              "LogicalBlockSize:u=512;Model:s=Model \xEF\xBF\xBD;"
                              "NegotiatedLinkRate:d=16;PhysicalBlockSize:u=4096;"
                              "PhysicalSlotNumber:t=18446744073709551615;PrebootVisible:b=0;"
                              "RootPortOffset:q=65535;Serial:s=SSSSSSSSSSSSSSSSSSSS;"
                              "Size:t=4000787030016;SocketNumber:q=1;Status:s=SMART event;"
                              "SystemDrive:b=0;Type:s=VMD;Usage:s=Array Member;"
                              "VMDControllerNumber:q=2;VendorId:q=32902;WriteCacheState:b=1;");
}

TEST(Results, ADrivesConnectionTypeDecidesItsFurtherKeys) {
    const std::vector<std::pair<uint32_t, std::string>> cases{
        {0, "PortNumber:y=9;Type:s=SATA optical;"},
        {1, "NCQSupported:b=1;NegotiatedLinkRate:d=16;SolidStateDrive:b=0;Type:s=SATA;"},
        {2, "AttachedToPCH:b=0;DualControllerNVMe:b=0;DualControllerOrder:s=First;"
            "NegotiatedLinkRate:d=2.5;Type:s=Non VMD;VendorId:q=9;"},
        {4, ""}};
    const ItemDictionary common = Drive([](auto &) {});
    for (const auto &[type, further] : cases) {
        ItemDictionary item = Drive([type = type](vuno_drive_information &drive) {
            drive.Type = type;
            drive.Sata = {9, 3, 0, 1};
            if (type >= VUNO_DRIVE_TYPE_NON_VMD) {
                drive.Nvme = {9, 0, 0, 0, 0, 0, 0, 0, 0};
            }
        });
        for (const auto &[key, value] : common) {
            if (key != "Type" && key != "PortNumber") {
                EXPECT_EQ(item.erase(key), 1u) << key;
            }
        }
        EXPECT_EQ(Describe(item), further) << type;
    }
}

TEST(Results, EveryFieldOfAVolumeFromItsOwnPlace) {
    const ItemDictionary item = Volume([](vuno_volume_information &volume) {
        std::memset(volume.Id, 0x11, VUNO_IDENTIFIER_SIZE);
        std::memset(volume.ArrayId, 0x22, VUNO_IDENTIFIER_SIZE);
        std::memset(volume.Name, 'v', sizeof volume.Name);
        volume.ArrayOrdinal = 3;
        volume.State = 2;
        volume.Level = 3;
        volume.Size = 1ull << 40;
        volume.StripSizeCode = 32768;
        volume.DrivesNumber = 4;
        volume.MigrationProgress = 32767;
        volume.Migrating = 1;
        volume.VerifyErrors = 5;
        volume.VerifyBadBlocks = 6;
        volume.LogicalBlockSize = 4096;
        volume.VolumeCachePolicy = 3;
        volume.RAIDWriteHolePolicy = 2;
        std::memset(volume.JournalingDriveIdentifier, 0xEE, VUNO_IDENTIFIER_SIZE);
    });
    EXPECT_EQ(Describe(item), "ArrayId:s=22222222-2222-2222-2222-222222222222;ArrayOrdinal:y=3;"
                              "DrivesNumber:y=4;Id:s=11111111-1111-1111-1111-111111111111;"
                              "Initialized:b=0;"
                              "JournalingDriveIdentifier:s=eeeeeeee-eeee-eeee-eeee-eeeeeeeeeeee;"
                              "Level:s=Level 10;LogicalBlockSize:u=4096;Migrating:b=1;"
                              "MigrationProgress:d=49;Name:s=vvvvvvvvvvvvvvvv;"
                              "RAIDWriteHolePolicy:s=Journaling Drive;Size:t=1099511627776;"
                              "State:s=Degraded;StripSizeKiB:t=65536;SystemVolume:b=0;"
                              "VerifyBadBlocks:u=6;VerifyErrors:u=5;"
                              "VolumeCachePolicy:s=Write Back;");
    const std::vector<std::pair<int, double>> rounding{{1, 0.0}, {656, 1.0}, {65535, 100.0}};
    for (const auto &[progress, percent] : rounding) {
        const ItemDictionary rounded = Volume([progress = progress](auto &volume) {
            volume.MigrationProgress = static_cast<uint16_t>(progress);
        });
        EXPECT_EQ(rounded.at("MigrationProgress").get<double>(), percent) << progress;
    }
}

TEST(Results, ControllerVersionsAndModeAppearWhereTheyApply) {
    const ItemDictionary ahci = Controller([](vuno_controller_information &controller) {
        const uint16_t os[] = {1, 2, 0, 65535};
        const uint16_t preos[] = {17, 0, 3, 400};
        std::copy_n(os, 4, controller.OSDriverVer);
        std::copy_n(preos, 4, controller.PreosDriverVer);
        controller.PreosDriverLoaded = 1;
        controller.ControllerMode = 1;
    });
    EXPECT_EQ(ahci.at("OSDriverVer").get<std::string>(), "1.2.0.65535");
    EXPECT_EQ(ahci.at("PreosDriverVer").get<std::string>(), "17.0.3.400");
    EXPECT_EQ(ahci.at("ControllerMode").get<std::string>(), "RAID");
    for (uint32_t type : {1u, 2u, 3u}) {
        const ItemDictionary other = Controller([type](auto &controller) {
            controller.Type = type;
            controller.ControllerMode = 1;
        });
        EXPECT_EQ(other.count("ControllerMode") + other.count("PreosDriverVer"), 0u) << type;
        EXPECT_EQ(other.count("Type"), type < 3 ? 1u : 0u);
    }
}

TEST(Results, RaidCapabilitiesCountInOneByteAndListTheMasksSizes) {
    const auto raid = [](uint16_t mask) {
        return OnlyItem(ConvertRaidCapabilities, "Capabilities",
                        [mask](auto &list) { list.Capabilities[0] = {1, 2, 8, 0, 1, 64, mask}; });
    };
    EXPECT_EQ(Describe(raid(0x0060)), "DefaultStripSizeKiB:t=128;EvenDriveCount:b=1;"
                                      "Level:s=Level 0;MaxDrivesCount:q=8;MinDrivesCount:q=2;"
                                      "OddDriveCount:b=0;SupportedStripSizesKiB:at=64,128,;");
    EXPECT_EQ(ValueText(raid(0).at("SupportedStripSizesKiB")), "");
    EXPECT_EQ(ValueText(raid(0x8001).at("SupportedStripSizesKiB")), "2,65536,");

    vuno_raid_capability_list empty{};
    EXPECT_EQ(Describe(ConvertRaidCapabilities(&empty)), "Capabilities:aa{sv}=0;Count:y=0;");
    vuno_executor_information executor{1, 65535, {'7', '.', '8'}, 0};
    EXPECT_EQ(Describe(ConvertExecutorInformation(&executor)),
              "ExecutorVersion:s=7.8;SSIVersion:s=1.65535;");
}

TEST(Results, EventTypesReadBackAsTheyAreWritten) {
    for (const NamedCode &type : kEventTypes) {
        const uint32_t code = ParseEventTypes(std::vector<std::string>{std::string(type.text)})[0];
        const ItemDictionary event = OnlyItem(
            ConvertEventList, "Events", [code](auto &list) { list.Events[0].EventType = code; });
        EXPECT_EQ(event.at("EventType").get<std::string>(), type.text);
    }
}

// An enumerated field: codes below `listed` have texts, the first code past
// them has none.
struct Enumeration {
    std::string key;
    std::function<ItemDictionary(uint32_t)> item;
    uint32_t listed;
    std::string invalidLine;
};

TEST(Results, EnumerationsGiveDistinctTextsSilentlyAndTheFallbackWithOneLine) {
    const std::vector<Enumeration> enumerations{
        {"Status", [](uint32_t c) { return Drive([c](auto &d) { d.Status = c; }); }, 9,
         "Invalid drive status: 0x"},
        {"Usage", [](uint32_t c) { return Drive([c](auto &d) { d.Usage = c; }); }, 6,
         "Invalid drive usage: 0x"},
        {"DualControllerOrder",
         [](uint32_t c) {
             return Drive([c](auto &d) {
                 d.Type = VUNO_DRIVE_TYPE_NON_VMD;
                 d.Nvme.DualControllerOrder = c;
             });
         },
         2, "Invalid dual controller order: 0x"},
        {"State", [](uint32_t c) { return Volume([c](auto &v) { v.State = c; }); }, 10,
         "Invalid volume state: 0x"},
        {"Level", [](uint32_t c) { return Volume([c](auto &v) { v.Level = c; }); }, 5,
         "Invalid RAID level: 0x"},
        {"VolumeCachePolicy",
         [](uint32_t c) { return Volume([c](auto &v) { v.VolumeCachePolicy = c; }); }, 4,
         "Invalid Volume Cache Policy: 0x"},
        {"RAIDWriteHolePolicy",
         [](uint32_t c) { return Volume([c](auto &v) { v.RAIDWriteHolePolicy = c; }); }, 3,
         "Invalid Raid Write Hole policy: 0x"},
        {"ControllerMode",
         [](uint32_t c) { return Controller([c](auto &k) { k.ControllerMode = c; }); }, 2,
         "Invalid controller mode: 0x"},
    };
    for (const Enumeration &enumeration : enumerations) {
        SCOPED_TRACE(enumeration.key);
        std::set<std::string> texts;
        StdoutCapture silent;
        for (uint32_t code = 0; code < enumeration.listed; ++code) {
            texts.insert(enumeration.item(code).at(enumeration.key).get<std::string>());
        }
        EXPECT_EQ(silent.Text(), "");
        EXPECT_EQ(texts.size(), enumeration.listed);
        EXPECT_EQ(texts.count(""), 0u);

        StdoutCapture output;
        const ItemDictionary invalid = enumeration.item(enumeration.listed);
        EXPECT_EQ(invalid.at(enumeration.key).get<std::string>(), "");
        std::ostringstream line;
        line << enumeration.invalidLine << std::hex << enumeration.listed << "\n";
        EXPECT_EQ(output.Text(), line.str());
    }
}

TEST(Results, UnknownNumbersGiveTheirNeutralValueAndOneLineEach) {
    StdoutCapture output;
    const ItemDictionary drive = Drive([](vuno_drive_information &d) {
        d.Type = VUNO_DRIVE_TYPE_SATA;
        d.Sata.NegotiatedLinkRate = 4;
    });
    EXPECT_EQ(drive.at("NegotiatedLinkRate").get<double>(), 0.0);
    const ItemDictionary volume = Volume([](auto &v) { v.StripSizeCode = 3; });
    EXPECT_EQ(volume.at("StripSizeKiB").get<uint64_t>(), UINT64_MAX);
    const ItemDictionary event =
        OnlyItem(ConvertEventList, "Events", [](auto &list) { list.Events[0].EventType = 142; });
    EXPECT_EQ(event.at("EventType").get<std::string>(), "");
    EXPECT_EQ(output.Text(),
              "Invalid ATA link rate: 0x4\nInvalid strip size: 0x3\nInvalid event type: 0x8e\n");
}

} // namespace
} // namespace vuno::dbus
