// Counters of the host's message exchange with the BMC: the messages it
// receives and answers, the messages it sends and how the BMC judged them,
// the SSI requests its executor handles, and the faults injected on the
// way. They are read back together with the journal's counters.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace vuno::hostsim {

enum class ExchangeCounter {
    // The BMC's messages.
    DataFramesReceived,
    FrameErrors, // Data Frames answered with an error status
    MessagesReceived,
    CrcErrors,
    MessagesAbandoned, // reception cut short by a new Data Frame [0] or a restart
    StatusFramesSent,
    StatusFramesWithheld,
    VerdictsReplaced,
    // The host's own messages.
    MessagesSent,
    Retransmissions,
    StatusFramesReceived,
    UnexpectedStatusFrames,
    MessagesDelivered,
    MessagesRejected,
    StatusWaitTimeouts,
    MessagesDropped,
    // The executor.
    RequestsReceived,
    MalformedRequests,
    UnreadableRequests,
    RequestsLeftUnanswered,
    StatusOverridesApplied,
    ResponsesSent,
    LateAnswers, // a responder called twice, or after the executor restarted
    // Fault injection.
    MalformedFramesSent,
    Count_, // number of counters, not a counter
};

const char *ExchangeCounterName(ExchangeCounter counter);

class ExchangeCounters {
  public:
    void Count(ExchangeCounter counter) { ++values_[static_cast<size_t>(counter)]; }
    uint64_t Value(ExchangeCounter counter) const { return values_[static_cast<size_t>(counter)]; }
    // Adds every counter by name, zeros included.
    void AddTo(std::map<std::string, uint64_t> &snapshot) const;

  private:
    std::array<uint64_t, static_cast<size_t>(ExchangeCounter::Count_)> values_{};
};

} // namespace vuno::hostsim
