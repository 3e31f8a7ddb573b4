#include "exchange_counters.hpp"

namespace vuno::hostsim {

const char *ExchangeCounterName(ExchangeCounter counter) {
    switch (counter) {
    case ExchangeCounter::DataFramesReceived:
        return "DataFramesReceived";
    case ExchangeCounter::FrameErrors:
        return "FrameErrors";
    case ExchangeCounter::MessagesReceived:
        return "MessagesReceived";
    case ExchangeCounter::CrcErrors:
        return "CrcErrors";
    case ExchangeCounter::MessagesAbandoned:
        return "MessagesAbandoned";
    case ExchangeCounter::StatusFramesSent:
        return "StatusFramesSent";
    case ExchangeCounter::StatusFramesWithheld:
        return "StatusFramesWithheld";
    case ExchangeCounter::VerdictsReplaced:
        return "VerdictsReplaced";
    case ExchangeCounter::MessagesSent:
        return "MessagesSent";
    case ExchangeCounter::Retransmissions:
        return "Retransmissions";
    case ExchangeCounter::StatusFramesReceived:
        return "StatusFramesReceived";
    case ExchangeCounter::UnexpectedStatusFrames:
        return "UnexpectedStatusFrames";
    case ExchangeCounter::MessagesDelivered:
        return "MessagesDelivered";
    case ExchangeCounter::MessagesRejected:
        return "MessagesRejected";
    case ExchangeCounter::StatusWaitTimeouts:
        return "StatusWaitTimeouts";
    case ExchangeCounter::MessagesDropped:
        return "MessagesDropped";
    case ExchangeCounter::RequestsReceived:
        return "RequestsReceived";
    case ExchangeCounter::MalformedRequests:
        return "MalformedRequests";
    case ExchangeCounter::UnreadableRequests:
        return "UnreadableRequests";
    case ExchangeCounter::RequestsLeftUnanswered:
        return "RequestsLeftUnanswered";
    case ExchangeCounter::StatusOverridesApplied:
        return "StatusOverridesApplied";
    case ExchangeCounter::ResponsesSent:
        return "ResponsesSent";
    case ExchangeCounter::LateAnswers:
        return "LateAnswers";
    case ExchangeCounter::MalformedFramesSent:
        return "MalformedFramesSent";
    case ExchangeCounter::Count_:
        break;
    }
    return "?";
}

void ExchangeCounters::AddTo(std::map<std::string, uint64_t> &snapshot) const {
    for (size_t i = 0; i < values_.size(); ++i) {
        snapshot.emplace(ExchangeCounterName(static_cast<ExchangeCounter>(i)), values_[i]);
    }
}

} // namespace vuno::hostsim
