// Drives one sdbus-c++ connection from a Boost.Asio io_context on the
// calling thread: the loop waits for the bus socket to become readable (and
// writable while sd-bus has queued output) or for sd-bus's own time-out,
// then processes pending bus work in bounded batches.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <sdbus-c++/IConnection.h>

#include <cstdint>
#include <memory>

namespace vuno::dbus {

class BusLoop : public std::enable_shared_from_this<BusLoop> {
  public:
    BusLoop(boost::asio::io_context &io, sdbus::IConnection &connection);
    // Takes the connection along: it then lives exactly as long as the loop.
    BusLoop(boost::asio::io_context &io, std::unique_ptr<sdbus::IConnection> connection);
    ~BusLoop();
    BusLoop(const BusLoop &) = delete;
    BusLoop &operator=(const BusLoop &) = delete;

    // Starts waiting; call once, before running the io_context.
    void Start();
    // Call after anything was sent on the connection outside the loop's own
    // processing (a reply from a coroutine, an asynchronous call, a signal),
    // so that queued output is flushed and new time-outs are honoured.
    void Rearm();
    // Stops waiting and processing for good; what is already queued on the
    // connection stays there.
    void Stop();

    boost::asio::io_context &Context() { return io_; }
    sdbus::IConnection &Connection() { return connection_; }
    // True once processing failed and the loop stopped the io_context.
    bool Failed() const { return failed_; }

  private:
    void Arm();
    void OnReady(uint64_t generation, const boost::system::error_code &error);
    void Process();
    void PostProcess();

    boost::asio::io_context &io_;
    std::unique_ptr<sdbus::IConnection> ownedConnection_;
    sdbus::IConnection &connection_;
    boost::asio::posix::stream_descriptor descriptor_;
    boost::asio::steady_timer timer_;
    // Bumped on every re-arm so that completions of cancelled waits are
    // recognised and ignored.
    uint64_t generation_ = 0;
    bool processPosted_ = false;
    bool rearmPosted_ = false;
    bool failed_ = false;
    bool stopped_ = false;
};

} // namespace vuno::dbus
