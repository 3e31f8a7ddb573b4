// The host's side of the Service Protocol on its own: what it answers the
// BMC's frames with, what it hands on, how it cuts its own messages into
// frames and how it reacts to the BMC's verdicts.
#include "frames.h"
#include "service_protocol_host.hpp"

#include <gtest/gtest.h>

#include <numeric>

namespace vuno::hostsim {
namespace {

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{7});
    return bytes;
}

Bytes Le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

Bytes Concat(Bytes head, const Bytes &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Data Frame [0] as the BMC writes it; the CRC covers `message`.
Bytes FirstFrame(const Bytes &message, size_t partSize, uint8_t serviceId = 1) {
    const auto total = static_cast<uint32_t>(message.size());
    Bytes frame = Concat({0x01, 0x00, 0x00, serviceId, 0x00}, Le32(total));
    frame = Concat(frame, Le32(sp_message_crc(serviceId, 0, total, message.data(), total)));
    frame.insert(frame.end(), message.begin(), message.begin() + partSize);
    return frame;
}

Bytes LaterFrame(uint16_t index, const Bytes &message, size_t offset, size_t partSize) {
    Bytes frame{0x01, uint8_t(index), uint8_t(index >> 8)};
    frame.insert(frame.end(), message.begin() + offset, message.begin() + offset + partSize);
    return frame;
}

// A whole message of the BMC, segmented 1001 + 1011 + 1011 + ...
std::vector<Bytes> BmcFrames(const Bytes &message) {
    std::vector<Bytes> frames{FirstFrame(message, std::min<size_t>(message.size(), 1001))};
    for (size_t offset = 1001; offset < message.size(); offset += 1011) {
        frames.push_back(LaterFrame(uint16_t(frames.size()), message, offset,
                                    std::min<size_t>(message.size() - offset, 1011)));
    }
    return frames;
}

class ProtocolHostTest : public ::testing::Test {
  protected:
    // Frames the host wrote since the last call.
    std::vector<Bytes> TakeWritten() { return std::exchange(written_, {}); }

    // The status values of the Status Frames written since the last call;
    // fails on any other frame.
    std::vector<uint8_t> TakeStatuses() {
        std::vector<uint8_t> statuses;
        for (const Bytes &frame : TakeWritten()) {
            EXPECT_EQ(frame.size(), 2u);
            EXPECT_EQ(frame.at(0), 0x02);
            statuses.push_back(frame.at(1));
        }
        return statuses;
    }

    // Lets the ME read the mailbox until the host writes nothing more, and
    // returns the Data Frames in the order written.
    std::vector<Bytes> DrainDataFrames() {
        std::vector<Bytes> frames;
        for (auto batch = TakeWritten(); !batch.empty(); batch = TakeWritten()) {
            for (const Bytes &frame : batch) {
                frames.push_back(frame);
                host_.OnFrameLeftMailbox(frame);
            }
        }
        return frames;
    }

    void FromBmc(const std::vector<Bytes> &frames) {
        for (const Bytes &frame : frames) {
            host_.OnFrameFromBmc(frame);
        }
    }

    uint64_t Count(ExchangeCounter counter) const { return counters_.Value(counter); }

    std::vector<std::string> lines_;
    Journal journal_{[this](const std::string &line) { lines_.push_back(line); }};
    ExchangeCounters counters_;
    Clock clock_;
    bool mailboxOpen_ = true;
    std::vector<Bytes> written_;
    std::vector<Bytes> delivered_;
    ServiceProtocolHost host_{
        journal_, counters_, clock_,
        [this](ByteView frame) {
            if (mailboxOpen_) {
                written_.emplace_back(frame.begin(), frame.end());
            }
            return mailboxOpen_;
        },
        [this](ByteView message) { delivered_.emplace_back(message.begin(), message.end()); }};
};

TEST_F(ProtocolHostTest, OneByteMessageIsAnsweredAndHandedOn) {
    // The CRC is CRC-32C over 01 00 01 00 00 00 00 00 00 00 41.
    host_.OnFrameFromBmc(
        Bytes{0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0xCE, 0x09, 0x8E, 0x7A, 0x41});
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(delivered_, std::vector<Bytes>{{0x41}});
    EXPECT_EQ(Count(ExchangeCounter::MessagesReceived), 1u);
}

TEST_F(ProtocolHostTest, MessagesOfSeveralFramesAreReassembled) {
    for (size_t size : {1001u, 1002u, 2012u, 2013u, 5000u}) {
        SCOPED_TRACE(size);
        const Bytes message = Pattern(size);
        const auto frames = BmcFrames(message);
        FromBmc({frames.begin(), frames.end() - 1});
        EXPECT_TRUE(TakeWritten().empty()) << "no verdict before the last frame";
        host_.OnFrameFromBmc(frames.back());
        EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
        ASSERT_EQ(delivered_.size(), 1u);
        EXPECT_EQ(delivered_[0], message);
        delivered_.clear();
    }
}

TEST_F(ProtocolHostTest, FaultyFramesAreAnsweredWithTheirStatus) {
    const Bytes twoFrames = Pattern(2012);
    const Bytes first = FirstFrame(twoFrames, 1001);
    struct Case {
        const char *name;
        std::vector<Bytes> frames;
        uint8_t status;
    };
    const std::vector<Case> cases = {
        {"Data Frame of 2 bytes", {{0x01, 0x00}}, SP_STATUS_INVALID_FRAME_SIZE},
        {"message ID 1", {{0x05, 0x00, 0x00, 0x01}}, SP_STATUS_INVALID_MESSAGE_ID},
        {"Data Frame [0] of 12 bytes",
         {Bytes(first.begin(), first.begin() + 12)},
         SP_STATUS_INVALID_FRAME_SIZE},
        {"Service ID 2", {FirstFrame(Pattern(1), 1, 2)}, SP_STATUS_INVALID_SERVICE_ID},
        {"total 0", {FirstFrame({}, 0)}, SP_STATUS_INVALID_TOTAL_BYTES},
        {"total above the maximum",
         {Concat(Concat({0x01, 0, 0, 1, 0}, Le32(SP_MAX_MESSAGE_SIZE + 1)), Le32(0))},
         SP_STATUS_INVALID_TOTAL_BYTES},
        {"first part larger than the total",
         {Concat(Concat({0x01, 0, 0, 1, 0}, Le32(1)), Concat(Le32(0), {0xAA, 0xBB}))},
         SP_STATUS_INVALID_FRAME_SIZE},
        {"later frame without Data Frame [0]",
         {LaterFrame(1, twoFrames, 1001, 1011)},
         SP_STATUS_NO_RESOURCES},
        {"later frame without payload", {first, {0x01, 0x01, 0x00}}, SP_STATUS_INVALID_FRAME_SIZE},
        {"later frame beyond the total",
         {first, Concat(LaterFrame(1, twoFrames, 1001, 1011), {0})},
         SP_STATUS_SIZE_EXCEEDS_TOTAL},
        {"index 2 after index 0",
         {first, LaterFrame(2, twoFrames, 1001, 1011)},
         SP_STATUS_INVALID_SEQUENCE},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        host_.Reset();
        FromBmc(test.frames);
        EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{test.status});
        EXPECT_TRUE(delivered_.empty());
    }
    EXPECT_EQ(Count(ExchangeCounter::FrameErrors), cases.size());
}

