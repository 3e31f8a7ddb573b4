// The simulator as the BMC's peer: the MCTP service, the ME's answers and
// relaying, the host's Status Frames, framing and heartbeats, seen from the
// BMC's side of the MCTP service.
#include "me_messages.hpp"
#include "simulator.hpp"
#include "ssi_executor.hpp"
#include "vendor_header.hpp"
#include "wire.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>

namespace vuno::hostsim {
namespace {

// Connect requests for 0x05000000, the live location, and 0x05005000.
const Bytes kConnectLive{me::kConnect, 0x00, 0x00, 0x05};
const Bytes kConnectDead{me::kConnect, 0x00, 0x50, 0x05};
constexpr uint32_t kDeadLocation = 0x05005000;

// A whole message of the BMC as its frames.
std::vector<Bytes> MessageFrames(const Bytes &message) {
    const auto total = static_cast<uint32_t>(message.size());
    sp::FirstHeader header{sp::kServiceIdSsi, 0, total, 0};
    header.crc = sp::MessageCrc(header, message);
    const ByteView all(message);
    const size_t first = std::min<size_t>(total, sp::kFirstPartMax);
    std::vector<Bytes> frames{sp::FirstFrame(header, all.first(first))};
    for (size_t at = first; at < total; at += sp::kNextPartMax) {
        const size_t part = std::min<size_t>(total - at, sp::kNextPartMax);
        frames.push_back(
            sp::LaterFrame(static_cast<uint16_t>(frames.size()), all.subspan(at, part)));
    }
    return frames;
}

constexpr uint8_t kVendorHigh = kMeVendorId >> 8;
constexpr uint8_t kVendorLow = kMeVendorId & 0xFF;
constexpr Duration kPeriod{500};

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{7});
    return bytes;
}

