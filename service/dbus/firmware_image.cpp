#include "firmware_image.hpp"

#include "argument_parsing.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace vuno::dbus {

namespace {

constexpr const char *kInvalidFile = "Invalid Firmware image file.";
constexpr const char *kUnusableSize = "Cannot get Firmware image file size.";

std::optional<std::filesystem::path> firmwareFolder;

int OpenWithoutBlocking(const std::string &path) {
    // A path with an embedded zero would silently name a different file.
    if (path.find('\0') != std::string::npos) {
        throw ValidationError(kInvalidFile);
    }
    // O_NONBLOCK keeps the open of a FIFO without writer from waiting;
    // O_NOCTTY keeps a terminal from becoming ours.
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        throw ValidationError(kInvalidFile);
    }
    return descriptor;
}

uint32_t AcceptableImageSize(int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        throw ValidationError(kInvalidFile);
    }
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > kMaxFirmwareImageSize) {
        throw ValidationError(kUnusableSize);
    }
    return static_cast<uint32_t>(status.st_size);
}

bool IsInsideFolder(const std::filesystem::path &file, const std::filesystem::path &folder) {
    const auto [folderEnd, fileAt] =
        std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
    return folderEnd == folder.end() && fileAt != file.end();
}

// Resolves every link of `path`; a path that leads nowhere is refused.
std::filesystem::path Resolved(const std::filesystem::path &path) {
    std::error_code error;
    auto resolved = std::filesystem::canonical(path, error);
    if (error) {
        throw ValidationError(kInvalidFile);
    }
    return resolved;
}

void CheckInsideFolder(const std::filesystem::path &path) {
    if (firmwareFolder && !IsInsideFolder(Resolved(path), Resolved(*firmwareFolder))) {
        throw ValidationError(kInvalidFile);
    }
}

// Checked before the open, so that nothing outside the folder (a device
// whose open has effects) is ever opened, and again on what was opened, so
// that a link swapped in between cannot lead elsewhere.
int OpenInsideFolder(const std::string &path) {
    CheckInsideFolder(path);
    const int descriptor = OpenWithoutBlocking(path);
    try {
        CheckInsideFolder("/proc/self/fd/" + std::to_string(descriptor));
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    return descriptor;
}

} // namespace

void AcceptFirmwareImagesOnlyFrom(const std::filesystem::path &folder) {
    firmwareFolder = folder;
}

FirmwareImageFile::FirmwareImageFile(const std::string &path)
    : descriptor_(OpenInsideFolder(path)) {
    try {
        size_ = AcceptableImageSize(descriptor_);
    } catch (...) {
        ::close(descriptor_);
        throw;
    }
}

FirmwareImageFile::~FirmwareImageFile() {
    ::close(descriptor_);
}

void FirmwareImageFile::ReadInto(std::span<uint8_t> destination) {
    if (destination.size() != size_) {
        throw std::invalid_argument("firmware image buffer does not match the file size");
    }
    size_t done = 0;
    while (done < destination.size()) {
        ssize_t count = ::pread(descriptor_, destination.data() + done, destination.size() - done,
                                static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            throw ValidationError(kInvalidFile);
        }
        done += static_cast<size_t>(count);
    }
}

} // namespace vuno::dbus
