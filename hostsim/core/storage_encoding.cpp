#include "storage_encoding.hpp"

#include <algorithm>
#include <cassert>
#include <limits>

namespace vuno::hostsim {
namespace {

uint8_t Bit(bool set, unsigned position) {
    return set ? static_cast<uint8_t>(1u << position) : 0;
}

template <typename Value> uint8_t Code(Value value) {
    return static_cast<uint8_t>(value);
}

// The count travels as a u16; the model never holds more than that.
template <typename Item> void WriteCount(ByteWriter &writer, const std::vector<Item> &items) {
    assert(items.size() <= std::numeric_limits<uint16_t>::max());
    writer.U16(static_cast<uint16_t>(items.size()));
}

void WriteDrive(ByteWriter &writer, const RaidModel &model, const Drive &drive) {
    const size_t start = writer.Size();
    writer.Id(drive.id);
    writer.Id(drive.arrayId);
    writer.Id(drive.controllerId);
    writer.Text(drive.serial, 20);
    writer.Text(drive.model, 40);
    writer.Text(drive.firmware, 8);
    writer.U64(drive.size);
    writer.U32(drive.logicalBlockSize);
    writer.U32(drive.physicalBlockSize);
    writer.U8(Code(drive.status));
    writer.U8(Code(drive.usage));
    writer.U8(Bit(model.IsSystemDrive(drive), 7) | Bit(drive.ledSupport, 6) |
              Bit(drive.prebootVisible, 5) | Bit(drive.writeCache, 4));
    writer.U8(Code(drive.type));
    switch (drive.type) {
    case DriveType::SataOptical:
        writer.U8(drive.port);
        break;
    case DriveType::Sata:
        writer.U8(drive.port);
        writer.U8(Bit(drive.ncq, 7) | Bit(drive.solidState, 6) | (drive.linkRate & 0x3F));
        break;
    case DriveType::NonVmd:
    case DriveType::Vmd:
        writer.U16(drive.vendorId);
        writer.U8(Bit(drive.dualController, 7) | Bit(drive.dualControllerOrder != 0, 6) |
                  Bit(drive.attachedToPch, 5) | (drive.linkRate & 0x1F));
        if (drive.type == DriveType::Vmd) {
            writer.U16(drive.socket);
            writer.U16(drive.vmdController);
            writer.U16(drive.rootPortOffset);
            writer.U64(drive.physicalSlot);
        }
        break;
    }
    writer.Zeros(kDriveElementSize - (writer.Size() - start));
}

void WriteVolume(ByteWriter &writer, const RaidModel &model, const Volume &volume) {
    writer.Id(volume.id);
    writer.Id(volume.arrayId);
    writer.U8(model.ArrayOrdinal(volume));
    writer.Text(volume.name, 16);
    writer.U8(Code(volume.state));
    writer.U8(Code(volume.level));
    writer.U64(volume.size);
    writer.U16(volume.stripCode);
    writer.U8(static_cast<uint8_t>(std::min<size_t>(volume.members.size(), 0xFF)));
    writer.U16(model.MigrationProgress(volume));
    const bool migrating = volume.job && volume.job->kind == JobKind::Migrate;
    writer.U8(Bit(volume.initialized, 7) | Bit(migrating, 6) | Bit(volume.systemVolume, 5));
    writer.U32(volume.verifyErrors);
    writer.U32(volume.verifyBadBlocks);
    writer.U32(model.LogicalBlockSize(volume));
    writer.U8(static_cast<uint8_t>(Code(volume.cachePolicy) << 4 |
                                   (Code(volume.writeHolePolicy) & 0x0F)));
    writer.Id(volume.journalingDrive);
}

void WriteController(ByteWriter &writer, const Controller &controller) {
    writer.Id(controller.id);
    writer.Text(controller.name, 256);
    writer.U16(controller.vendorId);
    writer.U16(controller.deviceId);
    writer.U16(controller.subsystemId);
    writer.U8(controller.hardwareRevision);
    writer.U8(Bit(controller.preosDriverLoaded, 7));
    for (uint16_t part : controller.osDriverVersion) {
        writer.U16(part);
    }
    for (uint16_t part : controller.preosDriverVersion) {
        writer.U16(part);
    }
    writer.U16(controller.maxVolumesPerArray);
    writer.U16(controller.maxVolumesPerController);
    writer.U16(controller.maxDrivesPerController);
    writer.U8(Bit(controller.rohiEnabled, 7) | Bit(controller.readPatrolEnabled, 6));
    writer.U8(Code(controller.type));
    const bool hasMode = controller.type == ControllerType::Ahci;
    writer.U8(hasMode ? static_cast<uint8_t>(Code(controller.mode) << 5) : 0);
    writer.Zeros(3 + 27);
}

} // namespace

// --- ByteReader ------------------------------------------------------------

bool ByteReader::Fits(size_t count) {
    if (failed_ || bytes_.size() - offset_ < count) {
        failed_ = true;
        return false;
    }
    return true;
}

uint8_t ByteReader::U8() {
    return Fits(1) ? bytes_[offset_++] : 0;
}

uint16_t ByteReader::U16() {
    const uint16_t low = U8();
    return static_cast<uint16_t>(low | U8() << 8);
}

uint32_t ByteReader::U32() {
    const uint32_t low = U16();
    return low | static_cast<uint32_t>(U16()) << 16;
}

uint64_t ByteReader::U64() {
    const uint64_t low = U32();
    return low | static_cast<uint64_t>(U32()) << 32;
}

Identifier ByteReader::Id() {
    Identifier id{};
    const ByteView bytes = Take(id.size());
    std::copy(bytes.begin(), bytes.end(), id.begin());
    return id;
}

ByteView ByteReader::Take(size_t count) {
    if (!Fits(count)) {
        return {};
    }
    const ByteView taken = bytes_.subspan(offset_, count);
    offset_ += count;
    return taken;
}

// --- ByteWriter ------------------------------------------------------------

void ByteWriter::U16(uint16_t value) {
    U8(static_cast<uint8_t>(value));
    U8(static_cast<uint8_t>(value >> 8));
}

void ByteWriter::U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
}