TEST_F(ProtocolHostTest, RejectedLaterFrameLeavesTheMessageToComplete) {
    const Bytes message = Pattern(2012);
    const auto frames = BmcFrames(message);
    FromBmc({frames[0], LaterFrame(2, message, 1001, 1011)});
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{SP_STATUS_INVALID_SEQUENCE});
    host_.OnFrameFromBmc(frames[1]);
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(delivered_, std::vector<Bytes>{message});
}

TEST_F(ProtocolHostTest, CorruptedMessageIsAnsweredWithCrcErrorAndNotHandedOn) {
    const Bytes message = Pattern(3000);
    auto frames = BmcFrames(message);
    frames[1][500] ^= 0x01;
    FromBmc(frames);
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{SP_STATUS_CRC_ERROR});
    EXPECT_TRUE(delivered_.empty());
    // The BMC sends the whole message again.
    FromBmc(BmcFrames(message));
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(delivered_, std::vector<Bytes>{message});
    EXPECT_EQ(Count(ExchangeCounter::CrcErrors), 1u);
}

TEST_F(ProtocolHostTest, NewFirstFrameAbandonsTheMessageUnderReception) {
    const Bytes abandoned = Pattern(3000);
    const Bytes next = Pattern(10);
    host_.OnFrameFromBmc(BmcFrames(abandoned)[0]);
    FromBmc(BmcFrames(next));
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(delivered_, std::vector<Bytes>{next});
    EXPECT_EQ(Count(ExchangeCounter::MessagesAbandoned), 1u);
}

// What the BMC checks of the host's frames: Data Frame [0]'s header, the
// indexes, and parts that add up to the message with a matching CRC.
void ExpectFramesCarry(const std::vector<Bytes> &frames, const Bytes &message) {
    ASSERT_FALSE(frames.empty());
    const Bytes &first = frames[0];
    ASSERT_GE(first.size(), 13u);
    const auto total = static_cast<uint32_t>(message.size());
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 13),
              Concat(Concat({0x01, 0x00, 0x00, 0x01, 0x00}, Le32(total)),
                     Le32(sp_message_crc(1, 0, total, message.data(), total))));
    Bytes carried(first.begin() + 13, first.end());
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GE(frames[i].size(), 4u);
        EXPECT_EQ(Bytes(frames[i].begin(), frames[i].begin() + 3),
                  (Bytes{0x01, uint8_t(i), uint8_t(i >> 8)}));
        carried.insert(carried.end(), frames[i].begin() + 3, frames[i].end());
    }
    EXPECT_EQ(carried, message);
}

