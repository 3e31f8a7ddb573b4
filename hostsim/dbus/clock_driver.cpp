#include "clock_driver.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

namespace vuno::hostsim::dbus {
namespace {

constexpr std::chrono::milliseconds kStep{10};

} // namespace

ClockDriver::ClockDriver(boost::asio::io_context &io, Simulator &simulator)
    : io_(io), simulator_(simulator), last_(std::chrono::steady_clock::now()) {}

void ClockDriver::Start() {
    boost::asio::spawn(io_, [this](boost::asio::yield_context yield) { Run(yield); });
}

void ClockDriver::Poke() {
    if (pokePosted_) {
        return;
    }
    pokePosted_ = true;
    boost::asio::post(io_, [this] {
        pokePosted_ = false;
        CatchUp();
    });
}

void ClockDriver::Run(boost::asio::yield_context yield) {
    boost::asio::steady_timer timer(io_);
    for (;;) {
        timer.expires_after(kStep);
        boost::system::error_code error;
        timer.async_wait(yield[error]);
        if (error) {
            return;
        }
        CatchUp();
    }
}

// Whole milliseconds only; the rest is carried into the next step.
void ClockDriver::CatchUp() {
    const auto elapsed =
        std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - last_);
    last_ += elapsed;
    simulator_.Advance(elapsed);
}

} // namespace vuno::hostsim::dbus
