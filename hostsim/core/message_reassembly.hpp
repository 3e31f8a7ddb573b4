// The host's reception of one message of the BMC from its Data Frames: the
// checks a frame must pass, the reassembly of the parts and the checksum
// of the whole. Every outcome that the BMC is to hear about comes back as
// a verdict, the status value of the Status Frame that answers it.
#pragma once

#include "bytes.hpp"
#include "exchange_counters.hpp"
#include "wire.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace vuno::hostsim {

struct Verdict {
    uint8_t status = 0;
    // The whole message, when it arrived intact (status 0).
    Bytes message;
    // A whole message was judged (0 or a CRC error), not a single frame.
    bool messageComplete = false;
    // Why the status is not 0, for the journal.
    std::string problem;
};

class MessageReassembly {
  public:
    explicit MessageReassembly(ExchangeCounters &counters) : counters_(counters) {}

    // One Data Frame (frame type 1). Nothing while more frames are due. A
    // rejected frame leaves the message under reception as it was, so
    // the right frame may still follow.
    std::optional<Verdict> Accept(ByteView frame);
    // Forgets the message under reception, if any.
    void Abandon();
    bool Receiving() const { return receiving_.has_value(); }

  private:
    struct Reception {
        sp::FirstHeader header;
        uint16_t lastIndex;
        Bytes payload;
    };

    std::optional<Verdict> AcceptFirst(ByteView frame);
    std::optional<Verdict> AcceptLater(ByteView frame);
    std::optional<Verdict> Completion();

    ExchangeCounters &counters_;
    std::optional<Reception> receiving_;
};

} // namespace vuno::hostsim