TEST_F(ProtocolHostTest, OwnOneByteMessageIsOneFrame) {
    ASSERT_TRUE(host_.Send({0x41}));
    const Bytes expected{0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                         0x00, 0x00, 0xCE, 0x09, 0x8E, 0x7A, 0x41};
    EXPECT_EQ(DrainDataFrames(), std::vector<Bytes>{expected});
}

// `full` frames of 1014 bytes, then one of `last` bytes unless it is 0.
std::vector<size_t> FrameSizes(size_t full, size_t last) {
    std::vector<size_t> sizes(full, 1014);
    if (last != 0) {
        sizes.push_back(last);
    }
    return sizes;
}

TEST_F(ProtocolHostTest, OwnMessagesAreCutIntoFramesOneAtATime) {
    struct Case {
        size_t size;
        std::vector<size_t> frameSizes;
    };
    const Case cases[] = {
        {1001, FrameSizes(1, 0)},
        {1002, FrameSizes(1, 4)},
        {2012, FrameSizes(2, 0)},
        {2013, FrameSizes(2, 4)},
        {100000, FrameSizes(98, 3 + 100000 - 1001 - 97 * 1011)},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.size);
        const Bytes message = Pattern(test.size);
        ASSERT_TRUE(host_.Send(message));
        ASSERT_EQ(written_.size(), 1u) << "the next frame waits for the mailbox";
        const auto frames = DrainDataFrames();
        std::vector<size_t> sizes;
        for (const Bytes &frame : frames) {
            sizes.push_back(frame.size());
        }
        EXPECT_EQ(sizes, test.frameSizes);
        ExpectFramesCarry(frames, message);
        host_.OnFrameFromBmc(Bytes{0x02, 0x00});
    }
    EXPECT_EQ(Count(ExchangeCounter::MessagesDelivered), std::size(cases));
}

TEST_F(ProtocolHostTest, NextMessageWaitsForTheBmcsVerdict) {
    ASSERT_TRUE(host_.Send({0xA1}));
    ASSERT_TRUE(host_.Send({0xB2}));
    EXPECT_EQ(DrainDataFrames().size(), 1u);
    EXPECT_TRUE(DrainDataFrames().empty());
    host_.OnFrameFromBmc(Bytes{0x02, 0x00});
    const auto second = DrainDataFrames();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].back(), 0xB2);
}

TEST_F(ProtocolHostTest, CrcErrorResendsTheWholeMessageUntilTheLimit) {
    const Bytes message = Pattern(2500);
    ASSERT_TRUE(host_.Send(message));
    const auto original = DrainDataFrames();
    ASSERT_EQ(original.size(), 3u);
    for (int resend = 1; resend <= kMaxRetransmissions; ++resend) {
        host_.OnFrameFromBmc(Bytes{0x02, SP_STATUS_CRC_ERROR});
        EXPECT_EQ(DrainDataFrames(), original) << "resend " << resend;
    }
    host_.OnFrameFromBmc(Bytes{0x02, SP_STATUS_CRC_ERROR});
    EXPECT_TRUE(DrainDataFrames().empty());
    EXPECT_TRUE(host_.Idle());
    EXPECT_EQ(Count(ExchangeCounter::Retransmissions), kMaxRetransmissions);
    EXPECT_EQ(Count(ExchangeCounter::MessagesRejected), 1u);
}

TEST_F(ProtocolHostTest, OtherVerdictsEndTheMessage) {
    for (uint8_t status : {1, 4, 5, 8, 9, 255}) {
        SCOPED_TRACE(int(status));
        ASSERT_TRUE(host_.Send(Pattern(1500)));
        DrainDataFrames();
        host_.OnFrameFromBmc(Bytes{0x02, status});
        EXPECT_TRUE(host_.Idle());
        EXPECT_TRUE(DrainDataFrames().empty());
    }
    EXPECT_EQ(Count(ExchangeCounter::MessagesRejected), 6u);
    EXPECT_EQ(Count(ExchangeCounter::Retransmissions), 0u);
}

