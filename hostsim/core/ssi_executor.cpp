#include "ssi_executor.hpp"

#include "wire.hpp"

#include <algorithm>
#include <string>

namespace vuno::hostsim {
namespace {

// Byte 0 of an SSI header: the command identifier in bits 7..3, the
// message type in bits 2..0.
constexpr uint8_t kTypeRequest = 0;
constexpr uint8_t kTypeResponse = 1;

} // namespace

Bytes SsiResponse(uint8_t identifier, uint16_t status, ByteView payload) {
    Bytes message(kSsiResponseHeaderSize + payload.size());
    message[0] = static_cast<uint8_t>(identifier << 3 | kTypeResponse);
    PutLe16(&message[1], status);
    PutLe32(&message[3], static_cast<uint32_t>(payload.size()));
    std::ranges::copy(payload, message.begin() + kSsiResponseHeaderSize);
    return message;
}

SsiExecutor::SsiExecutor(Journal &journal, ExchangeCounters &counters, SendMessage sendMessage,
                         std::unique_ptr<CommandHandler> handler)
    : journal_(journal), counters_(counters), sendMessage_(std::move(sendMessage)),
      handler_(std::move(handler)), self_(std::make_shared<SsiExecutor *>(this)) {}

void SsiExecutor::SetHandler(std::unique_ptr<CommandHandler> handler) {
    Forget();
    handler_ = std::move(handler);
}

void SsiExecutor::Restart() {
    Forget();
    handler_->Restart();
}

void SsiExecutor::Forget() {
    ++generation_;
}

void SsiExecutor::OnRequest(ByteView message) {
    if (message.empty()) {
        counters_.Count(ExchangeCounter::UnreadableRequests);
        journal_.Note("Executor: empty request ignored");
        return;
    }
    counters_.Count(ExchangeCounter::RequestsReceived);
    const uint8_t identifier = static_cast<uint8_t>(message[0] >> 3);
    if (unanswered_ > 0) {
        --unanswered_;
        counters_.Count(ExchangeCounter::RequestsLeftUnanswered);
        journal_.Note("Executor: request " + std::to_string(identifier) + " left unanswered");
        return;
    }
    const uint8_t type = static_cast<uint8_t>(message[0] & 0x07);
    if (type != kTypeRequest) {
        Refuse(identifier, ssi::kInvalidFieldInCommand, "message type " + std::to_string(type));
        return;
    }
    if (message.size() < kSsiRequestHeaderSize) {
        Refuse(identifier, ssi::kRequestDataLengthInvalid,
               "header cut short at " + std::to_string(message.size()) + " bytes");
        return;
    }
    const uint32_t payloadLength = GetLe32(&message[2]);
    if (payloadLength != message.size() - kSsiRequestHeaderSize) {
        Refuse(identifier, ssi::kRequestDataLengthInvalid,
               "payload length " + std::to_string(payloadLength) + " in a message of " +
                   std::to_string(message.size()) + " bytes");
        return;
    }
    const uint8_t code = message[1];
    if (code > kMaxCommandCode) {
        Refuse(identifier, ssi::kInvalidCommandCode, "command code " + std::to_string(code));
        return;
    }
    if (const auto override = overrides_.find(code); override != overrides_.end()) {
        counters_.Count(ExchangeCounter::StatusOverridesApplied);
        Answer(identifier, SsiAnswer{override->second, {}});
        return;
    }
    handler_->Handle(code, message.subspan(kSsiRequestHeaderSize), MakeResponder(identifier));
}

CommandHandler::Responder SsiExecutor::MakeResponder(uint8_t identifier) {
    return [owner = std::weak_ptr<SsiExecutor *>(self_), generation = generation_, identifier,
            answered = std::make_shared<bool>(false)](SsiAnswer answer) {
        const auto executor = owner.lock();
        if (!executor) {
            return;
        }
        (*executor)->OnAnswer(generation, identifier, *answered, std::move(answer));
    };
}

void SsiExecutor::OnAnswer(uint64_t generation, uint8_t identifier, bool &answered,
                           SsiAnswer answer) {
    if (answered || generation != generation_) {
        counters_.Count(ExchangeCounter::LateAnswers);
        journal_.Note("Executor: late answer to request " + std::to_string(identifier) +
                      " dropped");
        return;
    }
    answered = true;
    Answer(identifier, std::move(answer));
}

void SsiExecutor::Refuse(uint8_t identifier, uint16_t status, const std::string &problem) {
    counters_.Count(ExchangeCounter::MalformedRequests);
    journal_.Note("Executor: request " + std::to_string(identifier) + " refused with status " +
                  std::to_string(status) + ": " + problem);
    Answer(identifier, SsiAnswer{status, {}});
}

void SsiExecutor::Answer(uint8_t identifier, SsiAnswer answer) {
    if (answer.payload.size() > sp::kMaxMessageSize - kSsiResponseHeaderSize) {
        journal_.Note("Executor: answer of " + std::to_string(answer.payload.size()) +
                      " bytes does not fit in a message");
        answer = SsiAnswer{ssi::kInternalError, {}};
    }
    if (sendMessage_(SsiResponse(identifier, answer.status, answer.payload))) {
        counters_.Count(ExchangeCounter::ResponsesSent);
    }
}

} // namespace vuno::hostsim
