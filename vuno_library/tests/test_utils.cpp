// Library utilities and Service Protocol frames: the helpers every layer
// builds on, checked against published values and hand-made frames.
#include "frames.h"
#include "host_messages.hpp"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

uint32_t crcOf(const Bytes &data) {
    return crc32c(nullptr, data.data(), static_cast<uint32_t>(data.size()));
}

TEST(Crc32c, PublishedVectorsAndChaining) {
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crcOf(digits), 0xE3069283u);
    EXPECT_EQ(crcOf(Bytes(32, 0x00)), 0x8A9136AAu);
    for (uint32_t split = 0; split <= digits.size(); ++split) {
        const uint32_t first = crc32c(nullptr, digits.data(), split);
        EXPECT_EQ(crc32c(&first, digits.data() + split, 9 - split), 0xE3069283u) << split;
    }
    EXPECT_EQ(crc32c(nullptr, digits.data(), 0), 0u);
}

TEST(Frames, OneByteMessageIsTheDocumentedFrame) {
    // CRC-32C of 01 00 01 00 00 00 00 00 00 00 41, worked out by hand.
    const Bytes expected{0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                         0x00, 0x00, 0xCE, 0x09, 0x8E, 0x7A, 0x41};
    const sp_first_header header{1, 0, 1, sp_message_crc(1, 0, 1, &expected[13], 1)};
    Bytes frame(14, 0xFF);
    wire_writer writer;
    wire_writer_init(&writer, frame.data(), 13);
    sp_put_first_header(&writer, &header);
    ASSERT_TRUE(wire_writer_complete(&writer));
    frame[13] = 0x41;
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(firstFrame({0x41}, 1), expected) << "the test host frames messages alike";
}

} // namespace
} // namespace vuno::testing
