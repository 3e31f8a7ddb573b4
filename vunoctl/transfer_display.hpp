// What `firmware send` shows while the daemon transmits an image: a bar
// with rate and time left on a terminal, and one summary line at the end
// wherever the output goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace vunoctl {

class TransferDisplay {
  public:
    using Clock = std::chrono::steady_clock;

    // `imageBytes` is the size of the file; progress of smaller messages
    // (other requests) is not this transfer's.
    TransferDisplay(std::ostream &out, bool terminal, uint64_t imageBytes, Clock::time_point start);

    void Update(uint32_t sent, uint32_t total, Clock::time_point now);
    // The summary line; clears the bar first.
    void Finish(const std::string &what, Clock::time_point now);

  private:
    std::ostream &out_;
    bool terminal_;
    uint64_t imageBytes_;
    Clock::time_point start_;
    bool drawn_ = false;
};

// "1:05" for 65 seconds.
std::string MinutesAndSeconds(double seconds);

} // namespace vunoctl
