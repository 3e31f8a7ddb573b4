#include "host_storage.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>

namespace vuno::inventory {

namespace {

using dbus::ItemDictionary;

constexpr char kItem[] = "xyz.openbmc_project.Inventory.Item";
constexpr char kAsset[] = "xyz.openbmc_project.Inventory.Decorator.Asset";
constexpr char kProtocolPrefix[] = "xyz.openbmc_project.Inventory.Item.Drive.DriveProtocol.";
constexpr char kDriveTypePrefix[] = "xyz.openbmc_project.Inventory.Item.Drive.DriveType.";

const char *ObjectPrefix(Kind kind) {
    switch (kind) {
    case Kind::Controller:
        return "controller_";
    case Kind::Drive:
        return "drive_";
    case Kind::Array:
        return "array_";
    case Kind::Volume:
        break;
    }
    return "volume_";
}

std::string Protocol(const std::string &connection) {
    if (connection == "SATA" || connection == "SATA optical") {
        return "SATA";
    }
    if (connection == "VMD" || connection == "Non VMD") {
        return "NVMe";
    }
    return "Unknown";
}

// NVMe drives are flash drives; only SATA says which kind of media it has.
std::string MediaType(const ItemDictionary &drive) {
    const std::string connection = Field<std::string>(drive, "Type");
    if (connection == "VMD" || connection == "Non VMD") {
        return "SSD";
    }
    if (connection != "SATA") {
        return "Unknown";
    }
    return Field<bool>(drive, "SolidStateDrive") ? "SSD" : "HDD";
}

bool Functional(const ItemDictionary &drive) {
    const std::string status = Field<std::string>(drive, "Status");
    return status != "Failed" && status != "Missing" && status != "Offline";
}

template <typename... Types> std::optional<Value> ScalarValue(const sdbus::Variant &variant) {
    std::optional<Value> value;
    static_cast<void>(
        ((variant.containsValueOfType<Types>() && (value = variant.get<Types>(), true)) || ...));
    return value;
}

// Every scalar entry of a result item, under the item's own key.
Properties ScalarProperties(const ItemDictionary &item) {
    Properties properties;
    for (const auto &[key, variant] : item) {
        auto value =
            ScalarValue<bool, uint8_t, uint16_t, uint32_t, uint64_t, double, std::string>(variant);
        if (value) {
            properties.emplace(key, std::move(*value));
        }
    }
    return properties;
}

} // namespace

std::string ListKey(Kind kind) {
    switch (kind) {
    case Kind::Controller:
        return "Controllers";
    case Kind::Drive:
        return "Drives";
    case Kind::Array:
        return "Arrays";
    case Kind::Volume:
        break;
    }
    return "Volumes";
}

std::string ObjectName(Kind kind, const std::string &id) {
    std::string name = ObjectPrefix(kind);
    std::copy_if(id.begin(), id.end(), std::back_inserter(name),
                 [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    return name;
}

std::string ObjectPath(Kind kind, const std::string &id) {
    return std::string(kStoragePath) + "/" + ObjectName(kind, id);
}

namespace {

std::vector<ItemDictionary> ListItems(Kind kind, const dbus::ResultDictionary &list) {
    const auto found = list.find(ListKey(kind));
    if (found == list.end() || !found->second.containsValueOfType<std::vector<ItemDictionary>>()) {
        return {};
    }
    return found->second.get<std::vector<ItemDictionary>>();
}

void Insert(std::map<std::string, ItemDictionary> &items, std::vector<ItemDictionary> list) {
    for (ItemDictionary &item : list) {
        std::string id = Field<std::string>(item, "Id");
        if (!id.empty()) {
            items[std::move(id)] = std::move(item);
        }
    }
}

} // namespace

void HostStorage::ReplaceAll(Kind kind, const dbus::ResultDictionary &list) {
    Items(kind).clear();
    Insert(Items(kind), ListItems(kind, list));
}

void HostStorage::ReplaceOne(Kind kind, const std::string &id, const dbus::ResultDictionary &list) {
    Items(kind).erase(id);
    std::vector<ItemDictionary> items = ListItems(kind, list);
    std::erase_if(
        items, [&id](const ItemDictionary &item) { return Field<std::string>(item, "Id") != id; });
    Insert(Items(kind), std::move(items));
}

const ItemDictionary *HostStorage::Find(Kind kind, const std::string &id) const {
    const auto found = Items(kind).find(id);
    return found == Items(kind).end() ? nullptr : &found->second;
}

std::string HostStorage::ArrayOf(const std::string &volume) const {
    const ItemDictionary *item = Find(Kind::Volume, volume);
    return item == nullptr ? "" : Field<std::string>(*item, "ArrayId");
}

std::string HostStorage::ControllerOfArray(const std::string &array) const {
    for (const auto &[id, drive] : Items(Kind::Drive)) {
        if (!array.empty() && Field<std::string>(drive, "ArrayId") == array) {
            return Field<std::string>(drive, "ControllerId");
        }
    }
    return "";
}

bool HostStorage::Rebuilding(const ItemDictionary &drive) const {
    const std::string array = Field<std::string>(drive, "ArrayId");
    return !array.empty() &&
           std::any_of(Items(Kind::Volume).begin(), Items(Kind::Volume).end(),
                       [&array](const auto &entry) {
                           return Field<std::string>(entry.second, "ArrayId") == array &&
                                  Field<std::string>(entry.second, "State") == "Rebuilding";
                       });
}

Interfaces HostStorage::DriveInterfaces(const ItemDictionary &drive) const {
    const std::string model = Field<std::string>(drive, "Model");
    return {
        {"xyz.openbmc_project.Inventory.Item.Drive",
         {{"Capacity", Field<uint64_t>(drive, "Size")},
          {"Protocol", kProtocolPrefix + Protocol(Field<std::string>(drive, "Type"))},
          {"Type", kDriveTypePrefix + MediaType(drive)}}},
        {kItem, {{"Present", linkUp_}, {"PrettyName", model.empty() ? "Drive" : model}}},
        {kAsset, {{"Model", model}, {"SerialNumber", Field<std::string>(drive, "Serial")}}},
        {"xyz.openbmc_project.Inventory.Decorator.Revision",
         {{"Version", Field<std::string>(drive, "FwRev")}}},
        {"xyz.openbmc_project.State.Drive", {{"Rebuilding", Rebuilding(drive)}}},
        {"xyz.openbmc_project.State.Decorator.OperationalStatus",
         {{"Functional", Functional(drive)}}},
    };
}

Interfaces HostStorage::ControllerInterfaces(const ItemDictionary &controller) const {
    const std::string name = Field<std::string>(controller, "Name");
    return {
        {"xyz.openbmc_project.Inventory.Item.StorageController", {}},
        {kItem, {{"Present", linkUp_}, {"PrettyName", name.empty() ? "Controller" : name}}},
        {kAsset, {{"Model", name}}},
    };
}

Interfaces HostStorage::StorageInterfaces() const {
    std::vector<Association> associations;
    for (const auto &[id, drive] : Items(Kind::Drive)) {
        associations.emplace_back("drive", "storage", ObjectPath(Kind::Drive, id));
    }
    for (const auto &[id, controller] : Items(Kind::Controller)) {
        associations.emplace_back("storage_controller", "storage",
                                  ObjectPath(Kind::Controller, id));
    }
    return {
        {"xyz.openbmc_project.Inventory.Item.Storage", {}},
        {"xyz.openbmc_project.Association.Definitions", {{"Associations", associations}}},
    };
}

ObjectSet HostStorage::Objects() const {
    if (!loaded_) {
        return {};
    }
    ObjectSet objects{{kStoragePath, StorageInterfaces()}};
    for (const auto &[id, controller] : Items(Kind::Controller)) {
        objects.emplace(ObjectPath(Kind::Controller, id), ControllerInterfaces(controller));
    }
    for (const auto &[id, drive] : Items(Kind::Drive)) {
        objects.emplace(ObjectPath(Kind::Drive, id), DriveInterfaces(drive));
    }
    for (const auto &[id, array] : Items(Kind::Array)) {
        objects.emplace(ObjectPath(Kind::Array, id),
                        Interfaces{{kArrayInterface, ScalarProperties(array)}});
    }
    for (const auto &[id, volume] : Items(Kind::Volume)) {
        objects.emplace(ObjectPath(Kind::Volume, id),
                        Interfaces{{kVolumeInterface, ScalarProperties(volume)}});
    }
    return objects;
}

} // namespace vuno::inventory
