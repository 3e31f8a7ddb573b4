#include "fake_mctp_service.hpp"
#include "mctp_header.hpp"
#include "platform_context.hpp"
#include "platform_hooks.hpp"
#include "processes.hpp"
#include "run_until.hpp"
#include "stdout_capture.hpp"
#include "steady_wait.hpp"

#include <gtest/gtest.h>

#include <numeric>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::FakeMctpService;
using testing::RunFor;
using testing::RunUntil;

std::vector<uint8_t> Bytes(size_t count, uint8_t first = 0x10) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(VendorHeaderTest, ReplyEchoesTheTagWithoutTheRequestBit) {
    EXPECT_EQ(mctp::ReplyControlByte(0x25), 0x05);
    EXPECT_EQ(mctp::ReplyControlByte(0x9F), 0x1F);
    EXPECT_EQ(mctp::ReplyControlByte(0x00), 0x00);
}

TEST(VendorHeaderTest, WrappingPutsTheHeaderInFront) {
    const auto message = Bytes(7);
    const auto wrapped = mctp::WrapMessage(0x83, message);
    ASSERT_EQ(wrapped.size(), message.size() + 5);
    EXPECT_EQ(wrapped[0], 0x7E);
    EXPECT_EQ(wrapped[1], (ME_VENDOR_ID >> 8) & 0xFF);
    EXPECT_EQ(wrapped[2], ME_VENDOR_ID & 0xFF);
    EXPECT_EQ(wrapped[3], 0x83);
    EXPECT_EQ(wrapped[4], 0x07);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), wrapped.begin() + 5));
}

TEST(VendorHeaderTest, UnwrappingNeedsTheWholeHeader) {
    for (size_t size = 0; size < 5; ++size) {
        EXPECT_FALSE(mctp::UnwrapMessage(Bytes(size)).has_value()) << size;
    }
    const auto headerOnly = mctp::UnwrapMessage(Bytes(5));
    ASSERT_TRUE(headerOnly.has_value());
    EXPECT_TRUE(headerOnly->body.empty());
}

TEST(VendorHeaderTest, UnwrappingSplitsInstanceIdAndBody) {
    auto message = Bytes(12);
    message[3] = 0xA5;
    const auto received = mctp::UnwrapMessage(message);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->instanceId, 0x05);
    ASSERT_EQ(received->body.size(), 7u);
    EXPECT_EQ(received->body.data(), message.data() + 5);
}

// What the transport handed to the library.
struct Delivery {
    vuno_instance *instance;
    bool request;
    uint8_t tag;
    int status;
    bool hasData;
    std::vector<uint8_t> data;
};

class MctpTransportTest : public ::testing::Test {
  protected:
    MctpTransportTest()
        : service(io),
          client(std::make_shared<dbus::BusLoop>(io, sdbus::createSystemBusConnection())),
          platform(client, [this](vuno_instance *instance, bool request, uint8_t tag, int status,
                                  const uint8_t *data, uint32_t length) {
              deliveries.push_back(
                  {instance, request, tag, status, data != nullptr,
                   data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>{}});
          }) {
        platform.instance = fakeInstance;
        client->Start();
    }

    void TearDown() override {
        platform.mctp.Stop();
        RunReadyHandlers(io);
    }

    // Sends one message as the library would and waits for the service to
    // have seen it.
    void Send(bool request, uint8_t tag, const std::vector<uint8_t> &message) {
        const size_t before = service.Sends().size();
        ASSERT_EQ(platform::MctpSend(&platform, request, tag, message.data(),
                                     static_cast<uint32_t>(message.size())),
                  0);
        ASSERT_TRUE(RunUntil(io, [&] { return service.Sends().size() > before; }));
    }

    bool WaitForDeliveries(size_t count) {
        return RunUntil(io, [&] { return deliveries.size() >= count; });
    }

    void ExpectFailureReported() {
        ASSERT_TRUE(WaitForDeliveries(1));
        const Delivery &failure = deliveries.back();
        EXPECT_EQ(failure.instance, fakeInstance);
        EXPECT_FALSE(failure.request);
        EXPECT_EQ(failure.tag, 0);
        EXPECT_EQ(failure.status, 1);
        EXPECT_FALSE(failure.hasData);
    }

