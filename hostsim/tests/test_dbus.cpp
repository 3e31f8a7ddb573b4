// vuno-hostsim on a private system bus, seen by a client: the MCTP
// service answers `sendMessage`, the ME's requests arrive as signals, and
// the control interface reports and refuses as it should.
#include "control_object.hpp"
#include "inventory_file.hpp"
#include "mctp_object.hpp"
#include "processes.hpp"
#include "vendor_header.hpp"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <signal.h>

#include <condition_variable>
#include <fstream>
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

template <typename... Args>
void CallControl(sdbus::IProxy &control, const std::string &method, Args... args) {
    control.callMethod(method).onInterface(dbus::kControlInterface).withArguments(args...);
}

// Calls a control method expected to fail with InvalidArgument.
template <typename... Args>
void ExpectInvalidArgument(sdbus::IProxy &control, const std::string &method, Args... args) {
    try {
        CallControl(control, method, args...);
        ADD_FAILURE() << method << " accepted a bad argument";
    } catch (const sdbus::Error &error) {
        EXPECT_EQ(error.getName(), dbus::kInvalidArgumentError) << method;
    }
}

TEST(HostSimBusTest, ExchangeFaultsAreSetOverTheControlInterface) {
    PrivateBus bus;
    ChildProcess hostsim({BuiltProgram("HOSTSIM_PATH")});
    ASSERT_TRUE(hostsim.WaitForOutput("vuno-hostsim: ready", 10s)) << hostsim.Output();
    SignalWatcher watcher;
    auto connection = sdbus::createSystemBusConnection();
    auto control =
        sdbus::createProxy(*connection, dbus::kControlServiceName, dbus::kControlObjectPath);
    // Malformed frames go out even without a link.
    CallControl(*control, "SendMalformedFrame", std::string("heartbeat-4-bytes"));
    const auto frame = watcher.WaitForMessage(5s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Bytes(frame->begin() + kVendorHeaderSize, frame->end()),
              (Bytes{0x01, 0, 0, 0, 4, 0x00, 1, 0, 0}));
    ExpectInvalidArgument(*control, "SendMalformedFrame", std::string("sometimes"));
    ExpectInvalidArgument(*control, "SetCommandStatus", uint8_t{41}, uint16_t{1});

    CallControl(*control, "SetCommandStatus", uint8_t{15}, uint16_t{264});
    CallControl(*control, "ClearCommandStatus", uint8_t{15});
    CallControl(*control, "ClearCommandStatuses");
    CallControl(*control, "ReplaceStatusFrames", uint8_t{7}, uint32_t{2});
    CallControl(*control, "WithholdStatusFrames", uint32_t{1});
    CallControl(*control, "LeaveRequestsUnanswered", uint32_t{1});
    CallControl(*control, "RestartHostAfterDataFrames", uint32_t{3});

    std::map<std::string, uint64_t> counters;
    control->callMethod("GetCounters")
        .onInterface(dbus::kControlInterface)
        .storeResultsTo(counters);
    EXPECT_EQ(counters["MalformedFramesSent"], 1u);
    EXPECT_EQ(counters.count("MessagesReceived"), 1u) << "exchange counters are listed";
    EXPECT_EQ(counters.count("HeartbeatsSent"), 1u) << "so are the journal's";

    hostsim.Signal(SIGTERM);
    EXPECT_EQ(hostsim.WaitForExit(10s), 0);
}

std::string GetInventory(sdbus::IProxy &control) {
    std::string inventory;
    control.callMethod("GetInventory")
        .onInterface(dbus::kControlInterface)
        .storeResultsTo(inventory);
    return inventory;
}

TEST(HostSimBusTest, StorageIsLoadedShownAndChangedOverTheControlInterface) {
    const std::string path = ::testing::TempDir() + "/hostsim_bus_inventory.txt";
    std::ofstream(path) << "controller c type=AHCI\n"
                           "drive a controller=c type=SATA size=1048576000\n"
                           "drive b controller=c type=SATA size=1048576000\n"
                           "array r drives=a,b\n"
                           "volume v array=r level=1 drives=a,b size=524288000 strip=64\n";
    {
        ChildProcess refused({BuiltProgram("HOSTSIM_PATH"), "--inventory", path + ".absent"});
        EXPECT_EQ(refused.WaitForExit(10s), 2);
        EXPECT_NE(refused.Output().find(path + ".absent: cannot be read"), std::string::npos);
    }
    PrivateBus bus;
    ChildProcess hostsim({BuiltProgram("HOSTSIM_PATH"), "--inventory", path});
    ASSERT_TRUE(hostsim.WaitForOutput("vuno-hostsim: ready", 10s)) << hostsim.Output();
    EXPECT_NE(hostsim.Output().find("storage: 1 controllers, 2 drives, 1 volumes"),
              std::string::npos);
    auto connection = sdbus::createSystemBusConnection();
    auto control =
        sdbus::createProxy(*connection, dbus::kControlServiceName, dbus::kControlObjectPath);
    EXPECT_NE(GetInventory(*control).find("volume volume0 "), std::string::npos);

    const Identifier drive = LabelIdentifier("drive", "a");
    std::string driveText;
    for (uint8_t byte : drive) {
        driveText += "0123456789abcdef"[byte >> 4];
        driveText += "0123456789abcdef"[byte & 0x0F];
    }
    CallControl(*control, "FailDrive", driveText);
    EXPECT_NE(GetInventory(*control).find("drives=missing,drive1"), std::string::npos);
    ExpectInvalidArgument(*control, "FailDrive", driveText);
    ExpectInvalidArgument(*control, "FailDrive", std::string("not-an-identifier"));
    ExpectInvalidArgument(*control, "ReinsertDrive", driveText);
    CallControl(*control, "TriggerEvent", uint8_t{140}, std::string());
    ExpectInvalidArgument(*control, "TriggerEvent", uint8_t{3}, std::string());

    ExpectInvalidArgument(*control, "LoadInventory", path + ".absent");
    std::ofstream(path) << "controller c type=NVMe\n";
    CallControl(*control, "LoadInventory", path);
    EXPECT_EQ(GetInventory(*control).find("drive "), std::string::npos);

    hostsim.Signal(SIGTERM);
    EXPECT_EQ(hostsim.WaitForExit(10s), 0);
}

} // namespace
} // namespace vuno::hostsim
