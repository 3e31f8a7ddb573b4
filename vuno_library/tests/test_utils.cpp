#include "utils.h"
#include <cstddef>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- Length-prefixed blocks ------------------------------------------------

TEST(SizedBlock, PrefixHoldsSizeLittleEndian) {
    auto *block = static_cast<uint8_t *>(sized_alloc(0x0304));
    ASSERT_NE(block, nullptr);
    const uint8_t *prefix = block - 4;
    EXPECT_EQ(prefix[0], 0x04);
    EXPECT_EQ(prefix[1], 0x03);
    EXPECT_EQ(prefix[2], 0x00);
    EXPECT_EQ(prefix[3], 0x00);
    EXPECT_EQ(sized_size(block), 0x0304u);
    sized_free(&block);
    EXPECT_EQ(block, nullptr);
}

TEST(SizedBlock, BlocksAreAlignedForAnyRecord) {
    for (uint32_t size : {1u, 7u, 24u, 1001u}) {
        void *block = sized_alloc(size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u) << size;
        sized_free(&block);
    }
}

TEST(SizedBlock, ZallocClearsEveryByte) {
    for (uint32_t size : {0u, 1u, 13u, 4096u}) {
        auto *block = static_cast<uint8_t *>(sized_zalloc(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(sized_size(block), size);
        for (uint32_t i = 0; i < size; ++i) {
            ASSERT_EQ(block[i], 0) << "size " << size << " byte " << i;
        }
        sized_free(&block);
    }
}

TEST(SizedBlock, FreeClearsTypedPointerAndIgnoresNull) {
    struct Record {
        uint64_t a;
        char text[21];
    };
    auto *record = static_cast<Record *>(sized_alloc(sizeof(Record)));
    ASSERT_NE(record, nullptr);
    std::memset(record, 0xAB, sizeof *record);
    sized_free(&record);
    EXPECT_EQ(record, nullptr);

    sized_free(&record); // already null: nothing happens
    EXPECT_EQ(record, nullptr);
    sized_free(nullptr);
    EXPECT_EQ(sized_size(nullptr), 0u);
}

// ---- Bit fields ------------------------------------------------------------

struct SetBitsCase {
    uint8_t before;
    uint8_t mask;
    uint32_t value;
    uint8_t after;
};

TEST(Bits, SetBits) {
    const SetBitsCase cases[] = {
        {0xFF, 0xFC, 0, 0x03},     // clears 7..2, keeps 1..0
        {0x00, 0x03, 2, 0x02},     // frame type field
        {0xFC, 0x03, 2, 0xFE},     // neighbours untouched
        {0x00, 0xF8, 31, 0xF8},    // widest control type
        {0x00, 0xF8, 0x3F, 0xF8},  // bit beyond the field dropped
        {0x00, 0x07, 0x1FF, 0x07}, // high bits of the value dropped
        {0x55, 0x00, 0xFF, 0x55},  // mask 0: nothing
        {0x00, 0x80, 1, 0x80},     // single top bit
        {0xFF, 0x0A, 0, 0xF5},     // non-contiguous mask
        {0x00, 0x0A, 5, 0x0A},
    };
    for (const auto &c : cases) {
        uint8_t byte = c.before;
        set_bits(&byte, c.mask, c.value);
        EXPECT_EQ(byte, c.after) << std::hex << "before 0x" << int(c.before) << " mask 0x"
                                 << int(c.mask) << " value 0x" << c.value;
    }
    set_bits(nullptr, 0xFF, 1); // no byte: nothing
}

TEST(Bits, GetBits) {
    const std::array<std::array<uint8_t, 3>, 8> cases = {{
        // byte, mask, expected
        {0xFF, 0xF8, 31},
        {0x09, 0x03, 1},
        {0x09, 0xFC, 2},
        {0x04, 0xF8, 0}, // bit 2 of a control frame is not part of its type
        {0xAB, 0x00, 0},
        {0x00, 0x00, 0},
        {0x80, 0x80, 1},
        {0x5A, 0x07, 2},
    }};
    for (const auto &[byte, mask, expected] : cases) {
        EXPECT_EQ(get_bits(byte, mask), expected)
            << std::hex << "byte 0x" << int(byte) << " mask 0x" << int(mask);
    }
}

// ---- Byte orders -----------------------------------------------------------

TEST(ByteOrder, WritesExpectedBytesAtOddOffsets) {
    // One byte of offset keeps every access unaligned.
    std::array<uint8_t, 10> buffer{};
    uint8_t *p = buffer.data() + 1;

    put_le16(p, 0xBEEF);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 2)), (std::vector<uint8_t>{0xEF, 0xBE}));
    EXPECT_EQ(get_le16(p), 0xBEEF);

    put_le32(p, 5);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{5, 0, 0, 0}));
    put_le32(p, 0x89ABCDEFu);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{0xEF, 0xCD, 0xAB, 0x89}));
    EXPECT_EQ(get_le32(p), 0x89ABCDEFu);

    put_be32(p, 5);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{0, 0, 0, 5}));
    put_be32(p, 0x89ABCDEFu);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(get_be32(p), 0x89ABCDEFu);

    put_le64(p, 0xFEDCBA9876543210ull);
    EXPECT_EQ((std::vector<uint8_t>(p, p + 8)),
              (std::vector<uint8_t>{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}));
    EXPECT_EQ(get_le64(p), 0xFEDCBA9876543210ull);

    EXPECT_EQ(buffer[0], 0) << "wrote before the field";
    EXPECT_EQ(buffer[9], 0) << "wrote past the field";
}

