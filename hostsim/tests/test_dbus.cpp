// vuno-hostsim on a private system bus, seen by a client: a held Transfer
// Data answer does not keep the host's reply from reaching the bus.
#include "control_object.hpp"
#include "mctp_object.hpp"
#include "me_messages.hpp"
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

// What reached the client, in order: "signal" for an ME request, "reply"
// for the answer to sendMessage.
class MctpClient {
  public:
    MctpClient() : connection_(sdbus::createSystemBusConnection()) {
        proxy_ = sdbus::createProxy(*connection_, dbus::kMctpServiceName, dbus::kMctpObjectPath);
        proxy_->uponSignal("mctpMessageReceived")
            .onInterface(dbus::kMctpInterface)
            .call([this](const std::vector<uint8_t> &) { Note("signal"); });
        proxy_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~MctpClient() { connection_->leaveEventLoop(); }

    void Send(const Bytes &request) {
        proxy_->callMethodAsync("sendMessage")
            .onInterface(dbus::kMctpInterface)
            .withArguments(kMeEndpointId, uint8_t{1}, WithVendorHeader(true, 0, request))
            .uponReplyInvoke([this](const sdbus::Error *error, sdbus::Struct<int32_t, Bytes>) {
                Note(error == nullptr ? "reply" : "error");
            });
    }

    std::vector<std::string> WaitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [this, count] { return events_.size() >= count; });
        return std::exchange(events_, {});
    }

  private:
    void Note(const std::string &event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

template <typename... Args>
void CallControl(sdbus::IProxy &control, const std::string &method, Args... args) {
    control.callMethod(method).onInterface(dbus::kControlInterface).withArguments(args...);
}

TEST(HostSimBusTest, HeldTransferAnswerLetsTheHostsReplyThrough) {
    PrivateBus bus;
    ChildProcess hostsim({BuiltProgram("HOSTSIM_PATH"), "--no-heartbeats"});
    ASSERT_TRUE(hostsim.WaitForOutput("vuno-hostsim: ready", 10s)) << hostsim.Output();
    MctpClient client;
    auto connection = sdbus::createSystemBusConnection();
    auto control =
        sdbus::createProxy(*connection, dbus::kControlServiceName, dbus::kControlObjectPath);
    client.Send({me::kConnect, 0x00, 0x00, 0x05});
    EXPECT_EQ(client.WaitFor(1), std::vector<std::string>{"reply"});

    CallControl(*control, "SetTransferAnswerDelay", uint32_t{500});
    // Data Frame [0] for an unknown service: the host refuses it at once,
    // and its Status Frame must reach the bus before the held answer.
    client.Send(TransferDataRequest(Bytes{0x01, 0, 0, 0x02, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xAA}));
    EXPECT_EQ(client.WaitFor(2), (std::vector<std::string>{"signal", "reply"}));
    hostsim.Signal(SIGTERM);
    EXPECT_EQ(hostsim.WaitForExit(10s), 0);
}

} // namespace
} // namespace vuno::hostsim
