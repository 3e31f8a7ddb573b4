// The executor's side of the storage commands' wire formats: a cursor
// that reads request payloads, one that writes response payloads, and one
// encoder per response. All integers are little-endian; text fields are
// fixed-width and zero-padded.
#pragma once

#include "bytes.hpp"
#include "raid_model.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vuno::hostsim {

constexpr size_t kDriveElementSize = 167;
constexpr size_t kVolumeElementSize = 94;
constexpr size_t kMigrationElementSize = 2;
constexpr size_t kArrayElementSize = 53;
constexpr size_t kControllerElementSize = 335;
constexpr size_t kRaidCapabilityElementSize = 10;
constexpr size_t kExecutorInformationSize = 40;
constexpr size_t kFirmwareSlotElementSize = 10;
constexpr size_t kEventElementSize = 17;
constexpr size_t kSubscriptionSize = 18;

// Reads past the end yield zeros and mark the reader failed, so a parser
// may read a whole layout and check once at the end.
class ByteReader {
  public:
    explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    Identifier Id();
    ByteView Take(size_t count);

    size_t Remaining() const { return failed_ ? 0 : bytes_.size() - offset_; }
    // Everything read was there and nothing is left over.
    bool Complete() const { return !failed_ && offset_ == bytes_.size(); }

  private:
    bool Fits(size_t count);

    ByteView bytes_;
    size_t offset_ = 0;
    bool failed_ = false;
};

class ByteWriter {
  public:
    void U8(uint8_t value) { bytes_.push_back(value); }
    void U16(uint16_t value);
    void U32(uint32_t value);
    void U64(uint64_t value);
    void Id(const Identifier &id);
    // Cut to `width` bytes, padded with zeros.
    void Text(std::string_view text, size_t width);
    void Zeros(size_t count);

    size_t Size() const { return bytes_.size(); }
    Bytes Take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

Bytes EncodeIdentifiers(const std::vector<Identifier> &ids);
Bytes EncodeDrives(const RaidModel &model, const std::vector<const Drive *> &drives);
Bytes EncodeVolumes(const RaidModel &model, const std::vector<const Volume *> &volumes);
Bytes EncodeMigrationCapabilities(const std::vector<MigrationCapability> &capabilities);
Bytes EncodeArrays(const RaidModel &model, const std::vector<const Array *> &arrays);
Bytes EncodeControllers(const std::vector<const Controller *> &controllers);
Bytes EncodeRaidCapabilities(const std::vector<RaidCapability> &capabilities);
Bytes EncodeExecutorInformation(const ExecutorInfo &executor);
Bytes EncodeFirmwareSlots(uint32_t capacity, const std::vector<FirmwareSlot> &slots);
Bytes EncodeVolumeIdentifier(const Identifier &volume);
Bytes EncodeSubscription(const Identifier &subscription, uint16_t queueDepth);
Bytes EncodeEvents(const std::vector<Event> &events);

} // namespace vuno::hostsim
