#include "simulator_fixture.hpp"

namespace vuno::hostsim::testing {
namespace {

constexpr uint8_t kVendorHigh = kMeVendorId >> 8;
constexpr uint8_t kVendorLow = kMeVendorId & 0xFF;

class MctpServiceTest : public SimulatorTest {
  protected:
    void SetUp() override { Start(); }
};

struct MalformedCase {
    const char *name;
    uint8_t endpoint;
    uint8_t requestFlag;
    Bytes payload;
    int32_t status;
};

TEST_F(MctpServiceTest, MalformedTrafficIsRefusedCountedAndKeptFromTheMe) {
    const Bytes connect = ConnectRequest(kDefaultLiveLocation);
    auto request = [&connect](Bytes header) {
        header.insert(header.end(), connect.begin(), connect.end());
        return header;
    };
    const MalformedCase cases[] = {
        {"empty", 8, 1, {}, kMctpInvalidMessage},
        {"four bytes", 8, 1, {0x7E, kVendorHigh, kVendorLow, 0x80}, kMctpInvalidMessage},
        {"wrong type", 8, 1, request({0x7F, kVendorHigh, kVendorLow, 0x80, 0x07}),
         kMctpInvalidMessage},
        {"wrong vendor high byte", 8, 1,
         request({0x7E, uint8_t(kVendorHigh ^ 0x01), kVendorLow, 0x80, 0x07}), kMctpInvalidMessage},
        {"wrong vendor low byte", 8, 1,
         request({0x7E, kVendorHigh, uint8_t(kVendorLow ^ 0x80), 0x80, 0x07}), kMctpInvalidMessage},
        {"wrong last byte", 8, 1, request({0x7E, kVendorHigh, kVendorLow, 0x80, 0x06}),
         kMctpInvalidMessage},
        {"request without request bit", 8, 1, request({0x7E, kVendorHigh, kVendorLow, 0x00, 0x07}),
         kMctpInvalidMessage},
        {"reserved instance bits", 8, 1, request({0x7E, kVendorHigh, kVendorLow, 0xA0, 0x07}),
         kMctpInvalidMessage},
        {"reply with request bit",
         8,
         0,
         {0x7E, kVendorHigh, kVendorLow, 0x80, 0x07, 0x01, 0x05},
         kMctpInvalidMessage},
        {"request flag 2", 8, 2, request({0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}),
         kMctpInvalidMessage},
        {"header only", 8, 1, {0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}, kMctpInvalidMessage},
        {"other endpoint", 9, 1, request({0x7E, kVendorHigh, kVendorLow, 0x80, 0x07}),
         kMctpNoRoute},
    };
    uint64_t refused = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const MctpResult result = Send(c.endpoint, c.requestFlag, c.payload).value();
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.message.empty());
        EXPECT_EQ(Count(Counter::MalformedMessages), ++refused);
    }
    EXPECT_EQ(Count(Counter::ConnectRequests), 0u);
    EXPECT_FALSE(Sim().Me().Connected());
}

TEST_F(MctpServiceTest, ResponseCarriesReplyHeaderWithTheRequestsInstanceId) {
    const MctpResult result = Request(ConnectRequest(kDefaultLiveLocation), 0x15);
    EXPECT_EQ(result.status, kMctpSuccess);
    EXPECT_EQ(result.message, (Bytes{0x7E, kVendorHigh, kVendorLow, 0x15, 0x07, 0x02, 0x00}));
    EXPECT_EQ(Count(Counter::MalformedMessages), 0u);
}

TEST_F(MctpServiceTest, MeRequestsGoOutWithRequestHeader) {
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0xAA}));
    Sim().Advance(Duration{0});
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0],
              (Bytes{0x7E, kVendorHigh, kVendorLow, 0x80, 0x07, 0x01, 0, 0, 0, 1, 0xAA}));
}

TEST_F(MctpServiceTest, ReplyIsAcceptedWithEmptyAnswerAndMatchedByTag) {
    ASSERT_TRUE(Sim().Me().InjectFrame(Bytes{0xAA}));
    Sim().Advance(Duration{0});
    ReplyToMe(0x01, MeResponse(me::kTransferData, me::kDataReceived));
    EXPECT_EQ(Count(Counter::UnmatchedMeReplies), 1u);
    ReplyToMe(0x00, MeResponse(me::kTransferData, me::kDataReceived));
    EXPECT_EQ(Count(Counter::MeRepliesReceived), 1u);
    EXPECT_EQ(Count(Counter::BadMeReplies), 0u);
}

} // namespace
} // namespace vuno::hostsim::testing