    vuno_instance *const fakeInstance = reinterpret_cast<vuno_instance *>(0x1000);
    testing::PrivateBus privateBus;
    boost::asio::io_context io;
    FakeMctpService service;
    std::shared_ptr<dbus::BusLoop> client;
    std::vector<Delivery> deliveries;
    PlatformContext platform;
};

TEST_F(MctpTransportTest, RequestsCarryRisingInstanceIdsThatWrapAfter32) {
    service.AnswerWith(0, Bytes(7));
    for (int i = 0; i < 33; ++i) {
        Send(true, 0x1F, Bytes(3));
    }
    ASSERT_EQ(service.Sends().size(), 33u);
    for (size_t i = 0; i < 33; ++i) {
        EXPECT_EQ(service.Sends()[i].payload.at(3), 0x80 | (i % 32)) << "request " << i + 1;
        EXPECT_EQ(service.Sends()[i].eid, 8);
        EXPECT_EQ(service.Sends()[i].request, 1);
    }
    EXPECT_EQ(service.Sends()[32].payload[3], 0x80);
}

TEST_F(MctpTransportTest, RequestGainsTheHeaderAndItsResponseLosesIt) {
    const auto response = Bytes(9, 0x40);
    service.AnswerWith(0, response);
    const auto message = Bytes(6);
    Send(true, 0, message);
    ASSERT_EQ(service.Sends()[0].payload, mctp::WrapMessage(0x80, message));

    ASSERT_TRUE(WaitForDeliveries(1));
    const Delivery &delivered = deliveries[0];
    EXPECT_EQ(delivered.instance, fakeInstance);
    EXPECT_FALSE(delivered.request);
    EXPECT_EQ(delivered.tag, 0);
    EXPECT_EQ(delivered.status, 0);
    EXPECT_EQ(delivered.data, std::vector<uint8_t>(response.begin() + 5, response.end()));
}

TEST_F(MctpTransportTest, MessageIsCopiedBeforeMctpSendReturns) {
    std::vector<uint8_t> message = Bytes(4);
    const auto original = message;
    ASSERT_EQ(platform::MctpSend(&platform, true, 0, message.data(), 4), 0);
    std::fill(message.begin(), message.end(), 0xEE);
    ASSERT_TRUE(RunUntil(io, [&] { return !service.Sends().empty(); }));
    EXPECT_EQ(service.Sends()[0].payload, mctp::WrapMessage(0x80, original));
}

TEST_F(MctpTransportTest, MeRequestReachesTheLibraryAndItsReplyEchoesTheTag) {
    auto fromMe = Bytes(11);
    fromMe[3] = 0x25;
    service.EmitReceived(fromMe);
    ASSERT_TRUE(WaitForDeliveries(1));
    EXPECT_TRUE(deliveries[0].request);
    EXPECT_EQ(deliveries[0].tag, 0x05);
    EXPECT_EQ(deliveries[0].status, 0);
    EXPECT_EQ(deliveries[0].data, std::vector<uint8_t>(fromMe.begin() + 5, fromMe.end()));

    service.AnswerWith(0, {});
    Send(false, deliveries[0].tag, {0x01, 0x05});
    const testing::RecordedSend &reply = service.Sends().back();
    EXPECT_EQ(reply.request, 0);
    EXPECT_EQ(reply.payload, mctp::WrapMessage(0x05, std::vector<uint8_t>{0x01, 0x05}));

    // A reply expects no answer: the next request's outcome is the only
    // delivery that follows.
    service.AnswerWith(0, Bytes(6));
    Send(true, 0, {0x02});
    ASSERT_TRUE(WaitForDeliveries(2));
    RunFor(io, 50ms);
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].data, std::vector<uint8_t>{0x15});
    // Replies leave the instance ID alone.
    EXPECT_EQ(service.Sends().back().payload[3], 0x80);
}

struct FailureCase {
    const char *name;
    bool request;
    int32_t status;
    size_t responseSize;
    const char *error;
};