// ---- CRC-32C ---------------------------------------------------------------

// Bit-at-a-time definition of the polynomial, independent of the table.
uint32_t referenceCrc(const std::vector<uint8_t> &data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
        }
    }
    return ~crc;
}

std::vector<uint8_t> bytesOf(const std::string &text) {
    return {text.begin(), text.end()};
}

uint32_t crcOf(const std::vector<uint8_t> &data) {
    return crc32c(nullptr, data.data(), static_cast<uint32_t>(data.size()));
}

TEST(Crc32c, PublishedVectors) {
    std::vector<uint8_t> ascending(32), descending(32);
    for (int i = 0; i < 32; ++i) {
        ascending[i] = static_cast<uint8_t>(i);
        descending[i] = static_cast<uint8_t>(31 - i);
    }
    const struct {
        std::vector<uint8_t> data;
        uint32_t crc;
    } cases[] = {
        {bytesOf("123456789"), 0xE3069283u},
        {std::vector<uint8_t>(32, 0x00), 0x8A9136AAu},
        {std::vector<uint8_t>(32, 0xFF), 0x62A8AB43u},
        {ascending, 0x46DD794Eu},
        {descending, 0x113FDB5Cu},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(crcOf(c.data), c.crc);
    }
}

TEST(Crc32c, EveryTableEntryMatchesThePolynomial) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::vector<uint8_t> data{static_cast<uint8_t>(byte), 0x5A};
        ASSERT_EQ(crcOf(data), referenceCrc(data)) << "byte " << byte;
    }
}

TEST(Crc32c, ChainingEqualsOneRunAtEverySplit) {
    const auto data = bytesOf("123456789");
    for (uint32_t split = 0; split <= data.size(); ++split) {
        const uint32_t first = crc32c(nullptr, data.data(), split);
        const uint32_t chained =
            crc32c(&first, data.data() + split, static_cast<uint32_t>(data.size()) - split);
        EXPECT_EQ(chained, 0xE3069283u) << "split at " << split;
    }
}

TEST(Crc32c, ZeroLengthReturnsPreviousOrZero) {
    const uint8_t byte = 0x41;
    EXPECT_EQ(crc32c(nullptr, &byte, 0), 0u);
    const uint32_t previous = 0x12345678u;
    EXPECT_EQ(crc32c(&previous, &byte, 0), previous);
}

