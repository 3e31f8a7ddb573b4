// Reading of a firmware image named by a method argument. The daemon runs
// as root on a single thread, so a caller-chosen path must neither block
// the event loop (a FIFO, a device) nor make it allocate without bound.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace vuno::dbus {

// The whole image travels in one SSI request, which must fit into one
// Service Protocol message: the first frame carries 1001 bytes of it and each
// of at most 65535 further frames 1011 bytes.
inline constexpr uint64_t kMaxServiceMessageSize = 1001 + 65535ull * 1011;
inline constexpr uint64_t kSsiRequestHeaderSize = 6;
inline constexpr uint64_t kFirmwarePayloadHeaderSize = 14;
inline constexpr uint64_t kMaxFirmwareImageSize =
    kMaxServiceMessageSize - kSsiRequestHeaderSize - kFirmwarePayloadHeaderSize;

// From now on only regular files under `folder` (an absolute path; links
// resolved) are accepted as images; the folder may appear later. Set once at
// start-up: without it any file the daemon can read is accepted.
void AcceptFirmwareImagesOnlyFrom(const std::filesystem::path &folder);

// An open image file whose size is known and acceptable. Failures throw
// ValidationError with the text that the method reports.
class FirmwareImageFile {
  public:
    // Accepts only a regular file no larger than kMaxFirmwareImageSize,
    // inside the firmware folder if one is set.
    explicit FirmwareImageFile(const std::string &path);
    ~FirmwareImageFile();
    FirmwareImageFile(const FirmwareImageFile &) = delete;
    FirmwareImageFile &operator=(const FirmwareImageFile &) = delete;

    uint32_t Size() const { return size_; }
    // Fills `destination` from the start of the file; it must hold exactly
    // Size() bytes. A file that shrank since it was opened is refused.
    void ReadInto(std::span<uint8_t> destination);

  private:
    int descriptor_;
    uint32_t size_ = 0;
};

} // namespace vuno::dbus
