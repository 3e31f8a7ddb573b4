// The host's side of the Service Protocol. It answers every message of the
// BMC with a Status Frame and hands the intact ones on, and it sends the
// host's own messages (SSI responses) one at a time as Data Frames,
// resending a message the BMC reports corrupted and giving up on one the
// BMC rejects or leaves unanswered.
//
// Data Frames go into the mailbox one at a time: the next is written when
// the ME has taken the previous one, so a message in progress can still be
// dropped. Status Frames do not wait for the mailbox.
#pragma once

#include "bytes.hpp"
#include "clock.hpp"
#include "exchange_counters.hpp"
#include "journal.hpp"
#include "message_reassembly.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace vuno::hostsim {

// How long the host waits for the BMC's Status Frame after its last frame.
constexpr Duration kStatusFrameWait{21000};
// Resends of one message after CRC errors before the host gives up.
constexpr uint8_t kMaxRetransmissions = 6;

class ServiceProtocolHost {
  public:
    // Writes a frame to the mailbox; false when it could not be written.
    using SendFrame = std::function<bool(ByteView frame)>;
    // An intact message of the BMC, after its Status Frame was written.
    using Deliver = std::function<void(ByteView message)>;

    ServiceProtocolHost(Journal &journal, ExchangeCounters &counters, const Clock &clock,
                        SendFrame sendFrame, Deliver deliver);

    // A Data or Status Frame from the BMC; anything else is not for this
    // layer and is counted as unhandled.
    void OnFrameFromBmc(ByteView frame);
    // Queues one of the host's messages; false when its size is outside the
    // protocol's limits.
    bool Send(Bytes message);
    // The ME has read `frame` from the mailbox.
    void OnFrameLeftMailbox(ByteView frame);
    // Drops the message under reception and every message still to be
    // sent or confirmed.
    void Reset();
    // The mailbox is gone, and with it any frame still in it.
    void OnLinkDown();

    // The next `count` complete messages of the BMC are answered with
    // `status` instead of their real verdict.
    void ReplaceVerdicts(uint8_t status, uint32_t count);
    // The next `count` complete messages of the BMC get no Status Frame and
    // go no further.
    void WithholdVerdicts(uint32_t count);

    bool Idle() const { return !sending_ && queue_.empty(); }
    std::optional<Duration> NextDeadline() const;
    void OnTime();

  private:
    struct Outgoing {
        Outgoing(Bytes message, uint32_t checksum) : payload(std::move(message)), crc(checksum) {}

        Bytes payload;
        uint32_t crc;
        uint32_t offset = 0; // payload bytes in the frames written so far
        uint16_t nextIndex = 0;
        uint8_t retransmissions = 0;
        std::optional<Duration> statusDeadline;
    };

    void OnDataFrame(ByteView frame);
    void OnVerdict(Verdict verdict);
    void WriteStatusFrame(uint8_t status);
    void OnStatusFrame(uint8_t status);
    void Retransmit();
    void Finish(ExchangeCounter outcome, const std::string &how);
    void Pump();
    bool WriteNextFrame();
    void DropOutgoing();

    Journal &journal_;
    ExchangeCounters &counters_;
    const Clock &clock_;
    SendFrame sendFrame_;
    Deliver deliver_;

    MessageReassembly reassembly_;
    uint32_t verdictsToWithhold_ = 0;
    uint32_t verdictsToReplace_ = 0;
    uint8_t replacementStatus_ = 0;

    std::deque<Bytes> queue_;
    std::optional<Outgoing> sending_;
    Bytes inMailbox_; // the last Data Frame written, until the ME reads it
};

} // namespace vuno::hostsim
