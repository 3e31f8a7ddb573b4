// What the inventory shows of a drive is derived from several records: its
// own, and the volumes of its array.
#include "host_storage.hpp"

#include <gtest/gtest.h>

namespace vuno::inventory {
namespace {

using dbus::ItemDictionary;
using dbus::ResultDictionary;

const std::string kArray = "aaaaaaaa-0000-0000-0000-000000000001";
const std::string kSataDrive = "dddddddd-0000-0000-0000-000000000001";
const std::string kNvmeDrive = "dddddddd-0000-0000-0000-000000000002";

ResultDictionary List(Kind kind, std::vector<ItemDictionary> items) {
    return {{ListKey(kind), sdbus::Variant(items)}};
}

ItemDictionary Drive(const std::string &id, const std::string &type) {
    return {{"Id", sdbus::Variant(id)},
            {"ArrayId", sdbus::Variant(type == "SATA" ? std::string() : kArray)},
            {"Type", sdbus::Variant(type)},
            {"SolidStateDrive", sdbus::Variant(true)}};
}

template <typename T>
T Property(const ObjectSet &objects, const std::string &id, const std::string &interface,
           const std::string &name) {
    return std::get<T>(objects.at(ObjectPath(Kind::Drive, id)).at(interface).at(name));
}

TEST(HostStorage, DrivesShowTheirMediaAndTheRebuildOfTheirArray) {
    HostStorage storage;
    storage.ReplaceAll(Kind::Drive,
                       List(Kind::Drive, {Drive(kSataDrive, "SATA"), Drive(kNvmeDrive, "VMD")}));
    storage.ReplaceAll(
        Kind::Volume, List(Kind::Volume, {{{"Id", sdbus::Variant(std::string("v"))},
                                           {"ArrayId", sdbus::Variant(kArray)},
                                           {"State", sdbus::Variant(std::string("Rebuilding"))}}}));
    EXPECT_TRUE(storage.Objects().empty()) << "published before the host link was up";
    storage.SetLinkUp(true);

    const ObjectSet objects = storage.Objects();
    const std::string drive = "xyz.openbmc_project.Inventory.Item.Drive";
    EXPECT_EQ(Property<std::string>(objects, kSataDrive, drive, "Type"),
              "xyz.openbmc_project.Inventory.Item.Drive.DriveType.SSD");
    const std::string state = "xyz.openbmc_project.State.Drive";
    EXPECT_FALSE(Property<bool>(objects, kSataDrive, state, "Rebuilding"));
    EXPECT_TRUE(Property<bool>(objects, kNvmeDrive, state, "Rebuilding"));

    // A lost link keeps the objects, no longer present.
    storage.SetLinkUp(false);
    EXPECT_FALSE(Property<bool>(storage.Objects(), kSataDrive, "xyz.openbmc_project.Inventory.Item",
                                "Present"));
}

} // namespace
} // namespace vuno::inventory
