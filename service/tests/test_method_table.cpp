#include "method_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vuno::dbus {
namespace {

// The interface as its clients know it: names, order and argument types.
const std::vector<std::pair<std::string, std::string>> kInterface = {
    {"GetDriveIdentifiers", "ss"},
    {"GetDriveInformation", "ss"},
    {"GetVolumeIdentifiers", "ss"},
    {"GetVolumeInformation", "ss"},
    {"GetVolumeMigrationCapabilities", "s"},
    {"GetArrayIdentifiers", "ss"},
    {"GetArrayInformation", "ss"},
    {"GetControllerIdentifiers", "ss"},
    {"GetControllerInformation", "ss"},
    {"GetControllerRaidCapabilities", "s"},
    {"GetFirmwareSlotInformation", ""},
    {"SendFirmwareToSlot", "qss"},
    {"UpdateDriveFirmware", "qss"},
    {"GetExecutorInformation", ""},
    {"ClearDriveMetadata", "s"},
    {"MarkDriveAsSpare", "s"},
    {"UnmarkSpareDrive", "s"},
    {"MarkDriveAsNormal", "s"},
    {"SetVolatileWriteCacheOnDrive", "sb"},
    {"ResetSmartEventOnDrive", "s"},
    {"ActivateDriveLed", "s"},
    {"RemoveDrive", "s"},
    {"CreateVolume", "sustsbssas"},
    {"RebuildVolume", "sas"},
    {"ExpandVolume", "st"},
    {"ChangeRaidLevel", "susas"},
    {"RenameVolume", "ss"},
    {"MarkVolumeAsNormal", "s"},
    {"VerifyVolume", "sb"},
    {"CancelVolumeVerification", "s"},
    {"InitializeVolume", "s"},
    {"SetVolumeCachePolicy", "ss"},
    {"SetRAIDWriteHolePolicy", "sss"},
    {"DeleteVolume", "s"},
    {"AddDrivesToArray", "sas"},
    {"SetVolatileWriteCacheOnArray", "sb"},
    {"SetROHIPolicy", "sb"},
    {"SetReadPatrolPolicy", "sb"},
    {"CreateEventSubscription", "ssas"},
    {"CancelEventSubscription", "s"},
    {"GetEvents", "su"},
};

TEST(MethodTable, HoldsEveryMethodInOrderWithItsArgumentSignature) {
    const std::vector<StorageMethod> &methods = StorageMethods();
    ASSERT_EQ(methods.size(), kInterface.size());
    for (size_t i = 0; i < methods.size(); ++i) {
        SCOPED_TRACE(kInterface[i].first);
        EXPECT_EQ(methods[i].name, kInterface[i].first);
        EXPECT_EQ(methods[i].inputSignature, kInterface[i].second);
        EXPECT_NE(methods[i].issue, nullptr);
    }
}

} // namespace
} // namespace vuno::dbus