Bytes SsiRequest(uint8_t identifier, const Bytes &payload) {
    Bytes message{static_cast<uint8_t>(identifier << 3), 10, 0, 0, 0, 0};
    PutLe32(&message[2], static_cast<uint32_t>(payload.size()));
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

// Answers every command with as many bytes as its payload names.
class SizedAnswers : public CommandHandler {
  public:
    void Handle(uint8_t, ByteView payload, Responder respond) override {
        respond({0, Pattern(payload.size() == 4 ? GetLe32(payload.data()) : 0)});
    }
};

// A request whose response message is `size` bytes.
std::vector<Bytes> RequestFor(size_t size) {
    Bytes payload(4);
    PutLe32(payload.data(), static_cast<uint32_t>(size - kSsiResponseHeaderSize));
    return MessageFrames(SsiRequest(3, payload));
}

TEST(WireTest, Crc32cMatchesThePublishedCheckValueAndChains) {
    const std::string check = "123456789";
    const ByteView bytes(reinterpret_cast<const uint8_t *>(check.data()), check.size());
    EXPECT_EQ(Crc32c(bytes), 0xE3069283u);
    EXPECT_EQ(Crc32c(bytes.subspan(4), Crc32c(bytes.first(4))), 0xE3069283u);
}

TEST(WireTest, OneByteMessageIsTheGoldenFrame) {
    const Bytes golden{0x01, 0, 0, 0x01, 0, 0x01, 0, 0, 0, 0xCE, 0x09, 0x8E, 0x7A, 0x41};
    EXPECT_EQ(MessageFrames({0x41}), std::vector<Bytes>{golden});
}

// The BMC's side is played by the test: what the MCTP service publishes
// is collected, and helpers send what a BMC would send.
class PeerTest : public ::testing::Test {
  protected:
    PeerTest() {
        Settings settings;
        settings.heartbeats.enabled = false; // keeps the relay to what the tests cause
        settings.heartbeats.period = kPeriod;
        simulator_ = std::make_unique<Simulator>(
            settings, [this](const Bytes &message) { received_.push_back(message); },
            [](const std::string &) {});
        Sim().SetCommandHandler(std::make_unique<SizedAnswers>());
    }

    Simulator &Sim() { return *simulator_; }
    uint64_t Count(ExchangeCounter counter) { return simulator_->Host().Counters().Value(counter); }

    // The answer to a message, or nothing while the ME holds it back.
    std::optional<MctpResult> Send(uint8_t endpoint, uint8_t requestFlag, ByteView payload) {
        std::optional<MctpResult> answer;
        simulator_->Mctp().SendMessage(endpoint, requestFlag, payload,
                                       [&answer](const MctpResult &result) { answer = result; });
        return answer;
    }

    // The ME's status byte in its response to `request`.
    uint8_t MeStatus(const Bytes &request) {
        const auto result = Send(kMeEndpointId, 1, WithVendorHeader(true, 0, request));
        const Bytes header = WithVendorHeader(false, 0, Bytes{request.at(0)});
        if (!result || result->status != kMctpSuccess ||
            result->message.size() != header.size() + 1 ||
            !std::equal(header.begin(), header.end(), result->message.begin())) {
            ADD_FAILURE() << "no response to " << int(request.at(0));
            return 0xFF;
        }
        return result->message.back();
    }

    void Connect() { ASSERT_EQ(MeStatus(kConnectLive), me::kConnected); }

    // Writes frames to the host's mailbox through the ME.
    void ToHost(const std::vector<Bytes> &frames) {
        for (const Bytes &frame : frames) {
            EXPECT_EQ(MeStatus(TransferDataRequest(frame)), me::kDataSent);
        }
    }

    // Answers the one ME request waiting as a correct BMC would and
    // returns the frame it carried.
    Bytes AcceptNextFrame() {
        if (received_.size() != 1) {
            ADD_FAILURE() << received_.size() << " ME requests waiting, expected 1";
            return {};
        }
        const Bytes request = std::exchange(received_, {})[0];
        EXPECT_EQ(VendorHeaderProblem(request, true), nullptr);
        const Bytes reply = MeResponse(me::kTransferData, me::kDataReceived);
        const auto result =
            Send(kMeEndpointId, 0, WithVendorHeader(false, InstanceId(request), reply));
        EXPECT_TRUE(result && result->status == kMctpSuccess && result->message.empty());
        return Bytes(request.begin() + kVendorHeaderSize + kTransferDataHeaderSize, request.end());
    }

    // Every frame the host writes from now until it waits for the BMC.
    std::vector<Bytes> FramesFromHost() {
        std::vector<Bytes> frames;
        for (Sim().Advance(Duration{0}); !received_.empty(); Sim().Advance(Duration{0})) {
            frames.push_back(AcceptNextFrame());
        }
        return frames;
    }

    std::unique_ptr<Simulator> simulator_;
    std::vector<Bytes> received_;
};

TEST_F(PeerTest, MctpServiceRefusesWhatTheMeCannotTake) {
    auto request = [](Bytes header) {
        header.insert(header.end(), kConnectLive.begin(), kConnectLive.end());
        return header;
    };
    const struct {
        uint8_t endpoint;
        uint8_t requestFlag;
        Bytes payload;
        int32_t status;
    } cases[] = {
        {8, 1, {}, kMctpInvalidMessage},
        {8, 1, request({0x7F, kVendorHigh, kVendorLow, 0x80, 0x07}), kMctpInvalidMessage},
        {8, 1, request({0x7E, kVendorHigh, kVendorLow, 0, 0x07}), kMctpInvalidMessage},
        {8, 2, request({0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}), kMctpInvalidMessage},
        {8, 1, {0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}, kMctpInvalidMessage},
        {9, 1, request({0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}), kMctpNoRoute},
    };
    for (const auto &c : cases) {
        const auto result = Send(c.endpoint, c.requestFlag, c.payload);
        EXPECT_TRUE(result && result->status == c.status && result->message.empty())
            << testing::PrintToString(c.payload);
    }
    EXPECT_EQ(Sim().Me().ConnectAttempts().size(), 0u);
    EXPECT_EQ(Send(kMeEndpointId, 1, WithVendorHeader(true, 0x15, kConnectLive))->message,
              (Bytes{0x7E, kVendorHigh, kVendorLow, 0x15, 0x07, 0x02, 0x00}));
}

TEST_F(PeerTest, MeAnswersByCommandLocationAndLinkState) {
    const Bytes transfer = TransferDataRequest(Bytes{0x02, 0x00});
    const struct {
        Bytes request;
        uint8_t status;
    } steps[] = {
        {transfer, me::kNotConnected},
        {{me::kDisconnect}, me::kNotConnected},
        {kConnectDead, me::kConnectFailed},
        {kConnectLive, me::kConnected},
        {kConnectDead, me::kAlreadyConnected},
        {{0x01, 0, 0, 0, 0}, me::kInvalidLength},
        {{0x01, 0, 0, 0, 3, 0xAA, 0xBB}, me::kInvalidLength},
        {TransferDataRequest(Bytes(1015, 0x01)), me::kInvalidLength},
        {{me::kConnect, 0x00, 0x00}, me::kInvalidLength},
        {{0x05, 0x00}, me::kUnexpectedCommand},
        {transfer, me::kDataSent},
        {{me::kForceDisconnect}, me::kDisconnected},
    };
    for (const auto &step : steps) {
        EXPECT_EQ(MeStatus(step.request), step.status) << testing::PrintToString(step.request);
    }
    EXPECT_EQ(Sim().Me().ConnectAttempts(),
              (std::vector<uint32_t>{kDeadLocation, kDefaultLiveLocation, kDeadLocation}));
    EXPECT_EQ(Count(ExchangeCounter::StatusFramesReceived), 1u) << "one frame reached the host";
    Sim().Me().SetResponseMode(ResponseMode::Drop, 1);
    EXPECT_EQ(Send(kMeEndpointId, 1, WithVendorHeader(true, 0, kConnectLive))->status,
              kMctpNoResponse);
    Sim().Me().SetResponseMode(ResponseMode::Refuse, 1);
    EXPECT_EQ(MeStatus(kConnectLive), me::kBusy);
    EXPECT_FALSE(Sim().Me().Connected());
}

TEST_F(PeerTest, HostFramesGoOutOneAtATimeAndDieWithTheLink) {
    Connect();
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0x01}));
    ASSERT_TRUE(Sim().Me().RelayFromHost(Bytes{0x02}));
    ASSERT_TRUE(Sim().Me().RelayFromHost(Bytes{0x03}));
    Sim().Advance(Duration{0});
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0][3], 0x80) << "instance ID 0, request bit";
    // An unanswered request holds the rest back until the ME gives up.
    received_.clear();
    Sim().Advance(kBmcReplyWait - Duration{1});
    EXPECT_TRUE(received_.empty());
    Sim().Advance(Duration{1});
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0][3], 0x81);
    EXPECT_EQ(AcceptNextFrame(), Bytes{0x02});
    EXPECT_EQ(MeStatus(Bytes{me::kDisconnect}), me::kDisconnected);
    Sim().Advance(kBmcReplyWait);
    EXPECT_TRUE(received_.empty()) << "the host's frame went with the link";
    EXPECT_FALSE(Sim().Me().RelayFromHost(Bytes{0x04}));
}

