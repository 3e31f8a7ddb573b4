#include "argument_parsing.hpp"
#include "firmware_image.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vuno::dbus {
namespace {

const std::string kInvalidFile = "Invalid Firmware image file.";
const std::string kUnusableSize = "Cannot get Firmware image file size.";
// Largest Service Protocol message, less the SSI header and the payload
// fields in front of the image.
constexpr uint64_t kLargestImage = 66256886 - 6 - 14;

std::string OpenFailure(const std::string &path) {
    try {
        FirmwareImageFile image(path);
    } catch (const ValidationError &error) {
        return error.Text();
    }
    return "opened";
}

class FirmwareImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vuno-image-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::string path = directory_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string SparseFile(const std::string &name, uint64_t size) {
        std::string path = WriteFile(name, {});
        EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        return path;
    }

    // Opens `path` in a child so that an open or read that blocks fails
    // the test instead of hanging it; gives the child's verdict.
    std::string OpenFailureWithinSeconds(const std::string &path, int seconds) {
        pid_t child = ::fork();
        if (child == 0) {
            ::_exit(OpenFailure(path) == kInvalidFile ? 0 : 1);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                return "blocked";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kInvalidFile : "other outcome";
    }

    std::filesystem::path directory_;
};

TEST_F(FirmwareImageTest, ASmallImageIsReadBackByteForByte) {
    std::vector<uint8_t> bytes(70000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    FirmwareImageFile image(WriteFile("image.bin", bytes));
    ASSERT_EQ(image.Size(), bytes.size());
    std::vector<uint8_t> readBack(image.Size());
    image.ReadInto(readBack);
    EXPECT_EQ(readBack, bytes);
    // Reading again starts from the beginning once more.
    std::vector<uint8_t> again(image.Size());
    image.ReadInto(again);
    EXPECT_EQ(again, bytes);
}

TEST_F(FirmwareImageTest, AnEmptyImageIsAccepted) {
    FirmwareImageFile image(WriteFile("empty.bin", {}));
    EXPECT_EQ(image.Size(), 0u);
    std::vector<uint8_t> nothing;
    image.ReadInto(nothing);
}

TEST_F(FirmwareImageTest, OnlyRegularFilesAreImages) {
    const std::vector<std::string> notImages = {
        (directory_ / "missing.bin").string(),
        directory_.string(),
        "/dev/null",
        "",
        // A zero byte would otherwise cut the path down to an existing file.
        WriteFile("image.bin", {1, 2, 3}) + std::string("\0.sig", 5),
    };
    for (const std::string &candidate : notImages) {
        EXPECT_EQ(OpenFailure(candidate), kInvalidFile) << candidate;
    }
}

TEST_F(FirmwareImageTest, AFifoIsRefusedPromptlyWithOrWithoutAWriter) {
    std::string fifo = directory_ / "image.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenFailureWithinSeconds(fifo, 5), kInvalidFile);

    // A writer that never writes would leave a blocking read waiting.
    int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(OpenFailureWithinSeconds(fifo, 5), kInvalidFile);
    ::close(writer);
}

TEST_F(FirmwareImageTest, TheImageMustFitIntoOneRequest) {
    FirmwareImageFile largest(SparseFile("largest.bin", kLargestImage));
    EXPECT_EQ(largest.Size(), kLargestImage);
    EXPECT_EQ(OpenFailure(SparseFile("too-large.bin", kLargestImage + 1)), kUnusableSize);
    EXPECT_EQ(OpenFailure(SparseFile("huge.bin", uint64_t{1} << 33)), kUnusableSize);
}

TEST_F(FirmwareImageTest, AFileThatShrankAfterOpeningIsRefused) {
    std::string path = WriteFile("image.bin", std::vector<uint8_t>(4096, 0xA5));
    FirmwareImageFile image(path);
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    std::vector<uint8_t> buffer(image.Size());
    try {
        image.ReadInto(buffer);
        ADD_FAILURE() << "short read accepted";
    } catch (const ValidationError &error) {
        EXPECT_EQ(error.Text(), kInvalidFile);
    }
}

TEST_F(FirmwareImageTest, ABufferOfTheWrongSizeIsAProgrammingError) {
    FirmwareImageFile image(WriteFile("image.bin", {1, 2, 3}));
    std::vector<uint8_t> tooSmall(2);
    EXPECT_THROW(image.ReadInto(tooSmall), std::invalid_argument);
}

} // namespace
} // namespace vuno::dbus
