// vuno-hostsim on a private system bus, seen by a client: the MCTP
// service answers `sendMessage`, the ME's requests arrive as signals, and
// the control interface reports and refuses as it should.
#include "control_object.hpp"
#include "mctp_object.hpp"
#include "processes.hpp"
#include "vendor_header.hpp"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <signal.h>

#include <condition_variable>
#include <mutex>

namespace vuno::hostsim {
namespace {

using namespace std::chrono_literals;
using vuno::testing::BuiltProgram;
using vuno::testing::ChildProcess;
using vuno::testing::PrivateBus;

const std::string kVendorHigh = std::to_string(kMeVendorId >> 8);
const std::string kVendorLow = std::to_string(kMeVendorId & 0xFF);

// Collects mctpMessageReceived signals on a connection of its own.
class SignalWatcher {
  public:
    SignalWatcher() : connection_(sdbus::createSystemBusConnection()) {
        proxy_ = sdbus::createProxy(*connection_, dbus::kMctpServiceName, dbus::kMctpObjectPath);
        proxy_->uponSignal("mctpMessageReceived")
            .onInterface(dbus::kMctpInterface)
            .call([this](const std::vector<uint8_t> &message) {
                std::lock_guard lock(mutex_);
                messages_.push_back(message);
                changed_.notify_all();
            });
        proxy_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~SignalWatcher() { connection_->leaveEventLoop(); }

    std::optional<Bytes> WaitForMessage(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
            return std::nullopt;
        }
        return messages_.front();
    }

  private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Bytes> messages_;
};

std::string SendMessage(std::vector<std::string> arguments) {
    std::vector<std::string> argv = {"busctl",
                                     "--system",
                                     "call",
                                     dbus::kMctpServiceName,
                                     dbus::kMctpObjectPath,
                                     dbus::kMctpInterface,
                                     "sendMessage",
                                     "yyay"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // The answer is one line; waiting for it rather than for the exit
    // makes sure all of it has been read.
    ChildProcess busctl(argv);
    EXPECT_TRUE(busctl.WaitForOutput("\n", 10s)) << busctl.Output();
    EXPECT_EQ(busctl.WaitForExit(10s), 0) << busctl.Output();
    return busctl.Output();
}

TEST(HostSimBusTest, ServesMctpAndControlOnTheSystemBus) {
    PrivateBus bus;
    ChildProcess hostsim({BuiltProgram("HOSTSIM_PATH"), "--heartbeat-period-ms", "100"});
    ASSERT_TRUE(hostsim.WaitForOutput("vuno-hostsim: ready", 10s)) << hostsim.Output();
    SignalWatcher watcher;

    // Connect to VMD 0x05000000 with instance ID 3.
    EXPECT_EQ(SendMessage({"8", "1", "9", "0x7e", kVendorHigh, kVendorLow, "0x83", "0x07", "0x02",
                           "0x00", "0x00", "0x05"}),
              "(iay) 0 7 126 " + kVendorHigh + " " + kVendorLow + " 3 7 2 0\n");
    EXPECT_TRUE(hostsim.WaitForOutput("ME: connected to VMD 0x05000000", 5s));

    const auto heartbeat = watcher.WaitForMessage(5s);
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(*heartbeat, (Bytes{0x7E, uint8_t(kMeVendorId >> 8), uint8_t(kMeVendorId & 0xFF), 0x80,
                                 0x07, 0x01, 0, 0, 0, 5, 0x00, 1, 0, 0, 0}));
    EXPECT_EQ(SendMessage(
                  {"8", "0", "7", "0x7e", kVendorHigh, kVendorLow, "0x00", "0x07", "0x01", "0x05"}),
              "(iay) 0 0\n");
    EXPECT_EQ(SendMessage({"9", "1", "5", "0x7e", kVendorHigh, kVendorLow, "0x80", "0x07"}),
              "(iay) -113 0\n");

    auto connection = sdbus::createSystemBusConnection();
    auto control =
        sdbus::createProxy(*connection, dbus::kControlServiceName, dbus::kControlObjectPath);
    std::map<std::string, uint64_t> counters;
    control->callMethod("GetCounters")
        .onInterface(dbus::kControlInterface)
        .storeResultsTo(counters);
    EXPECT_EQ(counters["ConnectRequests"], 1u);
    EXPECT_EQ(counters["MeRepliesReceived"], 1u);
    EXPECT_EQ(counters["BadMeReplies"], 0u);
    EXPECT_EQ(counters["MalformedMessages"], 1u);

    sdbus::Struct<bool, uint32_t> link;
    control->callMethod("GetLinkState").onInterface(dbus::kControlInterface).storeResultsTo(link);
    EXPECT_EQ(link, sdbus::make_struct(true, uint32_t{0x05000000}));

    try {
        control->callMethod("SetMeResponseMode")
            .onInterface(dbus::kControlInterface)
            .withArguments(std::string("sometimes"), uint32_t{1});
        ADD_FAILURE() << "an unknown mode was accepted";
    } catch (const sdbus::Error &error) {
        EXPECT_EQ(error.getName(), dbus::kInvalidArgumentError);
    }

    hostsim.Signal(SIGTERM);
    EXPECT_EQ(hostsim.WaitForExit(10s), 0);
}

} // namespace
} // namespace vuno::hostsim
