// The host's storage as the BMC's inventory shows it: what the daemon last
// read from the host, and the D-Bus objects, interfaces and properties that
// stand for it.
#pragma once

#include "result_dictionary.hpp"

#include <sdbus-c++/Types.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vuno::inventory {

inline constexpr char kRootPath[] = "/xyz/openbmc_project/inventory/host_storage";
inline constexpr char kStoragePath[] = "/xyz/openbmc_project/inventory/host_storage/raid";
// No standard interface describes RAID volumes and arrays.
inline constexpr char kVolumeInterface[] = "xyz.openbmc_project.Vuno.Inventory.Volume";
inline constexpr char kArrayInterface[] = "xyz.openbmc_project.Vuno.Inventory.Array";

using Association = sdbus::Struct<std::string, std::string, std::string>;
using Value = std::variant<bool, uint8_t, uint16_t, uint32_t, uint64_t, double, std::string,
                           std::vector<Association>>;
using Properties = std::map<std::string, Value>;
using Interfaces = std::map<std::string, Properties>;
// Object paths and what each object implements.
using ObjectSet = std::map<std::string, Interfaces>;

enum class Kind { Controller, Drive, Array, Volume };
inline constexpr std::array<Kind, 4> kKinds{Kind::Controller, Kind::Drive, Kind::Array,
                                            Kind::Volume};

// The key of a kind's list in the storage interface's results ("Drives"...).
std::string ListKey(Kind kind);

class HostStorage {
  public:
    // Replaces every item of `kind` by those of a list result.
    void ReplaceAll(Kind kind, const dbus::ResultDictionary &list);
    // Replaces one item by what a list result read for it holds: nothing
    // when the host no longer knows it.
    void ReplaceOne(Kind kind, const std::string &id, const dbus::ResultDictionary &list);

    // Up only after a complete read: the objects appear with it.
    void SetLinkUp(bool up) {
        linkUp_ = up;
        loaded_ = loaded_ || up;
    }
    bool LinkUp() const { return linkUp_; }

    // Nothing until the first complete read.
    ObjectSet Objects() const;
    const dbus::ItemDictionary *Find(Kind kind, const std::string &id) const;
    // The array a volume lives on, and the controller of that array's drives.
    std::string ArrayOf(const std::string &volume) const;
    std::string ControllerOfArray(const std::string &array) const;

  private:
    static size_t Index(Kind kind) { return static_cast<size_t>(kind); }
    std::map<std::string, dbus::ItemDictionary> &Items(Kind kind) { return items_[Index(kind)]; }
    const std::map<std::string, dbus::ItemDictionary> &Items(Kind kind) const {
        return items_[Index(kind)];
    }
    Interfaces DriveInterfaces(const dbus::ItemDictionary &drive) const;
    Interfaces ControllerInterfaces(const dbus::ItemDictionary &controller) const;
    Interfaces StorageInterfaces() const;
    bool Rebuilding(const dbus::ItemDictionary &drive) const;

    std::array<std::map<std::string, dbus::ItemDictionary>, kKinds.size()> items_;
    bool linkUp_ = false;
    bool loaded_ = false;
};

// The object of an item: a name the bus accepts, made from the kind and
// the host's identifier.
std::string ObjectPath(Kind kind, const std::string &id);
std::string ObjectName(Kind kind, const std::string &id);

template <typename T>
T Field(const dbus::ItemDictionary &item, const std::string &key, T fallback = {}) {
    const auto found = item.find(key);
    if (found == item.end() || !found->second.containsValueOfType<T>()) {
        return fallback;
    }
    return found->second.get<T>();
}

} // namespace vuno::inventory
