#include "journal.hpp"

#include <cstdio>

namespace vuno::hostsim {

const char *CounterName(Counter counter) {
    switch (counter) {
    case Counter::ConnectRequests:
        return "ConnectRequests";
    case Counter::DisconnectRequests:
        return "DisconnectRequests";
    case Counter::TransferDataRequests:
        return "TransferDataRequests";
    case Counter::UnknownMeCommands:
        return "UnknownMeCommands";
    case Counter::InvalidMeRequests:
        return "InvalidMeRequests";
    case Counter::DroppedRequests:
        return "DroppedRequests";
    case Counter::RefusedRequests:
        return "RefusedRequests";
    case Counter::MalformedMessages:
        return "MalformedMessages";
    case Counter::HeartbeatsSent:
        return "HeartbeatsSent";
    case Counter::HostRestarts:
        return "HostRestarts";
    case Counter::FramesToHost:
        return "FramesToHost";
    case Counter::UnhandledFrames:
        return "UnhandledFrames";
    case Counter::HostFramesDropped:
        return "HostFramesDropped";
    case Counter::MeRequestsSent:
        return "MeRequestsSent";
    case Counter::MeRepliesReceived:
        return "MeRepliesReceived";
    case Counter::BadMeReplies:
        return "BadMeReplies";
    case Counter::UnmatchedMeReplies:
        return "UnmatchedMeReplies";
    case Counter::MissingMeReplies:
        return "MissingMeReplies";
    case Counter::Count_:
        break;
    }
    return "?";
}

std::string Hex32(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::map<std::string, uint64_t> Journal::Snapshot() const {
    std::map<std::string, uint64_t> snapshot;
    for (size_t i = 0; i < values_.size(); ++i) {
        snapshot.emplace(CounterName(static_cast<Counter>(i)), values_[i]);
    }
    return snapshot;
}

void Journal::Note(const std::string &line) const {
    if (printLine_) {
        printLine_(line);
    }
}

} // namespace vuno::hostsim