class MctpFailureTest : public MctpTransportTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MctpFailureTest, ExchangeFailureIsReportedAsStatusOne) {
    const FailureCase &c = GetParam();
    if (c.error != nullptr) {
        service.FailWith(c.error);
    } else {
        service.AnswerWith(c.status, Bytes(c.responseSize));
    }
    Send(c.request, 3, Bytes(4));
    ExpectFailureReported();
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, MctpFailureTest,
    ::testing::Values(FailureCase{"RequestStatusMinusOne", true, -1, 8, nullptr},
                      FailureCase{"ReplyStatusMinusOne", false, -1, 0, nullptr},
                      FailureCase{"ResponseShorterThanHeader", true, 0, 4, nullptr},
                      FailureCase{"DBusError", true, 0, 0, "org.freedesktop.DBus.Error.Failed"},
                      FailureCase{"ReplyDBusError", false, 0, 0,
                                  "org.freedesktop.DBus.Error.Failed"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MctpTransportWithoutServiceTest, MissingServiceIsAFailedExchange) {
    testing::PrivateBus privateBus; // nobody serves MCTP here
    boost::asio::io_context io;
    auto bus = std::make_shared<dbus::BusLoop>(io, sdbus::createSystemBusConnection());
    std::vector<int> statuses;
    const std::optional<vuno_instance *> instance = reinterpret_cast<vuno_instance *>(0x1000);
    MCTPInterface mctp(bus, instance,
                       [&](vuno_instance *, bool, uint8_t, int status, const uint8_t *, uint32_t) {
                           statuses.push_back(status);
                       });
    bus->Start();
    const uint8_t message[] = {1, 2, 3};
    mctp.SendMctpMessage(true, 0, message, sizeof message);
    ASSERT_TRUE(RunUntil(io, [&] { return !statuses.empty(); }));
    EXPECT_EQ(statuses, std::vector<int>{1});
    mctp.Stop();
    RunReadyHandlers(io);
}

TEST_F(MctpTransportTest, MalformedSignalsAreDroppedAndLaterOnesStillArrive) {
    testing::StdoutCapture capture;
    service.EmitReceivedWithoutArguments();
    service.EmitReceivedWithNumber(7);
    service.EmitReceived(Bytes(4));
    auto good = Bytes(5);
    good[3] = 0x81;
    service.EmitReceived(good);
    ASSERT_TRUE(WaitForDeliveries(1));
    RunFor(io, 50ms);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_TRUE(deliveries[0].request);
    EXPECT_EQ(deliveries[0].tag, 0x01);
    EXPECT_FALSE(deliveries[0].hasData);
    EXPECT_EQ(deliveries[0].data.size(), 0u);
    const std::string text = capture.Text();
    size_t dropped = 0;
    for (size_t at = text.find("dropped"); at != std::string::npos;
         at = text.find("dropped", at + 1)) {
        ++dropped;
    }
    EXPECT_EQ(dropped, 3u) << text;
}

TEST_F(MctpTransportTest, NothingReachesTheLibraryAfterStop) {
    service.Hold();
    Send(true, 0, Bytes(3));
    platform.mctp.Stop();
    service.Release();
    auto fromMe = Bytes(9);
    service.EmitReceived(fromMe);
    RunFor(io, 100ms);
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(MctpTransportTest, NothingReachesAMissingLibrary) {
    platform.instance.reset();
    service.AnswerWith(0, Bytes(8));
    Send(true, 0, Bytes(3));
    service.AnswerWith(-1, {});
    Send(true, 0, Bytes(3));
    service.EmitReceived(Bytes(9));
    RunFor(io, 100ms);
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(MctpTransportTest, PendingExchangesAreDroppedWithTheTransport) {
    service.Hold();
    {
        const std::optional<vuno_instance *> instance = fakeInstance;
        MCTPInterface mctp(client, instance,
                           [&](vuno_instance *, bool, uint8_t, int, const uint8_t *, uint32_t) {
                               ADD_FAILURE() << "delivered after the transport was destroyed";
                           });
        const uint8_t message[] = {1};
        mctp.SendMctpMessage(true, 0, message, sizeof message);
        mctp.SendMctpMessage(false, 2, message, sizeof message);
        ASSERT_TRUE(RunUntil(io, [&] { return service.Sends().size() == 2; }));
    }
    service.Release();
    RunFor(io, 50ms);
}

TEST_F(MctpTransportTest, TimerHooksRunTheHandlerOnTheLoopUntilDestroyed) {
    testing::StdoutCapture capture;
    int calls = 0;
    void *timer = platform::TimerCreate(
        &platform, &calls, [](void *counter) { ++*static_cast<int *>(counter); }, 1);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(RunUntil(io, [&] { return calls == 1; }));
    platform::TimerDestroy(timer);
    RunFor(io, 1100ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(capture.Text(), "Timer create\nTimer cancel\n");
}

} // namespace
} // namespace vuno
