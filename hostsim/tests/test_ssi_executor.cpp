// The executor shell: request headers in, response headers out, refusals a
// real executor would give, and answers that come late or twice.
#include "default_command_handler.hpp"
#include "ssi_executor.hpp"

#include <gtest/gtest.h>

namespace vuno::hostsim {
namespace {

struct Call {
    uint8_t code;
    Bytes payload;
};

// Records what reaches it; answers at once with `answer`, or keeps the
// responder when told to hold.
class RecordingHandler : public CommandHandler {
  public:
    void Handle(uint8_t commandCode, ByteView payload, Responder respond) override {
        calls.push_back({commandCode, Bytes(payload.begin(), payload.end())});
        if (hold) {
            held.push_back(std::move(respond));
            return;
        }
        respond(answer);
    }

    std::vector<Call> calls;
    SsiAnswer answer;
    bool hold = false;
    std::vector<Responder> held;
};

// Byte 0 with the identifier in bits 7..3 and the type in bits 2..0.
uint8_t Byte0(uint8_t identifier, uint8_t type) {
    return uint8_t(identifier << 3 | type);
}

Bytes Request(uint8_t identifier, uint8_t code, const Bytes &payload) {
    const auto length = uint32_t(payload.size());
    Bytes message{Byte0(identifier, 0),  code,
                  uint8_t(length),       uint8_t(length >> 8),
                  uint8_t(length >> 16), uint8_t(length >> 24)};
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

Bytes Response(uint8_t identifier, uint16_t status, const Bytes &payload = {}) {
    const auto length = uint32_t(payload.size());
    Bytes message{Byte0(identifier, 1), uint8_t(status),      uint8_t(status >> 8),
                  uint8_t(length),      uint8_t(length >> 8), uint8_t(length >> 16),
                  uint8_t(length >> 24)};
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

class SsiExecutorTest : public ::testing::Test {
  protected:
    SsiExecutorTest() {
        auto handler = std::make_unique<RecordingHandler>();
        handler_ = handler.get();
        executor_ = std::make_unique<SsiExecutor>(
            journal_, counters_,
            [this](Bytes message) {
                sent_.push_back(std::move(message));
                return true;
            },
            std::move(handler));
    }

    uint64_t Count(ExchangeCounter counter) const { return counters_.Value(counter); }

    Journal journal_{nullptr};
    ExchangeCounters counters_;
    std::vector<Bytes> sent_;
    RecordingHandler *handler_;
    std::unique_ptr<SsiExecutor> executor_;
};

TEST_F(SsiExecutorTest, RequestReachesTheHandlerAndItsAnswerGoesBack) {
    handler_->answer = {0x0108, {0xDE, 0xAD}};
    executor_->OnRequest(Request(31, 40, {1, 2, 3}));
    ASSERT_EQ(handler_->calls.size(), 1u);
    EXPECT_EQ(handler_->calls[0].code, 40);
    EXPECT_EQ(handler_->calls[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(sent_, std::vector<Bytes>{Response(31, 0x0108, {0xDE, 0xAD})});

    handler_->answer = {};
    executor_->OnRequest(Request(0, 10, {}));
    EXPECT_EQ(sent_.back(), (Bytes{0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Count(ExchangeCounter::ResponsesSent), 2u);
}

TEST_F(SsiExecutorTest, MalformedRequestsAreRefusedWithTheIdentifierEchoed) {
    Bytes tooLong = Request(9, 15, Bytes(16, 0));
    tooLong[2] = 15;
    Bytes tooShort = Request(10, 15, Bytes(16, 0));
    tooShort[2] = 17;
    Bytes response = Request(11, 15, {});
    response[0] = Byte0(11, 1);
    Bytes otherType = Request(12, 15, {});
    otherType[0] = Byte0(12, 7);
    struct Case {
        const char *name;
        Bytes request;
        Bytes answer;
    };
    const Case cases[] = {
        {"header of one byte", {Byte0(3, 0)}, Response(3, ssi::kRequestDataLengthInvalid)},
        {"header of five bytes", {Byte0(4, 0), 15, 0, 0, 0}, Response(4, 4)},
        {"length field one short", tooLong, Response(9, ssi::kRequestDataLengthInvalid)},
        {"length field one long", tooShort, Response(10, ssi::kRequestDataLengthInvalid)},
        {"message type 1", response, Response(11, ssi::kInvalidFieldInCommand)},
        {"message type 7", otherType, Response(12, ssi::kInvalidFieldInCommand)},
        {"command code 41", Request(13, 41, {}), Response(13, ssi::kInvalidCommandCode)},
        {"command code 255", Request(14, 255, {}), Response(14, ssi::kInvalidCommandCode)},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        sent_.clear();
        executor_->OnRequest(test.request);
        EXPECT_EQ(sent_, std::vector<Bytes>{test.answer});
    }
    EXPECT_TRUE(handler_->calls.empty());
    EXPECT_EQ(Count(ExchangeCounter::MalformedRequests), std::size(cases));
}

TEST_F(SsiExecutorTest, StatusOverrideAnswersInPlaceOfTheHandlerUntilCleared) {
    executor_->OverrideStatus(15, 264);
    executor_->OverrideStatus(16, 265);
    executor_->OnRequest(Request(1, 15, Bytes(16, 0)));
    EXPECT_EQ(sent_.back(), Response(1, 264));
    EXPECT_TRUE(handler_->calls.empty());
    executor_->ClearStatusOverride(15);
    executor_->OnRequest(Request(2, 15, Bytes(16, 0)));
    executor_->OnRequest(Request(3, 16, Bytes(16, 0)));
    EXPECT_EQ(sent_.back(), Response(3, 265));
    executor_->ClearStatusOverrides();
    executor_->OnRequest(Request(4, 16, Bytes(16, 0)));
    EXPECT_EQ(handler_->calls.size(), 2u);
    EXPECT_EQ(Count(ExchangeCounter::StatusOverridesApplied), 2u);
}

TEST_F(SsiExecutorTest, UnansweredRequestsAreCountedAndLaterOnesAnswered) {
    executor_->LeaveUnanswered(2);
    for (uint8_t identifier = 0; identifier < 3; ++identifier) {
        executor_->OnRequest(Request(identifier, 15, {}));
    }
    EXPECT_EQ(sent_, std::vector<Bytes>{Response(2, 0)});
    EXPECT_EQ(Count(ExchangeCounter::RequestsLeftUnanswered), 2u);
}

TEST_F(SsiExecutorTest, HeldAnswerGoesOnceAndNotAfterARestart) {
    handler_->hold = true;
    executor_->OnRequest(Request(5, 40, {}));
    executor_->OnRequest(Request(6, 40, {}));
    ASSERT_EQ(handler_->held.size(), 2u);
    EXPECT_TRUE(sent_.empty());

    handler_->held[0]({0, {0x00, 0x00}});
    handler_->held[0]({0, {}});
    EXPECT_EQ(sent_, std::vector<Bytes>{Response(5, 0, {0x00, 0x00})});

    executor_->Restart();
    handler_->held[1]({0, {}});
    EXPECT_EQ(sent_.size(), 1u);
    EXPECT_EQ(Count(ExchangeCounter::LateAnswers), 2u);

    // A responder may outlive the executor without harm.
    executor_->OnRequest(Request(7, 40, {}));
    auto responder = handler_->held.back();
    executor_.reset();
    responder({0, {}});
}

TEST_F(SsiExecutorTest, ReplacedHandlerTakesOverAndTheOldOnesAnswersAreDropped) {
    handler_->hold = true;
    executor_->OnRequest(Request(5, 40, {}));
    auto oldResponder = handler_->held.at(0);
    auto replacement = std::make_unique<RecordingHandler>();
    RecordingHandler &newHandler = *replacement;
    executor_->SetHandler(std::move(replacement));
    oldResponder({0, {}});
    EXPECT_TRUE(sent_.empty());
    executor_->OnRequest(Request(6, 3, {}));
    EXPECT_EQ(newHandler.calls.size(), 1u);
    EXPECT_EQ(sent_, std::vector<Bytes>{Response(6, 0)});
}

TEST(DefaultCommandHandlerTest, SucceedsWithoutDataUnlessAStatusIsSet) {
    DefaultCommandHandler handler;
    std::vector<SsiAnswer> answers;
    auto record = [&answers](SsiAnswer answer) { answers.push_back(std::move(answer)); };
    handler.SetStatus(22, 259);
    handler.Handle(22, Bytes(62, 0), record);
    handler.Handle(21, Bytes(16, 0), record);
    handler.ClearStatus(22);
    handler.Handle(22, Bytes(62, 0), record);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].status, 259);
    EXPECT_EQ(answers[1].status, 0);
    EXPECT_EQ(answers[2].status, 0);
    for (const SsiAnswer &answer : answers) {
        EXPECT_TRUE(answer.payload.empty());
    }
}

} // namespace
} // namespace vuno::hostsim
