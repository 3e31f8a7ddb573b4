#include "mctp_interface.hpp"

#include "mctp_header.hpp"

#include <boost/asio/async_result.hpp>
#include <boost/asio/post.hpp>
#include <sdbus-c++/Error.h>
#include <sdbus-c++/Types.h>

#include <algorithm>
#include <iostream>

namespace vuno {
namespace {

constexpr char kMctpService[] = "xyz.openbmc_project.MCTP";
constexpr char kMctpObject[] = "/xyz/openbmc_project/MCTP";
constexpr char kMctpInterface[] = "xyz.openbmc_project.mctp";
constexpr char kSendMethod[] = "sendMessage";
constexpr char kReceiveMatchRule[] =
    "type='signal',member='mctpMessageReceived',path_namespace='/xyz/openbmc_project/MCTP'";

// What the library is told of an exchange that did not complete.
constexpr int kMctpStatusFailed = 1;

struct SendOutcome {
    bool succeeded = false;
    std::vector<uint8_t> response; // vendor header included
};

SendOutcome ReadReply(sdbus::MethodReply &reply, const sdbus::Error *error) {
    if (error != nullptr) {
        std::cout << "MCTP " << kSendMethod << " failed: " << error->getName() << ": "
                  << error->getMessage() << std::endl;
        return {};
    }
    sdbus::Struct<int32_t, std::vector<uint8_t>> result;
    try {
        reply >> result;
    } catch (const sdbus::Error &readError) {
        std::cout << "MCTP " << kSendMethod << " reply unreadable: " << readError.getMessage()
                  << std::endl;
        return {};
    }
    if (!reply) {
        std::cout << "MCTP " << kSendMethod << " reply without a status" << std::endl;
        return {};
    }
    const int32_t status = std::get<0>(result);
    if (status != 0) {
        std::cout << "MCTP " << kSendMethod << " returned status " << status << std::endl;
        return {};
    }
    return {.succeeded = true, .response = std::move(std::get<1>(result))};
}

} // namespace

// An exchange suspended until its reply arrives, resumed exactly once: by
// the reply, or by Stop() with a failed outcome. Resumption is posted, so it
// never runs inside sd-bus's own processing nor before the initiating call
// has returned.
class MCTPInterface::PendingExchange {
  public:
    PendingExchange(boost::asio::io_context &io, std::function<void(SendOutcome)> resume)
        : io_(io), resume_(std::move(resume)) {}

    void Complete(SendOutcome outcome) {
        if (!resume_) {
            return;
        }
        boost::asio::post(
            io_, [resume = std::move(resume_), outcome = std::move(outcome)] { resume(outcome); });
        resume_ = nullptr;
    }

  private:
    boost::asio::io_context &io_;
    std::function<void(SendOutcome)> resume_;
};

MCTPInterface::MCTPInterface(std::shared_ptr<dbus::BusLoop> conn,
                             const std::optional<vuno_instance *> &instance, MessageSink sink)
    : conn_(std::move(conn)), instance_(instance), sink_(std::move(sink)),
      proxy_(sdbus::createProxy(conn_->Connection(), kMctpService, kMctpObject)),
      match_(conn_->Connection().addMatch(
          kReceiveMatchRule, [this](sdbus::Message &signal) { OnMessageReceived(signal); })) {}

MCTPInterface::~MCTPInterface() {
    Stop();
}

void MCTPInterface::Stop() {
    stopped_ = true;
    for (const auto &weak : pending_) {
        if (const auto exchange = weak.lock()) {
            exchange->Complete({});
        }
    }
    pending_.clear();
}

void MCTPInterface::SendMctpMessage(bool request, uint8_t tag, const uint8_t *data,
                                    uint32_t length) {
    // Identifiers are taken in call order, before any exchange suspends.
    const uint8_t control =
        request ? mctp::RequestControlByte(instanceId_++) : mctp::ReplyControlByte(tag);
    auto payload = mctp::WrapMessage(control, {data, length});
    boost::asio::spawn(conn_->Context(),
                       [this, alive = std::weak_ptr<bool>(alive_), request,
                        payload = std::move(payload)](boost::asio::yield_context yield) {
                           if (!alive.expired() && !stopped_) {
                               Exchange(request, payload, yield);
                           }
                       });
}

void MCTPInterface::Exchange(bool request, const std::vector<uint8_t> &payload,
                             boost::asio::yield_context yield) {
    const std::weak_ptr<bool> alive = alive_;
    auto initiation = [this, request, &payload](auto handler) {
        auto exchange = std::make_shared<PendingExchange>(conn_->Context(), std::move(handler));
        std::erase_if(pending_, [](const auto &weak) { return weak.expired(); });
        pending_.push_back(exchange);
        try {
            auto call = proxy_->createMethodCall(kMctpInterface, kSendMethod);
            call << eid_ << static_cast<uint8_t>(request ? 1 : 0) << payload;
            proxy_->callMethod(call,
                               [exchange](sdbus::MethodReply &reply, const sdbus::Error *error) {
                                   exchange->Complete(ReadReply(reply, error));
                               });
            conn_->Rearm();
        } catch (const sdbus::Error &error) {
            std::cout << "MCTP " << kSendMethod << " not sent: " << error.getMessage() << std::endl;
            exchange->Complete({});
        }
    };
    const SendOutcome outcome =
        boost::asio::async_initiate<boost::asio::yield_context, void(SendOutcome)>(initiation,
                                                                                   yield);
    if (alive.expired() || stopped_) {
        return; // shut down while the call was pending
    }
    if (!outcome.succeeded) {
        DeliverFailure();
        return;
    }
    if (!request) {
        return; // a reply to the ME expects no answer
    }
    const auto response = mctp::UnwrapMessage(outcome.response);
    if (!response) {
        std::cout << "MCTP response of " << outcome.response.size()
                  << " bytes is shorter than its header" << std::endl;
        DeliverFailure();
        return;
    }
    Deliver(false, 0, 0, response->body);
}

void MCTPInterface::OnMessageReceived(sdbus::Message &signal) {
    std::vector<uint8_t> message;
    try {
        signal >> message;
    } catch (const sdbus::Error &error) {
        std::cout << "MCTP message dropped: " << error.getMessage() << std::endl;
        return;
    }
    if (!signal) {
        std::cout << "MCTP message dropped: no byte array" << std::endl;
        return;
    }
    const auto received = mctp::UnwrapMessage(message);
    if (!received) {
        std::cout << "MCTP message of " << message.size()
                  << " bytes dropped: shorter than its header" << std::endl;
        return;
    }
    Deliver(true, received->instanceId, 0, received->body);
}

void MCTPInterface::DeliverFailure() {
    Deliver(false, 0, kMctpStatusFailed, {});
}

void MCTPInterface::Deliver(bool request, uint8_t tag, int mctpStatus,
                            std::span<const uint8_t> data) {
    if (stopped_ || !instance_.has_value()) {
        return; // no library to tell
    }
    // D-Bus arrays are far below 4 GiB, so the length always fits.
    sink_(*instance_, request, tag, mctpStatus, data.empty() ? nullptr : data.data(),
          static_cast<uint32_t>(data.size()));
}

} // namespace vuno
