#include "event_watch.hpp"

#include "output.hpp"

#include <csignal>
#include <ctime>
#include <iostream>

namespace vunoctl {
namespace {

constexpr auto kEmptyAnswerPause = std::chrono::seconds(1);

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string TextOf(const Json &item, const char *key) {
    const auto value = item.find(key);
    return value != item.end() && value->is_string() ? value->get<std::string>() : "";
}

} // namespace

EventWatch::EventWatch(Client &client, const Invocation &subscription)
    : client_(client), subscription_(subscription), signals_(client.Context(), SIGINT, SIGTERM),
      pause_(client.Context()) {}

void EventWatch::Start() {
    signals_.async_wait([this](const boost::system::error_code &error, int) {
        if (!error) {
            OnSignal();
        }
    });
    client_.Send(subscription_.method, subscription_.arguments,
                 subscription_.timeout.value_or(DefaultTimeout(subscription_.method, {})),
                 [this](const Json &reply) { OnSubscribed(reply); });
}

void EventWatch::OnSubscribed(const Json &reply) {
    id_ = TextOf(reply, "SubscriptionId");
    if (!ErrorName(reply).empty() || id_.empty()) {
        ReportError(reply);
        client_.Finish(kErrorReply);
        return;
    }
    std::cerr << "Watching events of subscription " << id_ << "; Ctrl-C stops." << std::endl;
    if (stopping_) {
        Cancel();
        return;
    }
    Collect();
}

void EventWatch::Collect() {
    client_.Send("GetEvents", {{id_}, {"0"}}, DefaultTimeout("GetEvents", {}),
                 [this](const Json &reply) { OnEvents(reply); });
}

void EventWatch::OnEvents(const Json &reply) {
    if (stopping_) {
        // The executor ends the held call when the subscription goes, and
        // its answer may be the only one of the two that arrives.
        if (cancelling_ && ErrorName(reply) == "InvalidSubscription") {
            client_.Finish(status_);
        }
        return;
    }
    if (!ErrorName(reply).empty()) {
        ReportError(reply);
        status_ = kErrorReply;
        stopping_ = true;
        Cancel();
        return;
    }
    const auto events = reply.find("Events");
    const bool some = events != reply.end() && events->is_array() && !events->empty();
    for (const Json &event : some ? *events : Json::array()) {
        Print(event);
    }
    if (some) {
        Collect();
        return;
    }
    // An executor that answers at once with nothing must not be asked again
    // in a tight loop.
    pause_.expires_after(kEmptyAnswerPause);
    pause_.async_wait([this](const boost::system::error_code &error) {
        if (!error && !stopping_) {
            Collect();
        }
    });
}

void EventWatch::OnSignal() {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    if (!id_.empty()) {
        Cancel();
    }
    // A second signal does not wait for the host any longer.
    signals_.async_wait([this](const boost::system::error_code &error, int) {
        if (!error) {
            std::cerr << "vunoctl: stopped without cancelling the subscription" << std::endl;
            client_.Finish(kErrorReply);
        }
    });
}

void EventWatch::Cancel() {
    cancelling_ = true;
    client_.Send("CancelEventSubscription", {{id_}},
                 subscription_.timeout.value_or(DefaultTimeout("CancelEventSubscription", {})),
                 [this](const Json &reply) { OnCancelled(reply); });
}

void EventWatch::OnCancelled(const Json &reply) {
    if (!ErrorName(reply).empty()) {
        ReportError(reply);
        client_.Finish(kErrorReply);
        return;
    }
    client_.Finish(status_);
}

void EventWatch::Print(const Json &event) const {
    if (subscription_.json) {
        Json line = event;
        line["Time"] = Now();
        std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
        return;
    }
    std::cout << Now() << "  " << TextOf(event, "EventType") << "  "
              << TextOf(event, "EventIdentifier") << std::endl;
}

} // namespace vunoctl
