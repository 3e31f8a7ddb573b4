// Helpers shared by the files of the RAID model.
#pragma once

#include "raid_model.hpp"

#include <algorithm>

namespace vuno::hostsim::raid {

constexpr uint64_t kKiB = 1024;

template <typename Item> Item *FindById(std::vector<Item> &items, const Identifier &id) {
    if (IsZero(id)) {
        return nullptr;
    }
    const auto found =
        std::find_if(items.begin(), items.end(), [&id](const Item &item) { return item.id == id; });
    return found == items.end() ? nullptr : &*found;
}

inline bool Contains(const std::vector<Identifier> &ids, const Identifier &id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

inline bool Healthy(DriveStatus status) {
    return status == DriveStatus::Normal || status == DriveStatus::SmartEvent;
}

} // namespace vuno::hostsim::raid
