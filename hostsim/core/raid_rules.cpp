// The RAID rules that hold whatever the inventory: levels, strips, extents
// and health, and the identifiers the host hands out.
#include "raid_model_internal.hpp"

#include <limits>

namespace vuno::hostsim {

using namespace raid;

namespace {

uint64_t SplitMix(uint64_t &state) {
    state += 0x9E3779B97F4A7C15;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

} // namespace

Identifier MakeIdentifier(uint64_t seed) {
    Identifier id{};
    uint64_t state = seed;
    for (size_t half = 0; half < 2; ++half) {
        const uint64_t value = SplitMix(state);
        for (size_t i = 0; i < 8; ++i) {
            id[half * 8 + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    return id;
}

bool IsEventType(uint8_t code) {
    return code <= static_cast<uint8_t>(EventType::DriveFailed) ||
           (code >= static_cast<uint8_t>(EventType::VolumeAdded) &&
            code <= static_cast<uint8_t>(EventType::VolumeRemoved));
}

std::vector<RaidCapability> RaidCapabilities(const Controller &controller) {
    const bool raid =
        controller.type == ControllerType::Vmd ||
        (controller.type == ControllerType::Ahci && controller.mode == ControllerMode::Raid);
    if (!raid) {
        return {};
    }
    const auto most = std::min<uint16_t>(controller.maxDrivesPerController, 32);
    const RaidCapability all[] = {
        {RaidLevel::Raid0, 2, most, true, true, 64, 0x007E},
        {RaidLevel::Raid1, 2, 2, true, false, 32, 0x0020},
        {RaidLevel::Raid10, 4, 4, true, false, 32, 0x007E},
        {RaidLevel::Raid5, 3, most, true, true, 32, 0x0078},
    };
    std::vector<RaidCapability> supported;
    for (const RaidCapability &capability : all) {
        if (capability.minDrives <= capability.maxDrives) {
            supported.push_back(capability);
        }
    }
    return supported;
}

std::optional<RaidCapability> CapabilityFor(const Controller &controller, RaidLevel level) {
    for (const RaidCapability &capability : RaidCapabilities(controller)) {
        if (capability.level == level) {
            return capability;
        }
    }
    return std::nullopt;
}

bool StripSupported(const RaidCapability &capability, uint16_t stripCode) {
    const bool singleBit = stripCode != 0 && (stripCode & (stripCode - 1)) == 0;
    return singleBit && (capability.stripMask & stripCode) != 0;
}

bool DriveCountFits(const RaidCapability &capability, size_t count) {
    if (count < capability.minDrives || count > capability.maxDrives) {
        return false;
    }
    return count % 2 == 0 ? capability.evenCount : capability.oddCount;
}

uint64_t DataDrives(RaidLevel level, size_t members) {
    switch (level) {
    case RaidLevel::Raid0:
        return members;
    case RaidLevel::Raid1:
        return members == 0 ? 0 : 1;
    case RaidLevel::Raid10:
        return members / 2;
    case RaidLevel::Raid5:
        return members == 0 ? 0 : members - 1;
    case RaidLevel::Unknown:
        break;
    }
    return 0;
}

uint64_t ExtentFor(uint64_t size, RaidLevel level, size_t members, uint16_t stripCode) {
    const uint64_t dataDrives = DataDrives(level, members);
    const uint64_t strip = stripCode * 2 * kKiB;
    if (dataDrives == 0 || strip == 0) {
        return std::numeric_limits<uint64_t>::max();
    }
    const uint64_t perDrive = size / dataDrives + (size % dataDrives != 0 ? 1 : 0);
    const uint64_t partial = perDrive % strip;
    if (partial == 0) {
        return perDrive;
    }
    if (perDrive > std::numeric_limits<uint64_t>::max() - strip) {
        return std::numeric_limits<uint64_t>::max();
    }
    return perDrive + (strip - partial);
}

VolumeState HealthOf(RaidLevel level, const std::vector<bool> &present) {
    const auto missing = static_cast<size_t>(std::count(present.begin(), present.end(), false));
    if (missing == 0) {
        return VolumeState::Normal;
    }
    switch (level) {
    case RaidLevel::Raid1:
    case RaidLevel::Raid5:
        return missing == 1 ? VolumeState::Degraded : VolumeState::Failed;
    case RaidLevel::Raid10:
        // Mirrored pairs: the volume survives while each pair keeps one.
        for (size_t i = 0; i + 1 < present.size(); i += 2) {
            if (!present[i] && !present[i + 1]) {
                return VolumeState::Failed;
            }
        }
        return VolumeState::Degraded;
    case RaidLevel::Raid0:
    case RaidLevel::Unknown:
        break;
    }
    return VolumeState::Failed;
}

bool ValidVolumeName(std::string_view name) {
    if (name.empty() || name.size() > 16 || name.front() == ' ') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        return letter || digit || c == ' ' || c == '_' || c == '-' || c == '.';
    });
}

} // namespace vuno::hostsim
