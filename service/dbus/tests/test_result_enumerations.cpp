// Every enumerated value of every result, in and out of its table.
#include "result_test_support.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace vuno::dbus {
namespace {

using testing::ItemWith;
using testing::StdoutCapture;

using ItemForCode = std::function<ItemDictionary(uint32_t)>;

template <typename Element> ItemForCode Setting(uint32_t Element::*field) {
    return [field](uint32_t code) {
        return ItemWith<Element>([&](Element &element) { element.*field = code; });
    };
}

ItemForCode OnDrive(uint32_t type, uint32_t vuno_drive_sata::*sata,
                    uint32_t vuno_drive_nvme::*nvme) {
    return [=](uint32_t code) {
        return ItemWith<vuno_drive_information>([&](vuno_drive_information &drive) {
            drive.Type = type;
            if (sata != nullptr) {
                drive.Sata.*sata = code;
            } else {
                drive.Nvme.*nvme = code;
            }
        });
    };
}

// Values are compared in the text form of result_test_support.hpp, so
// that text, number and link rate tables share one check.
struct EnumerationCase {
    std::string key;
    ItemForCode convert;
    std::vector<std::pair<uint32_t, std::string>> known;
    std::vector<uint32_t> invalid;
    std::string invalidPrefix;
    std::string invalidValue = "";
};

// Texts of the codes 0, 1, 2, ... in turn.
std::vector<std::pair<uint32_t, std::string>> Counted(const std::vector<std::string> &texts) {
    std::vector<std::pair<uint32_t, std::string>> known;
    for (const std::string &text : texts) {
        known.emplace_back(known.size(), text);
    }
    return known;
}

std::vector<EnumerationCase> Cases() {
    const auto levels = Counted({"Unknown", "Level 0", "Level 1", "Level 10", "Level 5"});
    auto events = Counted({"Drive inserted", "Drive removed", "Drive failed"});
    auto volumeEvents = Counted(
        {"Volume added", "Volume rebuild started", "Volume rebuild completed",
         "Volume verify started", "Volume verify completed", "Volume verify and fix started",
         "Volume verify and fix completed", "Volume migrate started", "Volume migrate completed",
         "Volume initialize started", "Volume initialize completed", "Volume degraded",
         "Volume failed", "Volume removed"});
    for (const auto &[offset, text] : volumeEvents) {
        events.emplace_back(128 + offset, text);
    }
    const auto pcieRates = Counted({"2.5", "5", "8", "16"});
    const auto stripSizes = std::vector<std::pair<uint32_t, std::string>>{
        {1, "2"}, {2, "4"}, {64, "128"}, {32768, "65536"}};
    const std::vector<uint32_t> badStripSizes{0, 3, 96, 65536, 0x80000000};
    const std::string invalidStripSize = "18446744073709551615";
    // clang-format off
    return {
        {"Status", Setting(&vuno_drive_information::Status),
         Counted({"Unknown", "Offline", "Missing", "Failed", "SMART event", "Incompatible",
                  "Normal", "Locked", "Unsupported"}),
         {9, 0xffffffff}, "Invalid drive status: 0x"},
        {"Usage", Setting(&vuno_drive_information::Usage),
         Counted({"Unknown", "Array Member", "Pass-through", "Offline Array Member", "Spare",
                  "Journaling"}),
         {6, 0xab}, "Invalid drive usage: 0x"},
        {"DualControllerOrder", OnDrive(2, nullptr, &vuno_drive_nvme::DualControllerOrder),
         Counted({"First", "Second"}), {2, 0x10}, "Invalid dual controller order: 0x"},
        {"NegotiatedLinkRate", OnDrive(1, &vuno_drive_sata::NegotiatedLinkRate, nullptr),
         Counted({"1.5", "3", "6", "16"}), {4, 0x3f}, "Invalid ATA link rate: 0x", "0"},
        {"NegotiatedLinkRate", OnDrive(2, nullptr, &vuno_drive_nvme::NegotiatedLinkRate),
         pcieRates, {4, 0x1f}, "Invalid PCIe link rate: 0x", "0"},
        {"NegotiatedLinkRate", OnDrive(3, nullptr, &vuno_drive_nvme::NegotiatedLinkRate),
         pcieRates, {4}, "Invalid PCIe link rate: 0x", "0"},
        {"StripSizeKiB", Setting(&vuno_volume_information::StripSizeCode), stripSizes,
         badStripSizes, "Invalid strip size: 0x", invalidStripSize},
        {"DefaultStripSizeKiB", Setting(&vuno_raid_capability::DefaultStripSizeCode), stripSizes,
         badStripSizes, "Invalid strip size: 0x", invalidStripSize},
        {"State", Setting(&vuno_volume_information::State),
         Counted({"Unknown", "Normal", "Degraded", "Failed", "Initializing", "Rebuilding",
                  "Verifying", "Verifying and repair", "Migration", "Locked"}),
         {10, 0xff}, "Invalid volume state: 0x"},
        {"Level", Setting(&vuno_volume_information::Level), levels,
         {5, 0xffffffff}, "Invalid RAID level: 0x"},
        {"VolumeCachePolicy", Setting(&vuno_volume_information::VolumeCachePolicy),
         Counted({"Unknown", "Disabled", "Write Through", "Write Back"}),
         {4, 0xf}, "Invalid Volume Cache Policy: 0x"},
        {"RAIDWriteHolePolicy", Setting(&vuno_volume_information::RAIDWriteHolePolicy),
         Counted({"Off", "Distributed", "Journaling Drive"}),
         {3, 0xc}, "Invalid Raid Write Hole policy: 0x"},
        {"TargetRAIDLevel", Setting(&vuno_migration_capability::TargetRAIDLevel), levels,
         {5}, "Invalid RAID level: 0x"},
        {"Level", Setting(&vuno_raid_capability::Level), levels,
         {0x5a}, "Invalid RAID level: 0x"},
        {"ControllerMode", Setting(&vuno_controller_information::ControllerMode),
         Counted({"AHCI", "RAID"}),
         {2, 0xe0}, "Invalid controller mode: 0x"},
        {"EventType", Setting(&vuno_event::EventType), events,
         {3, 127, 142, 0xff}, "Invalid event type: 0x"},
    };
    // clang-format on
}

std::string Hex(uint32_t value) {
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

TEST(ResultEnumerations, KnownCodesGiveTheirValuesSilently) {
    for (const EnumerationCase &table : Cases()) {
        for (const auto &[code, value] : table.known) {
            SCOPED_TRACE(table.key + " " + std::to_string(code));
            StdoutCapture output;
            EXPECT_EQ(testing::ValueText(table.convert(code).at(table.key)), value);
            EXPECT_EQ(output.Text(), "");
        }
    }
}

TEST(ResultEnumerations, UnknownCodesGiveTheNeutralValueAndTheirLine) {
    for (const EnumerationCase &table : Cases()) {
        for (uint32_t code : table.invalid) {
            SCOPED_TRACE(table.key + " " + std::to_string(code));
            StdoutCapture output;
            EXPECT_EQ(testing::ValueText(table.convert(code).at(table.key)), table.invalidValue);
            EXPECT_EQ(output.Text(), table.invalidPrefix + Hex(code) + "\n");
        }
    }
}

} // namespace
} // namespace vuno::dbus
