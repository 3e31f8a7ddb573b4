// Simulated time. Nothing in the core reads a real clock: whoever drives
// the simulator moves this one forward, so tests control time exactly.
#pragma once

#include <chrono>

namespace vuno::hostsim {

using Duration = std::chrono::milliseconds;

class Clock {
  public:
    Duration Now() const { return now_; }
    void Set(Duration now) { now_ = now; }

  private:
    Duration now_{0};
};

} // namespace vuno::hostsim
