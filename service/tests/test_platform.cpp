// The library's platform callbacks: log lines and the MCTP
// transport against a stand-in for the platform's MCTP service on a private
// bus, with what the transport hands to the library recorded.
#include "platform_context.hpp"
#include "platform_hooks.hpp"
#include "processes.hpp"
#include "steady_wait.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>
#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>
#include <sdbus-c++/MethodResult.h>

#include <numeric>
#include <optional>
#include <tuple>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using testing::RunFor;
using testing::RunUntil;
using testing::StdoutCapture;
using Bytes = std::vector<uint8_t>;

TEST(PlatformHooks, LogKeepsLongLinesWholeAndTheFilesLastComponent) {
    const std::string text(100000, 'q');
    StdoutCapture capture;
    platform::Log(0, "a/dir/", 1, "<%s|%s>", text.c_str(), text.c_str());
    EXPECT_EQ(capture.Text(), "[DEBUG] (:1): <" + text + "|" + text + ">\n");
}

constexpr char kInterface[] = "xyz.openbmc_project.mctp";
constexpr char kSignal[] = "mctpMessageReceived";

// Records the payload of every sendMessage call, answers as told (or holds the answers),
// and emits mctpMessageReceived.
class FakeMctpService {
  public:
    using Reply = sdbus::Result<sdbus::Struct<int32_t, Bytes>>;

    explicit FakeMctpService(boost::asio::io_context &io)
        : bus(std::make_shared<dbus::BusLoop>(
              io, sdbus::createSystemBusConnection("xyz.openbmc_project.MCTP"))),
          object(sdbus::createObject(bus->Connection(), "/xyz/openbmc_project/MCTP")) {
        object->registerMethod("sendMessage")
            .onInterface(kInterface)
            .implementedAs([this](Reply &&reply, uint8_t, uint8_t, const Bytes &payload) {
                sends.push_back(payload);
                held.push_back(std::move(reply));
                if (!holding) {
                    Release();
                }
            });
        object->registerSignal(kSignal).onInterface(kInterface).withParameters<Bytes>();
        object->finishRegistration();
        bus->Start();
    }

    void Release() {
        for (const Reply &reply : held) {
            if (error) {
                reply.returnError(sdbus::Error("org.freedesktop.DBus.Error.Failed", "refused"));
            } else {
                reply.returnResults({status, response});
            }
        }
        held.clear();
        bus->Rearm();
    }

    template <typename... Arguments> void Emit(const Arguments &...arguments) {
        auto signal = object->createSignal(kInterface, kSignal);
        ((signal << arguments), ...);
        object->emitSignal(signal);
        bus->Rearm();
    }

    std::shared_ptr<dbus::BusLoop> bus;
    std::unique_ptr<sdbus::IObject> object;
    int32_t status = 0;
    Bytes response;
    bool error = false;
    bool holding = false;
    std::vector<Reply> held;
    std::vector<Bytes> sends;
};

// What the transport handed to the library.
struct Delivery {
    vuno_instance *instance;
    bool request;
    uint8_t tag;
    int status;
    std::optional<Bytes> data;
    bool operator==(const Delivery &) const = default;
};

vuno_instance *const kInstance = reinterpret_cast<vuno_instance *>(0x1000);

Bytes Counting(size_t count) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0x10});
    return bytes;
}

class MctpTransportTest : public ::testing::Test {
  protected:
    MctpTransportTest()
        : service(io),
          client(std::make_shared<dbus::BusLoop>(io, sdbus::createSystemBusConnection())),
          platform(client, [this](vuno_instance *instance, bool request, uint8_t tag, int status,
                                  const uint8_t *data, uint32_t length) {
              deliveries.push_back(
                  {instance, request, tag, status,
                   data ? std::optional(Bytes(data, data + length)) : std::nullopt});
          }) {
        platform.instance = kInstance;
        client->Start();
    }

    ~MctpTransportTest() override {
        platform.mctp.Stop();
        RunReadyHandlers(io);
    }

    // Sends as the library does, with a buffer it reuses at once.
    void Send(bool request, uint8_t tag, Bytes message) {
        const size_t before = service.sends.size();
        ASSERT_EQ(platform::MctpSend(&platform, request, tag, message.data(),
                                     static_cast<uint32_t>(message.size())),
                  0);
        std::fill(message.begin(), message.end(), 0xEE);
        ASSERT_TRUE(RunUntil(io, [&] { return service.sends.size() > before; }));
    }

    bool WaitForDeliveries(size_t count) {
        return RunUntil(io, [&] { return deliveries.size() >= count; });
    }

    testing::PrivateBus privateBus;
    boost::asio::io_context io;
    FakeMctpService service;
    std::shared_ptr<dbus::BusLoop> client;
    std::vector<Delivery> deliveries;
    PlatformContext platform;
};

TEST_F(MctpTransportTest, EveryFailedExchangeIsReportedAsStatusOneWithoutData) {
    // Request flag, status, response size, refused with a D-Bus error.
    const std::vector<std::tuple<bool, int32_t, size_t, bool>> cases{
        {true, -1, 8, false}, {false, -1, 0, false}, {true, 0, 4, false}, {true, 0, 0, true}};
    for (const auto &[request, status, responseSize, error] : cases) {
        service.status = status;
        service.response = Counting(responseSize);
        service.error = error;
        deliveries.clear();
        Send(request, 3, Counting(4));
        ASSERT_TRUE(WaitForDeliveries(1));
        EXPECT_EQ(deliveries[0], (Delivery{kInstance, false, 0, 1, std::nullopt}));
        EXPECT_EQ(Bytes(service.sends.back().end() - 4, service.sends.back().end()), Counting(4))
            << "the message was taken before the library reused its buffer";
    }
}

TEST_F(MctpTransportTest, MalformedSignalsAreDroppedAndLaterOnesStillArrive) {
    StdoutCapture quiet;
    service.Emit();
    service.Emit(uint32_t{7});
    service.Emit(Counting(4));
    Bytes headerOnly = Counting(5);
    headerOnly[3] = 0x81;
    service.Emit(headerOnly);
    ASSERT_TRUE(WaitForDeliveries(1));
    RunFor(io, 50ms);
    EXPECT_EQ(deliveries, (std::vector<Delivery>{{kInstance, true, 0x01, 0, std::nullopt}}));
}

TEST_F(MctpTransportTest, ExchangesAreDroppedWithTheTransportAndOnceItStopped) {
    service.holding = true;
    {
        const std::optional<vuno_instance *> instance = kInstance;
        MCTPInterface destroyed(client, instance, [](auto...) { ADD_FAILURE() << "delivered"; });
        const uint8_t message = 1;
        destroyed.SendMctpMessage(true, 0, &message, 1);
        ASSERT_TRUE(RunUntil(io, [&] { return service.sends.size() == 1; }));
    }
    Send(true, 0, Counting(3));
    platform.mctp.Stop();
    service.Release();
    service.Emit(Counting(9));
    RunFor(io, 100ms);
    EXPECT_TRUE(deliveries.empty());
}

} // namespace
} // namespace vuno
