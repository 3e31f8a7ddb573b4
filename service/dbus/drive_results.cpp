// Identifier lists and drive information.
#include "result_conversion.hpp"
#include "result_fields.hpp"

#include <array>

namespace vuno::dbus {

namespace {

constexpr std::array<NamedCode, 9> kDriveStatuses{{
    {"Unknown", 0},
    {"Offline", 1},
    {"Missing", 2},
    {"Failed", 3},
    {"SMART event", 4},
    {"Incompatible", 5},
    {"Normal", 6},
    {"Locked", 7},
    {"Unsupported", 8},
}};

constexpr std::array<NamedCode, 6> kDriveUsages{{
    {"Unknown", 0},
    {"Array Member", 1},
    {"Pass-through", 2},
    {"Offline Array Member", 3},
    {"Spare", 4},
    {"Journaling", 5},
}};

constexpr std::array<NamedCode, 2> kDualControllerOrders{{
    {"First", 0},
    {"Second", 1},
}};

// Indexed by link rate code. The fastest ATA code deliberately shares the
// PCIe value.
constexpr std::array<double, 4> kAtaLinkRates{1.5, 3.0, 6.0, 16.0};
constexpr std::array<double, 4> kPcieLinkRates{2.5, 5.0, 8.0, 16.0};

double LinkRate(const std::array<double, 4> &rates, uint32_t code, std::string_view invalidPrefix) {
    if (code >= rates.size()) {
        ReportInvalidValue(invalidPrefix, code);
        return 0.0;
    }
    return rates[code];
}

void AddOpticalKeys(ItemDictionary &item, const vuno_drive_information &drive) {
    item.emplace("PortNumber", drive.Sata.PortNumber);
}

void AddSataKeys(ItemDictionary &item, const vuno_drive_information &drive) {
    const vuno_drive_sata &sata = drive.Sata;
    item.emplace("NegotiatedLinkRate",
                 LinkRate(kAtaLinkRates, sata.NegotiatedLinkRate, "Invalid ATA link rate: 0x"));
    item.emplace("SolidStateDrive", Flag(sata.SolidStateDrive));
    item.emplace("NCQSupported", Flag(sata.NCQSupported));
}

void AddPcieKeys(ItemDictionary &item, const vuno_drive_information &drive) {
    const vuno_drive_nvme &nvme = drive.Nvme;
    item.emplace("VendorId", nvme.VendorId);
    item.emplace("NegotiatedLinkRate",
                 LinkRate(kPcieLinkRates, nvme.NegotiatedLinkRate, "Invalid PCIe link rate: 0x"));
    item.emplace("AttachedToPCH", Flag(nvme.AttachedToPCH));
    item.emplace("DualControllerOrder",
                 EnumerationText(kDualControllerOrders, nvme.DualControllerOrder,
                                 "Invalid dual controller order: 0x"));
    item.emplace("DualControllerNVMe", Flag(nvme.DualControllerNVMe));
}

void AddVmdKeys(ItemDictionary &item, const vuno_drive_information &drive) {
    AddPcieKeys(item, drive);
    const vuno_drive_nvme &nvme = drive.Nvme;
    item.emplace("SocketNumber", nvme.SocketNumber);
    item.emplace("VMDControllerNumber", nvme.VMDControllerNumber);
    item.emplace("RootPortOffset", nvme.RootPortOffset);
    item.emplace("PhysicalSlotNumber", nvme.PhysicalSlotNumber);
}

struct ConnectionType {
    uint32_t code;
    std::string_view text;
    void (*addDetails)(ItemDictionary &, const vuno_drive_information &);
};

constexpr std::array<ConnectionType, 4> kConnectionTypes{{
    {VUNO_DRIVE_TYPE_SATA_OPTICAL, "SATA optical", AddOpticalKeys},
    {VUNO_DRIVE_TYPE_SATA, "SATA", AddSataKeys},
    {VUNO_DRIVE_TYPE_NON_VMD, "Non VMD", AddPcieKeys},
    {VUNO_DRIVE_TYPE_VMD, "VMD", AddVmdKeys},
}};

// A connection type this side does not know leaves the details unread:
// their layout depends on the type.
void AddConnectionKeys(ItemDictionary &item, const vuno_drive_information &drive) {
    for (const ConnectionType &type : kConnectionTypes) {
        if (type.code == drive.Type) {
            item.emplace("Type", std::string(type.text));
            type.addDetails(item, drive);
            return;
        }
    }
}

ItemDictionary DriveItem(const vuno_drive_information &drive) {
    ItemDictionary item;
    item.emplace("Id", IdentifierToText(drive.Id));
    item.emplace("ArrayId", IdentifierToText(drive.ArrayId));
    item.emplace("ControllerId", IdentifierToText(drive.ControllerId));
    item.emplace("Serial", FixedText(drive.Serial));
    item.emplace("Model", FixedText(drive.Model));
    item.emplace("FwRev", FixedText(drive.FwRev));
    item.emplace("Size", drive.Size);
    item.emplace("LogicalBlockSize", drive.LogicalBlockSize);
    item.emplace("PhysicalBlockSize", drive.PhysicalBlockSize);
    item.emplace("Status",
                 EnumerationText(kDriveStatuses, drive.Status, "Invalid drive status: 0x"));
    item.emplace("Usage", EnumerationText(kDriveUsages, drive.Usage, "Invalid drive usage: 0x"));
    item.emplace("WriteCacheState", Flag(drive.WriteCacheState));
    item.emplace("PrebootVisible", Flag(drive.PrebootVisible));
    item.emplace("ActivateLedSupport", Flag(drive.ActivateLedSupport));
    item.emplace("SystemDrive", Flag(drive.SystemDrive));
    AddConnectionKeys(item, drive);
    return item;
}

ResultDictionary IdentifierListResult(const vuno_identifier_list_record &record) {
    std::vector<std::string> identifiers;
    identifiers.reserve(record.Count);
    for (size_t index = 0; index < record.Count; ++index) {
        identifiers.push_back(IdentifierToText(record.Ids[index]));
    }
    return {{kCountKey, sdbus::Variant(record.Count)}, {"Ids", sdbus::Variant(identifiers)}};
}

ResultDictionary DriveListResult(const vuno_drive_information_list &record) {
    return ListResult(record.Count, record.Drives, "Drives", DriveItem);
}

} // namespace

ResultDictionary ConvertIdentifierList(const vuno_identifier_list_record *record) {
    return ConvertPresentRecord(record, IdentifierListResult);
}

ResultDictionary ConvertDriveList(const vuno_drive_information_list *record) {
    return ConvertPresentRecord(record, DriveListResult);
}

} // namespace vuno::dbus