void ByteWriter::U64(uint64_t value) {
    U32(static_cast<uint32_t>(value));
    U32(static_cast<uint32_t>(value >> 32));
}

void ByteWriter::Id(const Identifier &id) {
    bytes_.insert(bytes_.end(), id.begin(), id.end());
}

void ByteWriter::Text(std::string_view text, size_t width) {
    const size_t used = std::min(text.size(), width);
    bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(used));
    Zeros(width - used);
}

void ByteWriter::Zeros(size_t count) {
    bytes_.insert(bytes_.end(), count, 0);
}

// --- Responses -------------------------------------------------------------

Bytes EncodeIdentifiers(const std::vector<Identifier> &ids) {
    ByteWriter writer;
    WriteCount(writer, ids);
    for (const Identifier &id : ids) {
        writer.Id(id);
    }
    return writer.Take();
}

Bytes EncodeDrives(const RaidModel &model, const std::vector<const Drive *> &drives) {
    ByteWriter writer;
    WriteCount(writer, drives);
    for (const Drive *drive : drives) {
        WriteDrive(writer, model, *drive);
    }
    return writer.Take();
}

Bytes EncodeVolumes(const RaidModel &model, const std::vector<const Volume *> &volumes) {
    ByteWriter writer;
    WriteCount(writer, volumes);
    for (const Volume *volume : volumes) {
        WriteVolume(writer, model, *volume);
    }
    return writer.Take();
}

Bytes EncodeMigrationCapabilities(const std::vector<MigrationCapability> &capabilities) {
    ByteWriter writer;
    WriteCount(writer, capabilities);
    for (const MigrationCapability &capability : capabilities) {
        writer.U8(Code(capability.target));
        writer.U8(capability.minAdditionalDrives);
    }
    return writer.Take();
}

Bytes EncodeArrays(const RaidModel &model, const std::vector<const Array *> &arrays) {
    ByteWriter writer;
    WriteCount(writer, arrays);
    for (const Array *array : arrays) {
        writer.Id(array->id);
        writer.Text(array->name, 20);
        writer.U64(model.TotalSize(*array));
        writer.U64(model.FreeSize(*array));
        writer.U8(Bit(array->writeCache, 7));
    }
    return writer.Take();
}

Bytes EncodeControllers(const std::vector<const Controller *> &controllers) {
    ByteWriter writer;
    WriteCount(writer, controllers);
    for (const Controller *controller : controllers) {
        WriteController(writer, *controller);
    }
    return writer.Take();
}

Bytes EncodeRaidCapabilities(const std::vector<RaidCapability> &capabilities) {
    ByteWriter writer;
    // The only list whose count is a single byte.
    writer.U8(static_cast<uint8_t>(std::min<size_t>(capabilities.size(), 0xFF)));
    for (size_t i = 0; i < capabilities.size() && i < 0xFF; ++i) {
        const RaidCapability &capability = capabilities[i];
        writer.U8(Code(capability.level));
        writer.U16(capability.minDrives);
        writer.U16(capability.maxDrives);
        writer.U8(Bit(capability.evenCount, 7) | Bit(capability.oddCount, 6));
        writer.U16(capability.defaultStripCode);
        writer.U16(capability.stripMask);
    }
    return writer.Take();
}

Bytes EncodeExecutorInformation(const ExecutorInfo &executor) {
    ByteWriter writer;
    writer.U16(executor.ssiMajor);
    writer.U16(executor.ssiMinor);
    writer.Text(executor.version, 32);
    writer.U32(0);
    return writer.Take();
}

Bytes EncodeFirmwareSlots(uint32_t capacity, const std::vector<FirmwareSlot> &slots) {
    ByteWriter writer;
    WriteCount(writer, slots);
    writer.U32(capacity);
    for (const FirmwareSlot &slot : slots) {
        writer.U16(slot.number);
        writer.Text(slot.revision, 8);
    }
    return writer.Take();
}

Bytes EncodeVolumeIdentifier(const Identifier &volume) {
    return Bytes(volume.begin(), volume.end());
}

Bytes EncodeSubscription(const Identifier &subscription, uint16_t queueDepth) {
    ByteWriter writer;
    writer.Id(subscription);
    writer.U16(queueDepth);
    return writer.Take();
}

Bytes EncodeEvents(const std::vector<Event> &events) {
    ByteWriter writer;
    WriteCount(writer, events);
    for (const Event &event : events) {
        writer.U8(Code(event.type));
        writer.Id(event.object);
    }
    return writer.Take();
}

} // namespace vuno::hostsim