// ---- Doubly linked list ----------------------------------------------------

std::vector<void *> destroyed;
void recordDestroy(void *item) {
    destroyed.push_back(item);
}

class ListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        destroyed.clear();
        list_init(&list, recordDestroy);
    }
    void TearDown() override { list_clear(&list); }

    // Pushes items[n-1] first so that the list reads items[0], items[1], ...
    void fill(size_t count) {
        for (size_t i = count; i-- > 0;) {
            ASSERT_EQ(list_push_front(&list, &items[i]), 0);
        }
    }
    struct list_node *nodeAt(size_t position) {
        struct list_node *node = list.head;
        for (size_t i = 0; i < position; ++i) {
            node = node->next;
        }
        return node;
    }
    // Walks the list forwards and checks every back link on the way.
    std::vector<void *> contents() {
        std::vector<void *> seen;
        struct list_node *previous = nullptr;
        for (struct list_node *node = list.head; node != nullptr; node = node->next) {
            EXPECT_EQ(node->prev, previous) << "broken back link";
            seen.push_back(node->item);
            previous = node;
        }
        return seen;
    }

    struct list list {};
    int items[4] = {};
};

TEST_F(ListTest, StartsEmpty) {
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.destroy, recordDestroy);
    list_remove(&list, nullptr);
    list_clear(&list);
    EXPECT_TRUE(destroyed.empty());
}

TEST_F(ListTest, OnlyNodeIsHeadAndTail) {
    fill(1);
    ASSERT_NE(list.head, nullptr);
    EXPECT_EQ(list.head->next, nullptr);
    EXPECT_EQ(list.head->prev, nullptr);
    EXPECT_EQ(list.head->item, &items[0]);

    list_remove(&list, list.head);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(destroyed, std::vector<void *>{&items[0]});
}

TEST_F(ListTest, PushFrontPrepends) {
    fill(3);
    EXPECT_EQ(contents(), (std::vector<void *>{&items[0], &items[1], &items[2]}));
}

TEST_F(ListTest, RemoveAtEachPosition) {
    const struct {
        const char *name;
        size_t position;
        std::vector<size_t> remaining;
    } cases[] = {
        {"head", 0, {1, 2}},
        {"middle", 1, {0, 2}},
        {"tail", 2, {0, 1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fill(3);
        destroyed.clear();
        list_remove(&list, nodeAt(c.position));
        EXPECT_EQ(destroyed, std::vector<void *>{&items[c.position]});
        std::vector<void *> expected;
        for (size_t index : c.remaining) {
            expected.push_back(&items[index]);
        }
        EXPECT_EQ(contents(), expected);
        list_clear(&list);
    }
}

TEST_F(ListTest, ClearDestroysEachItemOnce) {
    fill(4);
    list_clear(&list);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(destroyed, (std::vector<void *>{&items[0], &items[1], &items[2], &items[3]}));
}

TEST_F(ListTest, NullArgumentsAreRefusedOrIgnored) {
    EXPECT_EQ(list_push_front(nullptr, &items[0]), -1);
    EXPECT_EQ(list_push_front(&list, nullptr), -1);
    EXPECT_EQ(list.head, nullptr);

    fill(1);
    list_remove(nullptr, list.head);
    list_remove(&list, nullptr);
    list_clear(nullptr);
    list_init(nullptr, recordDestroy);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(contents(), std::vector<void *>{&items[0]});
}

TEST(List, DefaultDestroyFreesHeapItems) {
    struct list list;
    list_init(&list, nullptr);
    EXPECT_EQ(list.destroy, &free);
    for (int i = 0; i < 3; ++i) {
        // The leak checker of the sanitizer build proves these are freed.
        ASSERT_EQ(list_push_front(&list, std::malloc(16)), 0);
    }
    list_clear(&list);
    EXPECT_EQ(list.head, nullptr);
}

} // namespace
