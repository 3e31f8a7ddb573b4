// The daemon seen from the command line: one system-bus connection driven
// from an io_context, calls with their own time-outs, and the reasons a
// call can fail before the daemon answers it.
#pragma once

#include "methods.hpp"
#include "reply.hpp"

#include "bus_loop.hpp"

#include <boost/asio/io_context.hpp>
#include <sdbus-c++/IProxy.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vunoctl {

enum ExitStatus : int {
    kSucceeded = 0,
    kErrorReply = 1, // the daemon answered with an error dictionary
    kUsage = 2,
    kBusProblem = 3, // no daemon, a refused call, or no answer in time
};

// The system bus cannot be reached at all.
class BusFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Client {
  public:
    using ReplyHandler = std::function<void(const Json &reply)>;
    using ProgressHandler = std::function<void(uint32_t sent, uint32_t total)>;

    // Throws BusFailure.
    explicit Client(boost::asio::io_context &io);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Reports the daemon's transmission progress from now on; call before
    // the first Send.
    void WatchProgress(ProgressHandler handler);
    // Calls a storage method; `handler` gets the reply dictionary. Any
    // failure of the call itself ends the run with kBusProblem after
    // saying what went wrong. Throws UsageError for arguments that do not
    // fit the method.
    void Send(const std::string &method, const std::vector<ArgumentTexts> &arguments,
              std::chrono::microseconds timeout, ReplyHandler handler);
    // Ends the run with `status`.
    void Finish(int status);
    // Runs until Finish; returns its status.
    int Run();

    boost::asio::io_context &Context() { return io_; }

  private:
    void Fail(const std::string &message);

    boost::asio::io_context &io_;
    std::shared_ptr<vuno::dbus::BusLoop> loop_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::optional<int> status_;
};

// Writes "Name: message" of an error dictionary to standard error.
void ReportError(const Json &reply);

} // namespace vunoctl
