#include "bus_loop.hpp"

#include <boost/asio/post.hpp>
#include <sdbus-c++/Error.h>

#include <chrono>
#include <iostream>
#include <limits>
#include <poll.h>

namespace vuno::dbus {
namespace {

// One busy peer must not starve the library's timers: after this many
// items the rest is processed in a later turn of the loop.
constexpr int kBatchSize = 32;

} // namespace

BusLoop::BusLoop(boost::asio::io_context &io, sdbus::IConnection &connection)
    : io_(io), connection_(connection), descriptor_(io, connection.getEventLoopPollData().fd),
      timer_(io) {}

BusLoop::BusLoop(boost::asio::io_context &io, std::unique_ptr<sdbus::IConnection> connection)
    : io_(io), ownedConnection_(std::move(connection)), connection_(*ownedConnection_),
      descriptor_(io, connection_.getEventLoopPollData().fd), timer_(io) {}

BusLoop::~BusLoop() {
    boost::system::error_code ignored;
    descriptor_.cancel(ignored);
    // The descriptor belongs to the connection.
    descriptor_.release();
}

void BusLoop::Start() {
    PostProcess();
}

void BusLoop::Stop() {
    stopped_ = true;
    ++generation_;
    boost::system::error_code ignored;
    descriptor_.cancel(ignored);
    timer_.cancel();
}

void BusLoop::Rearm() {
    if (rearmPosted_) {
        return;
    }
    rearmPosted_ = true;
    boost::asio::post(io_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->rearmPosted_ = false;
            self->Arm();
        }
    });
}

void BusLoop::Arm() {
    if (stopped_ || processPosted_) {
        return; // Process() arms again when it is done
    }
    const auto poll = connection_.getEventLoopPollData();
    ++generation_;
    boost::system::error_code ignored;
    descriptor_.cancel(ignored);
    timer_.cancel();

    const uint64_t generation = generation_;
    auto handler = [weak = weak_from_this(), generation](const boost::system::error_code &error) {
        if (auto self = weak.lock()) {
            self->OnReady(generation, error);
        }
    };
    if (poll.events & POLLIN) {
        descriptor_.async_wait(boost::asio::posix::stream_descriptor::wait_read, handler);
    }
    if (poll.events & POLLOUT) {
        descriptor_.async_wait(boost::asio::posix::stream_descriptor::wait_write, handler);
    }
    if (poll.timeout_usec == 0) {
        PostProcess();
        return;
    }
    if (poll.timeout_usec != std::numeric_limits<uint64_t>::max()) {
        // sd-bus gives an absolute CLOCK_MONOTONIC point, which is asio's
        // steady clock on Linux.
        timer_.expires_at(
            std::chrono::steady_clock::time_point(std::chrono::microseconds(poll.timeout_usec)));
        timer_.async_wait(handler);
    }
}

void BusLoop::OnReady(uint64_t generation, const boost::system::error_code &error) {
    if (error == boost::asio::error::operation_aborted || generation != generation_) {
        return;
    }
    PostProcess();
}

void BusLoop::PostProcess() {
    if (stopped_ || processPosted_) {
        return;
    }
    processPosted_ = true;
    ++generation_; // waits still pending are stale from now on
    boost::asio::post(io_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->Process();
        }
    });
}

void BusLoop::Process() {
    processPosted_ = false;
    if (stopped_) {
        return;
    }
    try {
        for (int i = 0; i < kBatchSize; ++i) {
            if (!connection_.processPendingRequest()) {
                Arm();
                return;
            }
        }
    } catch (const sdbus::Error &error) {
        std::cout << "D-Bus connection failed: " << error.getName() << ": " << error.getMessage()
                  << std::endl;
        failed_ = true;
        io_.stop();
        return;
    }
    PostProcess();
}

} // namespace vuno::dbus
