// The host's SSI executor as far as the message format goes: it reads the
// request header, refuses what a real executor refuses with the SSI
// status it would give, hands good requests to the command handler and
// turns every answer into a response message.
#pragma once

#include "bytes.hpp"
#include "command_handler.hpp"
#include "exchange_counters.hpp"
#include "journal.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace vuno::hostsim {

constexpr size_t kSsiRequestHeaderSize = 6;
constexpr size_t kSsiResponseHeaderSize = 7;
constexpr uint8_t kMaxCommandCode = 40;

// SSI statuses the executor gives on its own account.
namespace ssi {
constexpr uint16_t kSuccess = 0;
constexpr uint16_t kInvalidCommandCode = 1;
constexpr uint16_t kInvalidFieldInCommand = 2;
constexpr uint16_t kRequestDataLengthInvalid = 4;
constexpr uint16_t kInternalError = 5;
} // namespace ssi

// A response message: the header with the identifier echoed, then the
// payload.
Bytes SsiResponse(uint8_t identifier, uint16_t status, ByteView payload);

class SsiExecutor {
  public:
    // Hands a response to the Service Protocol; false when it was refused.
    using SendMessage = std::function<bool(Bytes message)>;

    SsiExecutor(Journal &journal, ExchangeCounters &counters, SendMessage sendMessage,
                std::unique_ptr<CommandHandler> handler);
    SsiExecutor(const SsiExecutor &) = delete;
    SsiExecutor &operator=(const SsiExecutor &) = delete;

    // Answers still owed by the old handler are dropped when they come.
    void SetHandler(std::unique_ptr<CommandHandler> handler);
    CommandHandler &Handler() { return *handler_; }

    // One message of the BMC (Service ID 1).
    void OnRequest(ByteView message);
    // A restarted executor owes no answers: later ones are dropped.
    void Restart();

    // Fault injection: the next `count` requests get no answer at all.
    void LeaveUnanswered(uint32_t count) { unanswered_ = count; }
    // Fault injection: requests with `code` are answered with `status` and
    // no payload, without reaching the handler, until cleared.
    void OverrideStatus(uint8_t code, uint16_t status) { overrides_[code] = status; }
    void ClearStatusOverride(uint8_t code) { overrides_.erase(code); }
    void ClearStatusOverrides() { overrides_.clear(); }

  private:
    CommandHandler::Responder MakeResponder(uint8_t identifier);
    void OnAnswer(uint64_t generation, uint8_t identifier, bool &answered, SsiAnswer answer);
    void Refuse(uint8_t identifier, uint16_t status, const std::string &problem);
    void Answer(uint8_t identifier, SsiAnswer answer);
    void Forget();

    Journal &journal_;
    ExchangeCounters &counters_;
    SendMessage sendMessage_;
    std::unique_ptr<CommandHandler> handler_;

    // Responders hold this weakly, so one that outlives the executor does
    // nothing; one from an earlier generation answers too late.
    std::shared_ptr<SsiExecutor *> self_;
    uint64_t generation_ = 0;

    uint32_t unanswered_ = 0;
    std::map<uint8_t, uint16_t> overrides_;
};

} // namespace vuno::hostsim
