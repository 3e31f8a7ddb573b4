// What the simulated platform tells the outside world about itself: a set
// of named counters that tests read back, and one printed line per notable
// event so that a demo run stays readable.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace vuno::hostsim {

enum class Counter {
    ConnectRequests,
    DisconnectRequests,
    TransferDataRequests,
    UnknownMeCommands,
    InvalidMeRequests,
    DroppedRequests,
    RefusedRequests,
    MalformedMessages,
    HeartbeatsSent,
    HostRestarts,
    FramesToHost,
    UnhandledFrames,
    HostFramesDropped,
    MeRequestsSent,
    MeRepliesReceived,
    BadMeReplies,
    UnmatchedMeReplies,
    MissingMeReplies,
    Count_, // number of counters, not a counter
};

const char *CounterName(Counter counter);

// 0x05000000 style, for VMD location values in printed lines.
std::string Hex32(uint32_t value);

class Journal {
  public:
    using LineSink = std::function<void(const std::string &line)>;

    explicit Journal(LineSink printLine) : printLine_(std::move(printLine)) {}

    void Count(Counter counter) { ++values_[static_cast<size_t>(counter)]; }
    uint64_t Value(Counter counter) const { return values_[static_cast<size_t>(counter)]; }
    // Every counter by name, zeros included, so readers see a fixed set.
    std::map<std::string, uint64_t> Snapshot() const;

    void Note(const std::string &line) const;

  private:
    LineSink printLine_;
    std::array<uint64_t, static_cast<size_t>(Counter::Count_)> values_{};
};

} // namespace vuno::hostsim