TEST_F(ProtocolHostTest, VerdictWaitStartsWhenTheLastFrameLeavesTheMailbox) {
    ASSERT_TRUE(host_.Send(Pattern(1500)));
    ASSERT_TRUE(host_.Send({0x99}));
    const auto first = TakeWritten();
    EXPECT_FALSE(host_.NextDeadline()) << "frames still to go";
    host_.OnFrameLeftMailbox(first.at(0));
    const auto last = TakeWritten();
    clock_.Set(Duration{5000});
    EXPECT_FALSE(host_.NextDeadline()) << "the last frame is still in the mailbox";
    host_.OnFrameLeftMailbox(last.at(0));
    EXPECT_EQ(host_.NextDeadline(), Duration{5000} + kStatusFrameWait);

    clock_.Set(Duration{5000} + kStatusFrameWait - Duration{1});
    host_.OnTime();
    EXPECT_TRUE(written_.empty());
    clock_.Set(Duration{5000} + kStatusFrameWait);
    host_.OnTime();
    EXPECT_EQ(Count(ExchangeCounter::StatusWaitTimeouts), 1u);
    const auto next = DrainDataFrames();
    ASSERT_EQ(next.size(), 1u) << "the next message goes out";
    EXPECT_EQ(next[0].back(), 0x99);
}

TEST_F(ProtocolHostTest, FramesNotForTheHostAreIgnored) {
    FromBmc({{}, {0x00, 1, 0, 0, 0}, {0x03, 0x00}, {0x02, 0x00, 0x00}, {0x06, 0x00}});
    EXPECT_EQ(journal_.Value(Counter::UnhandledFrames), 5u);
    host_.OnFrameFromBmc(Bytes{0x02, 0x00});
    EXPECT_EQ(Count(ExchangeCounter::UnexpectedStatusFrames), 1u);
    EXPECT_TRUE(written_.empty());
}

TEST_F(ProtocolHostTest, ReplacedVerdictsAreSentInsteadOfTheRealOnes) {
    host_.ReplaceVerdicts(SP_STATUS_CRC_ERROR, 2);
    for (int i = 0; i < 3; ++i) {
        FromBmc(BmcFrames(Pattern(20)));
    }
    EXPECT_EQ(TakeStatuses(), (std::vector<uint8_t>{7, 7, 0}));
    EXPECT_EQ(delivered_.size(), 1u) << "a message answered with an error goes no further";
    EXPECT_EQ(Count(ExchangeCounter::VerdictsReplaced), 2u);

    host_.ReplaceVerdicts(SP_STATUS_SUCCESS, 1);
    auto frames = BmcFrames(Pattern(20));
    frames[0].back() ^= 0xFF;
    FromBmc(frames);
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(delivered_.size(), 1u) << "a corrupted message is never handed on";
}

TEST_F(ProtocolHostTest, WithheldVerdictsLeaveTheMessageUnanswered) {
    host_.WithholdVerdicts(1);
    FromBmc(BmcFrames(Pattern(20)));
    EXPECT_TRUE(written_.empty());
    EXPECT_TRUE(delivered_.empty());
    FromBmc(BmcFrames(Pattern(20)));
    EXPECT_EQ(TakeStatuses(), std::vector<uint8_t>{0});
    EXPECT_EQ(Count(ExchangeCounter::StatusFramesWithheld), 1u);
}

TEST_F(ProtocolHostTest, ResetForgetsBothDirections) {
    const Bytes incoming = Pattern(3000);
    const auto frames = BmcFrames(incoming);
    host_.OnFrameFromBmc(frames[0]);
    ASSERT_TRUE(host_.Send(Pattern(3000)));
    ASSERT_TRUE(host_.Send(Pattern(10)));
    const auto inMailbox = TakeWritten();
    host_.Reset();
    EXPECT_TRUE(host_.Idle());
    EXPECT_EQ(Count(ExchangeCounter::MessagesDropped), 2u);
    EXPECT_EQ(Count(ExchangeCounter::MessagesAbandoned), 1u);
    FromBmc({frames[1], frames[2]});
    EXPECT_EQ(TakeStatuses(), (std::vector<uint8_t>{8, 8}));

    // A frame written before the restart still occupies the mailbox.
    ASSERT_TRUE(host_.Send({0x42}));
    EXPECT_TRUE(written_.empty());
    host_.OnFrameLeftMailbox(inMailbox.at(0));
    EXPECT_EQ(DrainDataFrames().size(), 1u);
}

TEST_F(ProtocolHostTest, RefusedFrameDropsTheMessage) {
    mailboxOpen_ = false;
    EXPECT_TRUE(host_.Send(Pattern(10)));
    EXPECT_TRUE(host_.Idle());
    EXPECT_EQ(Count(ExchangeCounter::MessagesDropped), 1u);
    mailboxOpen_ = true;
    host_.OnLinkDown();
    EXPECT_TRUE(host_.Send(Pattern(10)));
    EXPECT_EQ(DrainDataFrames().size(), 1u);
}

} // namespace
} // namespace vuno::hostsim