TEST_F(PeerTest, HeldTransferAnswerFollowsTheHostsReply) {
    Connect();
    constexpr Duration kDelay{300};
    Sim().Me().SetTransferAnswerDelay(kDelay);
    // Data Frame [0] of a message for an unknown service: the host answers
    // it at once with a Status Frame of its own.
    const Bytes frame{0x01, 0, 0, 0x02, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xAA};
    const auto answer = std::make_shared<std::optional<MctpResult>>();
    Sim().Mctp().SendMessage(kMeEndpointId, 1,
                             WithVendorHeader(true, 3, TransferDataRequest(frame)),
                             [answer](const MctpResult &result) { *answer = result; });
    EXPECT_FALSE(*answer);
    EXPECT_EQ(FramesFromHost(), std::vector<Bytes>{sp::StatusFrame(sp::kInvalidServiceId)});
    Sim().Advance(kDelay - Duration{1});
    EXPECT_FALSE(*answer);
    Sim().Advance(Duration{1});
    ASSERT_TRUE(*answer);
    EXPECT_EQ((*answer)->message,
              WithVendorHeader(false, 3, MeResponse(me::kTransferData, me::kDataSent)));
}

TEST_F(PeerTest, RequestIsAcknowledgedThenAnsweredFrameByFrame) {
    Connect();
    // 2012 bytes fill two frames exactly; one more needs a third.
    for (const auto &[size, expected] : std::vector<std::pair<size_t, std::vector<size_t>>>{
             {8, {21}}, {2012, {1014, 1014}}, {2013, {1014, 1014, 4}}}) {
        SCOPED_TRACE(size);
        ToHost(RequestFor(size));
        const std::vector<Bytes> frames = FramesFromHost();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0], sp::StatusFrame(sp::kSuccess)) << "the verdict comes first";
        Bytes message;
        std::vector<size_t> sizes;
        for (size_t i = 1; i < frames.size(); ++i) {
            sizes.push_back(frames[i].size());
            const size_t header = i == 1 ? sp::kFirstHeaderSize : sp::kNextHeaderSize;
            EXPECT_EQ(sp::FrameIndex(frames[i]), i - 1);
            message.insert(message.end(), frames[i].begin() + header, frames[i].end());
        }
        EXPECT_EQ(sizes, expected);
        const sp::FirstHeader header = sp::ReadFirstHeader(frames.at(1));
        EXPECT_EQ(header.total, size);
        EXPECT_EQ(header.crc, sp::MessageCrc(header, message));
        EXPECT_EQ(message[0], 3 << 3 | 1) << "identifier echoed, type response";
        ToHost({sp::StatusFrame(sp::kSuccess)});
    }
    EXPECT_EQ(Count(ExchangeCounter::MessagesDelivered), 3u);
}

