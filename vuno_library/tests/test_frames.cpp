#include "frames.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A complete Data Frame [0] as the sender builds it.
Bytes firstFrame(const Bytes &payload) {
    const auto total = static_cast<uint32_t>(payload.size());
    const uint32_t part = sp_first_part_size(total);
    const sp_first_header header{
        SP_SERVICE_ID_SSI, 0, total,
        sp_message_crc(SP_SERVICE_ID_SSI, 0, total, payload.data(), total)};
    Bytes frame(SP_FIRST_HEADER_SIZE + part);
    EXPECT_EQ(sp_write_first_header(frame.data(), &header), SP_FIRST_HEADER_SIZE);
    std::copy(payload.begin(), payload.begin() + part, frame.begin() + SP_FIRST_HEADER_SIZE);
    return frame;
}

Bytes patterned(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return data;
}

TEST(Frames, OneByteMessageIsTheDocumentedFrame) {
    // CRC-32C of 01 00 01 00 00 00 00 00 00 00 41, worked out by hand.
    const Bytes expected{0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                         0x00, 0x00, 0xCE, 0x09, 0x8E, 0x7A, 0x41};
    EXPECT_EQ(firstFrame({0x41}), expected);
}

TEST(Frames, ChecksumCoversHeaderFieldsWithZeroedCrcThenWholePayload) {
    const Bytes payload = patterned(2500);
    // Bytes 3..12 of Data Frame [0] with the CRC field zeroed.
    const Bytes frame = firstFrame(payload);
    Bytes covered(frame.begin() + 3, frame.begin() + 9);
    covered.insert(covered.end(), 4, 0);
    covered.insert(covered.end(), payload.begin(), payload.end());

    const uint32_t expected =
        crc32c(nullptr, covered.data(), static_cast<uint32_t>(covered.size()));
    EXPECT_EQ(sp_message_crc(SP_SERVICE_ID_SSI, 0, 2500, payload.data(), 2500), expected);
}

TEST(Frames, ChecksumDependsOnEveryHeaderField) {
    const Bytes payload = patterned(16);
    const uint32_t base = sp_message_crc(1, 0, 16, payload.data(), 16);
    const struct {
        const char *name;
        uint8_t service_id;
        uint8_t reserved;
        uint32_t total;
    } changes[] = {
        {"service id", 2, 0, 16},
        {"reserved", 1, 0x80, 16},
        {"total low byte", 1, 0, 17},
        {"total high byte", 1, 0, 16 | 0x01000000u},
    };
    for (const auto &c : changes) {
        EXPECT_NE(sp_message_crc(c.service_id, c.reserved, c.total, payload.data(), 16), base)
            << c.name;
    }
}

// Walks a message of `total` bytes the way the sender cuts it and checks
// every frame stays within the limits.
struct Walk {
    uint32_t frames = 0;
    uint32_t lastIndex = 0;
    uint32_t lastFrameSize = 0;
    uint32_t fullFrames = 0;
};

Walk walkSegments(uint32_t total) {
    Walk walk;
    uint32_t offset = sp_first_part_size(total);
    if (offset == 0) {
        return walk;
    }
    walk.frames = 1;
    walk.lastFrameSize = SP_FIRST_HEADER_SIZE + offset;
    walk.fullFrames = walk.lastFrameSize == SP_MAX_FRAME_SIZE;
    while (offset < total) {
        const uint32_t part = sp_next_part_size(total, offset);
        EXPECT_GE(part, 1u);
        EXPECT_LE(part, SP_NEXT_PART_MAX);
        if (part == 0) {
            break;
        }
        offset += part;
        walk.lastIndex = walk.frames++;
        walk.lastFrameSize = SP_NEXT_HEADER_SIZE + part;
        walk.fullFrames += walk.lastFrameSize == SP_MAX_FRAME_SIZE;
    }
    EXPECT_EQ(offset, total);
    return walk;
}

