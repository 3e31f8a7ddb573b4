// The chipset's Management Engine as the BMC sees it: it answers the BMC's
// Connect, Disconnect and Transfer Data commands, keeps the link to the
// host's VMD mailbox register, and relays the host's frames to the BMC as
// its own Transfer Data requests, one at a time.
#pragma once

#include "bytes.hpp"
#include "clock.hpp"
#include "journal.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace vuno::hostsim {

// The host side of the VMD mailbox register.
class MailboxPeer {
  public:
    virtual ~MailboxPeer() = default;
    virtual void OnLinkUp() = 0;
    virtual void OnLinkDown() = 0;
    virtual void OnFrameFromBmc(ByteView frame) = 0;
};

// How the ME treats the BMC's next requests, for fault tests.
enum class ResponseMode {
    Normal,
    Drop,   // no response at all
    Refuse, // answered "busy" without being carried out
};

std::optional<ResponseMode> ParseResponseMode(std::string_view name);

constexpr uint32_t kDefaultLiveLocation = 0x05000000;
// How long the ME waits for the BMC to answer one of its requests before
// it gives up on it and sends the next one.
constexpr Duration kBmcReplyWait{2000};
// Frames waiting for the BMC beyond this are dropped: a BMC that stops
// answering must not make the simulator grow without bound.
constexpr size_t kMaxQueuedRequests = 256;
// Injected traffic may exceed the protocol's limits on purpose, within
// reason.
constexpr size_t kMaxInjectedSize = 64 * 1024;

class ManagementEngine {
  public:
    // Hands an ME request with its instance ID to the BMC.
    using ToBmc = std::function<void(uint8_t instanceId, ByteView message)>;

    ManagementEngine(Journal &journal, const Clock &clock, MailboxPeer &host, ToBmc toBmc,
                     std::set<uint32_t> liveLocations);

    // Receives the ME's answer to a BMC command, nothing when the ME does
    // not answer.
    using Answer = std::function<void(std::optional<Bytes> response)>;

    // A command from the BMC; `answer` runs at once, or later for a
    // Transfer Data while an answer delay is set.
    void HandleBmcRequest(ByteView request, const Answer &answer);
    // The BMC's answer to an ME request.
    void HandleBmcReply(uint8_t instanceId, ByteView reply);

    // A frame the host wrote to the mailbox; false when there is no link.
    bool RelayFromHost(ByteView frame);
    // Sent whatever the link state; false when larger than kMaxInjectedSize.
    bool InjectFrame(ByteView frame);
    bool InjectMessage(ByteView message);

    // Decides how later Connects to `location` end; a link already
    // established stays.
    void SetVmdLive(uint32_t location, bool live);
    void SetResponseMode(ResponseMode mode, uint32_t count);
    // Holds back the answers to the BMC's Transfer Data requests for
    // `delay` after their frames reached the host; zero answers at once.
    void SetTransferAnswerDelay(Duration delay) { answerDelay_ = delay; }

    bool Connected() const { return connected_; }
    uint32_t Location() const { return location_; }
    const std::vector<uint32_t> &ConnectAttempts() const { return connectAttempts_; }

    std::optional<Duration> NextDeadline() const;
    void OnTime();

  private:
    struct Outgoing {
        Bytes message;
        uint8_t expectedReply;
        bool fromHost; // dropped when the link goes down
    };
    struct HeldAnswer {
        Bytes response;
        Answer answer;
    };
    struct Outstanding {
        uint8_t instanceId;
        uint8_t expectedReply;
        Duration deadline;
    };

    void Record(ByteView request);
    std::optional<Bytes> Respond(ByteView request);
    void AnswerDue();
    uint8_t Execute(ByteView request);
    uint8_t Connect(ByteView request);
    uint8_t Disconnect(ByteView request);
    uint8_t TransferData(ByteView request);
    void Disconnected(bool forced);

    bool Enqueue(Outgoing outgoing);
    void SendNext();

    Journal &journal_;
    const Clock &clock_;
    MailboxPeer &host_;
    ToBmc toBmc_;
    std::set<uint32_t> liveLocations_;

    bool connected_ = false;
    uint32_t location_ = 0;
    std::vector<uint32_t> connectAttempts_;

    ResponseMode mode_ = ResponseMode::Normal;
    uint32_t modeCount_ = 0;
    Duration answerDelay_{0};
    // By the time they fall due; independent of the relay queue below, so
    // the host's frames reach the BMC while an answer is held.
    std::multimap<Duration, HeldAnswer> heldAnswers_;

    std::deque<Outgoing> queue_;
    std::optional<Outstanding> outstanding_;
    uint8_t nextInstanceId_ = 0;
};

} // namespace vuno::hostsim