TEST_F(PeerTest, FaultyFramesAreAnsweredWithTheirStatus) {
    Connect();
    const std::vector<Bytes> two = MessageFrames(SsiRequest(1, Pattern(1006 - 6)));
    Bytes corrupt = MessageFrames(SsiRequest(1, {}))[0];
    corrupt.back() ^= 0x01;
    const struct {
        const char *name;
        std::vector<Bytes> frames;
        uint8_t status;
    } cases[] = {
        {"Data Frame of 2 bytes", {{0x01, 0x00}}, sp::kInvalidFrameSize},
        {"message ID 1", {{0x05, 0x00, 0x00, 0x01}}, sp::kInvalidMessageId},
        {"total 0", {sp::FirstFrame({sp::kServiceIdSsi, 0, 0, 0}, {})}, sp::kInvalidTotalBytes},
        {"first part over the total",
         {sp::FirstFrame({1, 0, 1, 0}, Bytes{1, 2})},
         sp::kInvalidFrameSize},
        {"later frame alone", {two[1]}, sp::kNoResources},
        {"later frame beyond the total",
         {two[0], sp::LaterFrame(1, Bytes(6))},
         sp::kSizeExceedsTotal},
        {"index 2 after index 0", {two[0], sp::LaterFrame(2, Bytes{1})}, sp::kInvalidSequence},
        {"checksum mismatch", {corrupt}, sp::kCrcError},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ToHost(c.frames);
        EXPECT_EQ(FramesFromHost(), std::vector<Bytes>{sp::StatusFrame(c.status)});
    }
    EXPECT_EQ(Count(ExchangeCounter::MessagesReceived), 0u);
    ToHost(two);
    EXPECT_EQ(FramesFromHost().at(0), sp::StatusFrame(sp::kSuccess)) << "still listening";
}

TEST_F(PeerTest, CrcErrorResendsTheWholeMessageUntilTheLimit) {
    Connect();
    ToHost(RequestFor(2013));
    std::vector<Bytes> first = FramesFromHost();
    first.erase(first.begin());
    for (int resend = 0; resend < kMaxRetransmissions; ++resend) {
        ToHost({sp::StatusFrame(sp::kCrcError)});
        EXPECT_EQ(FramesFromHost(), first) << "resend " << resend;
    }
    ToHost({sp::StatusFrame(sp::kCrcError)});
    EXPECT_TRUE(FramesFromHost().empty());
    EXPECT_EQ(Count(ExchangeCounter::MessagesRejected), 1u);
}

TEST_F(PeerTest, HeartbeatsStartWithTheLinkFollowThePeriodAndEndWithIt) {
    Sim().Host().ResumeHeartbeats();
    Sim().Advance(kPeriod * 2);
    EXPECT_TRUE(received_.empty()) << "no link, no heartbeats";
    Connect();
    EXPECT_EQ(FramesFromHost(), std::vector<Bytes>{sp::HeartbeatFrame(1)});
    Sim().Advance(kPeriod - Duration{1});
    EXPECT_TRUE(received_.empty());
    Sim().Advance(Duration{1});
    EXPECT_EQ(FramesFromHost(), std::vector<Bytes>{sp::HeartbeatFrame(2)});
    EXPECT_EQ(MeStatus(Bytes{me::kDisconnect}), me::kDisconnected);
    Sim().Advance(kPeriod * 2);
    EXPECT_TRUE(received_.empty());
}

} // namespace
} // namespace vuno::hostsim