TEST(Frames, Segmentation) {
    const struct {
        uint32_t total;
        uint32_t frames;
        uint32_t lastIndex;
        uint32_t lastFrameSize;
        uint32_t fullFrames;
    } cases[] = {
        {1, 1, 0, 14, 0},   {1001, 1, 0, 1014, 1},
        {1002, 2, 1, 4, 1}, {2012, 2, 1, 1014, 2},
        {2013, 3, 2, 4, 2}, {SP_MAX_MESSAGE_SIZE, 65536, 65535, 1014, 65536},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.total);
        EXPECT_EQ(sp_frame_count(c.total), c.frames);
        const Walk walk = walkSegments(c.total);
        EXPECT_EQ(walk.frames, c.frames);
        EXPECT_EQ(walk.lastIndex, c.lastIndex);
        EXPECT_EQ(walk.lastFrameSize, c.lastFrameSize);
        EXPECT_EQ(walk.fullFrames, c.fullFrames);
    }
    EXPECT_EQ(SP_MAX_MESSAGE_SIZE, 66256886u);
    EXPECT_EQ(sp_frame_count(0), 0u);
    EXPECT_EQ(sp_frame_count(SP_MAX_MESSAGE_SIZE + 1), 65537u);
    EXPECT_EQ(sp_next_part_size(2012, 2012), 0u);
    EXPECT_EQ(sp_next_part_size(2012, 5000), 0u);
}

TEST(Frames, FixedFramesAndHeaders) {
    std::array<uint8_t, 3> frame{};
    EXPECT_EQ(sp_write_next_header(frame.data(), 0x1234), SP_NEXT_HEADER_SIZE);
    EXPECT_EQ(frame, (std::array<uint8_t, 3>{0x01, 0x34, 0x12}));
    EXPECT_EQ(sp_frame_index(frame.data()), 0x1234);

    frame.fill(0xFF);
    EXPECT_EQ(sp_write_status_frame(frame.data(), SP_STATUS_CRC_ERROR), SP_STATUS_FRAME_SIZE);
    EXPECT_EQ(frame, (std::array<uint8_t, 3>{0x02, 0x07, 0xFF}));
}

TEST(Frames, FirstHeaderRoundTripsAllFields) {
    const Bytes frame{0x01, 0x00, 0x00, 0x01, 0x5A, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE};
    sp_first_header header{};
    sp_read_first_header(frame.data(), &header);
    EXPECT_EQ(header.service_id, 1);
    EXPECT_EQ(header.reserved, 0x5A);
    EXPECT_EQ(header.total, 0x12345678u);
    EXPECT_EQ(header.crc, 0xDEADBEEFu);

    Bytes written(SP_FIRST_HEADER_SIZE, 0xFF);
    sp_write_first_header(written.data(), &header);
    EXPECT_EQ(written, frame);
}

TEST(Frames, ByteZeroFields) {
    const struct {
        uint8_t byte0;
        uint8_t type;
        uint8_t messageId;
        uint8_t controlType;
    } cases[] = {
        {0x00, SP_FRAME_TYPE_CONTROL, 0, SP_CONTROL_TYPE_HEARTBEAT},
        {0x04, SP_FRAME_TYPE_CONTROL, 1, SP_CONTROL_TYPE_HEARTBEAT}, // bit 2 ignored
        {0x08, SP_FRAME_TYPE_CONTROL, 2, 1},
        {0x01, SP_FRAME_TYPE_DATA, 0, 0},
        {0x09, SP_FRAME_TYPE_DATA, 2, 1},
        {0x02, SP_FRAME_TYPE_STATUS, 0, 0},
        {0x03, SP_FRAME_TYPE_INVALID, 0, 0},
        {0xFE, SP_FRAME_TYPE_STATUS, 63, 31},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte0));
        EXPECT_EQ(sp_frame_type(&c.byte0), c.type);
        EXPECT_EQ(sp_frame_message_id(&c.byte0), c.messageId);
        EXPECT_EQ(sp_frame_control_type(&c.byte0), c.controlType);
    }
}

} // namespace
