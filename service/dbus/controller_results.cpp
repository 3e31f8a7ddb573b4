// Controllers, their RAID capabilities, firmware slots and the executor.
#include "result_conversion.hpp"
#include "result_fields.hpp"

#include <array>

namespace vuno::dbus {

namespace {

constexpr std::array<NamedCode, 3> kControllerTypes{{
    {"AHCI", VUNO_CONTROLLER_TYPE_AHCI},
    {"NVMe", VUNO_CONTROLLER_TYPE_NVME},
    {"VMD", VUNO_CONTROLLER_TYPE_VMD},
}};

constexpr std::array<NamedCode, 2> kControllerModes{{
    {"AHCI", 0},
    {"RAID", 1},
}};

constexpr unsigned kStripSizeMaskBits = 16;

std::string VersionText(std::span<const uint16_t> parts) {
    std::string text;
    for (uint16_t part : parts) {
        if (!text.empty()) {
            text += '.';
        }
        text += std::to_string(part);
    }
    return text;
}

// Only AHCI controllers have a mode; the key is left out for the others,
// and both keys for a type this side does not know.
void AddTypeKeys(ItemDictionary &item, const vuno_controller_information &controller) {
    auto type = FindText(kControllerTypes, controller.Type);
    if (!type) {
        return;
    }
    item.emplace("Type", std::string(*type));
    if (controller.Type == VUNO_CONTROLLER_TYPE_AHCI) {
        item.emplace("ControllerMode", EnumerationText(kControllerModes, controller.ControllerMode,
                                                       "Invalid controller mode: 0x"));
    }
}

ItemDictionary ControllerItem(const vuno_controller_information &controller) {
    ItemDictionary item;
    item.emplace("Id", IdentifierToText(controller.Id));
    item.emplace("Name", FixedText(controller.Name));
    item.emplace("VendorId", controller.VendorId);
    item.emplace("DeviceId", controller.DeviceId);
    item.emplace("SubsystemId", controller.SubsystemId);
    item.emplace("HardwareRev", controller.HardwareRev);
    item.emplace("PreosDriverLoaded", Flag(controller.PreosDriverLoaded));
    item.emplace("OSDriverVer", VersionText(controller.OSDriverVer));
    if (Flag(controller.PreosDriverLoaded)) {
        item.emplace("PreosDriverVer", VersionText(controller.PreosDriverVer));
    }
    item.emplace("MaxVolumesPerArray", controller.MaxVolumesPerArray);
    item.emplace("MaxVolumesPerController", controller.MaxVolumesPerController);
    item.emplace("MaxDrivesPerController", controller.MaxDrivesPerController);
    item.emplace("ROHIEnabled", Flag(controller.ROHIEnabled));
    item.emplace("ReadPatrolEnabled", Flag(controller.ReadPatrolEnabled));
    AddTypeKeys(item, controller);
    return item;
}

// Bit n stands for a strip of 2^(n+1) KiB.
std::vector<uint64_t> SupportedStripSizesKib(uint16_t mask) {
    std::vector<uint64_t> sizes;
    for (unsigned bit = 0; bit < kStripSizeMaskBits; ++bit) {
        if (mask & (1u << bit)) {
            sizes.push_back(uint64_t{2} << bit);
        }
    }
    return sizes;
}

ItemDictionary RaidCapabilityItem(const vuno_raid_capability &capability) {
    ItemDictionary item;
    item.emplace("Level", RaidLevelText(capability.Level));
    item.emplace("MinDrivesCount", capability.MinDrivesCount);
    item.emplace("MaxDrivesCount", capability.MaxDrivesCount);
    item.emplace("OddDriveCount", Flag(capability.OddDriveCount));
    item.emplace("EvenDriveCount", Flag(capability.EvenDriveCount));
    item.emplace("DefaultStripSizeKiB", StripSizeKib(capability.DefaultStripSizeCode));
    item.emplace("SupportedStripSizesKiB",
                 SupportedStripSizesKib(capability.SupportedStripSizesMask));
    return item;
}

ItemDictionary FirmwareSlotItem(const vuno_firmware_slot &slot) {
    ItemDictionary item;
    item.emplace("Number", slot.Number);
    item.emplace("Revision", FixedText(slot.Revision));
    return item;
}

ResultDictionary ControllerListResult(const vuno_controller_information_list &record) {
    return ListResult(record.Count, record.Controllers, "Controllers", ControllerItem);
}

// The record's count is a single byte, and so is the "Count" it gives.
ResultDictionary RaidCapabilitiesResult(const vuno_raid_capability_list &record) {
    return ListResult(record.Count, record.Capabilities, "Capabilities", RaidCapabilityItem);
}

ResultDictionary FirmwareSlotsResult(const vuno_firmware_slot_list &record) {
    ResultDictionary result = ListResult(record.Count, record.Slots, "Slots", FirmwareSlotItem);
    result.emplace("Capacity", sdbus::Variant(record.Capacity));
    return result;
}

ResultDictionary ExecutorInformationResult(const vuno_executor_information &record) {
    const std::array<uint16_t, 2> ssiVersion{record.SSIVersionMajor, record.SSIVersionMinor};
    return {{"SSIVersion", sdbus::Variant(VersionText(ssiVersion))},
            {"ExecutorVersion", sdbus::Variant(FixedText(record.ExecutorVersion))}};
}

} // namespace

ResultDictionary ConvertControllerList(const vuno_controller_information_list *record) {
    return ConvertPresentRecord(record, ControllerListResult);
}

ResultDictionary ConvertRaidCapabilities(const vuno_raid_capability_list *record) {
    return ConvertPresentRecord(record, RaidCapabilitiesResult);
}

ResultDictionary ConvertFirmwareSlots(const vuno_firmware_slot_list *record) {
    return ConvertPresentRecord(record, FirmwareSlotsResult);
}

ResultDictionary ConvertExecutorInformation(const vuno_executor_information *record) {
    return ConvertPresentRecord(record, ExecutorInformationResult);
}

} // namespace vuno::dbus
