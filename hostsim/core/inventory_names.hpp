// The names the inventory file gives the model's enumerations, shared by
// its reader and its writer.
#pragma once

#include "raid_model.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace vuno::hostsim::inventory {

using Json = nlohmann::ordered_json;

// In a volume's drive list, a member that is gone.
constexpr std::string_view kMissingMember = "missing";

template <typename Value> struct Name {
    std::string_view text;
    Value value;
};

constexpr Name<ControllerType> kControllerTypes[] = {
    {"VMD", ControllerType::Vmd}, {"AHCI", ControllerType::Ahci}, {"NVMe", ControllerType::Nvme}};
constexpr Name<ControllerMode> kControllerModes[] = {{"RAID", ControllerMode::Raid},
                                                     {"AHCI", ControllerMode::Ahci}};
constexpr Name<DriveType> kDriveTypes[] = {{"VMD", DriveType::Vmd},
                                           {"NVMe", DriveType::NonVmd},
                                           {"SATA", DriveType::Sata},
                                           {"SATA-optical", DriveType::SataOptical}};
constexpr Name<DriveStatus> kDriveStatuses[] = {
    {"normal", DriveStatus::Normal},
    {"failed", DriveStatus::Failed},
    {"offline", DriveStatus::Offline},
    {"smart", DriveStatus::SmartEvent},
    {"locked", DriveStatus::Locked},
    {"missing", DriveStatus::Missing},
    {"incompatible", DriveStatus::Incompatible},
    {"unsupported", DriveStatus::Unsupported},
    {"unknown", DriveStatus::Unknown},
};
// Array members and journaling drives get their usage from other lines.
constexpr Name<DriveUsage> kDriveUsages[] = {{"pass-through", DriveUsage::PassThrough},
                                             {"spare", DriveUsage::Spare},
                                             {"offline-member", DriveUsage::OfflineArrayMember},
                                             {"unknown", DriveUsage::Unknown}};
// Dual-controller NVMe drives: none, or the first or second port.
constexpr Name<uint8_t> kDualPorts[] = {{"none", 0}, {"first", 1}, {"second", 2}};
constexpr Name<RaidLevel> kRaidLevels[] = {{"0", RaidLevel::Raid0},
                                           {"1", RaidLevel::Raid1},
                                           {"10", RaidLevel::Raid10},
                                           {"5", RaidLevel::Raid5}};
constexpr Name<CachePolicy> kCachePolicies[] = {{"disabled", CachePolicy::Disabled},
                                                {"write-through", CachePolicy::WriteThrough},
                                                {"write-back", CachePolicy::WriteBack}};
constexpr Name<WriteHolePolicy> kWriteHolePolicies[] = {
    {"off", WriteHolePolicy::Off},
    {"distributed", WriteHolePolicy::Distributed},
    {"journaling", WriteHolePolicy::JournalingDrive}};

template <typename Value, size_t N> std::string NameOf(const Name<Value> (&names)[N], Value value) {
    for (const Name<Value> &name : names) {
        if (name.value == value) {
            return std::string(name.text);
        }
    }
    return {};
}

} // namespace vuno::hostsim::inventory
