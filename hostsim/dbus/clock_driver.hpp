// Moves the simulator's time along with the real clock: in small periodic
// steps, and at once after the BMC has talked to the MCTP service, so that
// the ME's next request does not wait for the next step.
#pragma once

#include "simulator.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>

#include <chrono>

namespace vuno::hostsim::dbus {

class ClockDriver {
  public:
    ClockDriver(boost::asio::io_context &io, Simulator &simulator);

    // Starts the periodic steps; call once, before running the io_context.
    void Start();
    // Runs what has fallen due as soon as the loop is free.
    void Poke();

  private:
    void Run(boost::asio::yield_context yield);
    void CatchUp();

    boost::asio::io_context &io_;
    Simulator &simulator_;
    std::chrono::steady_clock::time_point last_;
    bool pokePosted_ = false;
};

} // namespace vuno::hostsim::dbus
