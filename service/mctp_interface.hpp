// MCTP transport over D-Bus: BMC-ME messages go to the platform's MCTP
// service through its sendMessage method, and messages from the ME arrive as
// its mctpMessageReceived signal.
#pragma once

#include "bus_loop.hpp"
#include "vuno.h"

#include <boost/asio/spawn.hpp>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vuno {

class MCTPInterface {
  public:
    // Receives the ME's messages and the outcomes of exchanges: the library's
    // entry in the daemon, a recorder in tests.
    using MessageSink = std::function<void(vuno_instance *instance, bool request, uint8_t tag,
                                           int mctpStatus, const uint8_t *data, uint32_t length)>;

    // Subscribes to the receive signal at once; nothing is handled before
    // the event loop runs.
    MCTPInterface(std::shared_ptr<dbus::BusLoop> conn,
                  const std::optional<vuno_instance *> &instance,
                  MessageSink sink = bmc_me_mctp_message_received);
    ~MCTPInterface();
    MCTPInterface(const MCTPInterface &) = delete;
    MCTPInterface &operator=(const MCTPInterface &) = delete;

    // Copies the message and starts its exchange; the outcome reaches the
    // sink later, never before this returns.
    void SendMctpMessage(bool request, uint8_t tag, const uint8_t *data, uint32_t length);

    // From now on nothing reaches the sink, and the exchanges still waiting
    // for a reply end at their next resumption instead of waiting on.
    void Stop();

  private:
    class PendingExchange;

    void Exchange(bool request, const std::vector<uint8_t> &payload,
                  boost::asio::yield_context yield);
    void OnMessageReceived(sdbus::Message &signal);
    void Deliver(bool request, uint8_t tag, int mctpStatus, std::span<const uint8_t> data);
    void DeliverFailure();

    std::shared_ptr<dbus::BusLoop> conn_;
    const std::optional<vuno_instance *> &instance_;
    uint8_t instanceId_ = 0;
    uint8_t eid_ = 8;
    MessageSink sink_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    bool stopped_ = false;
    std::vector<std::weak_ptr<PendingExchange>> pending_;
    // Exchanges resumed after this object is gone see the token expired.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    sdbus::Slot match_;
};

} // namespace vuno
