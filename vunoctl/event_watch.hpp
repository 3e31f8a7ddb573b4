// `event watch`: subscribes, keeps one GetEvents waiting at the host and
// prints each event as it arrives; SIGINT or SIGTERM cancels the
// subscription before the program ends.
#pragma once

#include "client.hpp"
#include "commands.hpp"

#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <string>

namespace vunoctl {

class EventWatch {
  public:
    EventWatch(Client &client, const Invocation &subscription);

    void Start();

  private:
    void OnSubscribed(const Json &reply);
    void Collect();
    void OnEvents(const Json &reply);
    void OnSignal();
    void Cancel();
    void OnCancelled(const Json &reply);
    void Print(const Json &event) const;

    Client &client_;
    Invocation subscription_;
    boost::asio::signal_set signals_;
    boost::asio::steady_timer pause_;
    std::string id_;
    bool stopping_ = false;
    bool cancelling_ = false;
    int status_ = kSucceeded;
};

} // namespace vunoctl
