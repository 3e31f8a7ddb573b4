#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"
#include "ssi.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

struct Outcome {
    uint32_t status;
    uint32_t ssiStatus;
    bool record;
    bool operator==(const Outcome &) const = default;
};
using Outcomes = std::vector<Outcome>;

void PrintTo(const Outcome &o, std::ostream *os) {
    *os << "{" << o.status << ", 0x" << std::hex << o.ssiStatus << ", " << o.record << "}";
}

void record(uint32_t status, uint32_t ssiStatus, const void *record, void *outcomes) {
    static_cast<Outcomes *>(outcomes)->push_back({status, ssiStatus, record != nullptr});
}

constexpr uint8_t kNoData = 12;     // a command whose response carries no data
constexpr uint8_t kIdentifiers = 0; // a list: its response needs at least a count
constexpr uint8_t kVolumeId = 22;   // exactly 16 bytes of response data
constexpr uint8_t kGetEvents = 40;
constexpr uint32_t kNone = VUNO_SSI_STATUS_NO_RESPONSE;

Bytes response(uint8_t id, uint16_t ssiStatus, const Bytes &payload = {}) {
    Bytes message{static_cast<uint8_t>(id << 3 | 1), 0, 0, 0, 0, 0, 0};
    put_le16(&message[1], ssiStatus);
    put_le32(&message[3], static_cast<uint32_t>(payload.size()));
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

// The ways a request can end.
enum class End { Answered, AnsweredBeforeSent, TransferFailed, TimedOut, Reset, Lost, Removed };

struct SsiEngine : ::testing::Test {
    void SetUp() override {
        platform.createInstance();
        host.connect();
        platform.clearLogs();
    }

    int tryPrepare(uint8_t code, ssi_request **request, Outcomes *to = nullptr,
                   uint32_t payloadLength = 0) {
        return ssi_prepare_request(platform.instance, request, code, payloadLength, record,
                                   to != nullptr ? to : &outcomes);
    }
    ssi_request *prepare(uint8_t code = kNoData, Outcomes *to = nullptr) {
        ssi_request *request = nullptr;
        EXPECT_EQ(tryPrepare(code, &request, to), VUNO_STATUS_SUCCESS);
        return request;
    }
    // Handed to the Service Protocol, which has not reported back yet.
    void send(ssi_request *request) {
        ASSERT_EQ(ssi_send_request(platform.instance, request), VUNO_STATUS_COMMAND_PENDING);
    }
    // ...and reported as transmitted.
    void sent(ssi_request *request) {
        send(request);
        ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, request);
    }
    void respond(const Bytes &message) {
        ssi_response_received(platform.instance, message.data(),
                              static_cast<uint32_t>(message.size()));
    }
    void scan(unsigned ticks) {
        for (unsigned i = 0; i < ticks; ++i) {
            ssi_check_timeouts(platform.instance);
        }
    }
    void end(End way, ssi_request *r, uint16_t ssiStatus = 0, const Bytes &payload = {}) {
        const Bytes answer = response(r->command_id, ssiStatus, payload);
        switch (way) {
        case End::Answered:
            sent(r);
            respond(answer);
            break;
        case End::AnsweredBeforeSent:
            send(r);
            respond(answer);
            ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, r);
            break;
        case End::TransferFailed:
            send(r);
            ssi_request_sent(platform.instance, VUNO_STATUS_TRANSFER_TO_HOST_FAILED, r);
            break;
        case End::TimedOut:
            sent(r);
            scan(61);
            break;
        case End::Reset:
            send(r);
            ssi_terminate_requests(platform.instance, VUNO_STATUS_HOST_RESET);
            break;
        case End::Lost:
            sent(r);
            ssi_terminate_requests(platform.instance, VUNO_STATUS_HOST_NOT_CONNECTED);
            break;
        case End::Removed:
            ssi_remove_request(platform.instance, r);
            break;
        }
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> lines;
        for (const auto &entry : platform.logs) {
            if (entry.level == VUNO_LOG_ERROR) {
                lines.push_back(entry.message);
            }
        }
        return lines;
    }
    bool loggedStart(const std::string &start) const {
        for (const auto &entry : platform.logs) {
            if (entry.message.rfind(start, 0) == 0) {
                return true;
            }
        }
        return false;
    }

    FakePlatform platform;
    HostLink host{platform};
    Outcomes outcomes;
};

TEST_F(SsiEngine, IdentifiersAreTheSmallestFreeOfThirtyTwo) {
    ssi_request *request = nullptr;
    EXPECT_EQ(ssi_prepare_request(platform.instance, &request, kNoData, 0, nullptr, nullptr),
              VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(tryPrepare(kNoData, &request, nullptr, 0xFFFFFFFA), VUNO_STATUS_INVALID_PARAMETER);

    std::vector<ssi_request *> requests;
    for (uint8_t id = 0; id < 32; ++id) {
        ASSERT_EQ(tryPrepare(kNoData, &request, nullptr, 3), VUNO_STATUS_SUCCESS);
        EXPECT_EQ(request->message_length, 9u);
        EXPECT_EQ(Bytes(request->message, request->message + 6),
                  (Bytes{static_cast<uint8_t>(id << 3), kNoData, 3, 0, 0, 0}));
        requests.push_back(request);
    }
    EXPECT_EQ(tryPrepare(kNoData, &request), VUNO_STATUS_BUSY);
    EXPECT_TRUE(platform.logged("Lack of free command identifier."));

    ssi_remove_request(platform.instance, requests[9]);
    ssi_remove_request(platform.instance, requests[4]);
    EXPECT_EQ(prepare()->command_id, 4);
    EXPECT_EQ(prepare()->command_id, 9);
    EXPECT_TRUE(outcomes.empty());
}

TEST_F(SsiEngine, EveryWayARequestEndsCallsItsCallbackOnce) {
    const std::string answered = "SSI Response (cmd id 0, cmd code 0x";
    const struct {
        uint8_t code;
        End way;
        uint16_t ssiStatus;
        Bytes payload;
        Outcome outcome;
        std::string log;
    } cases[] = {
        {kNoData, End::Answered, 0, {}, {0, 0, false}, answered + "C) successfully received."},
        {kVolumeId,
         End::Answered,
         0,
         patterned(16),
         {0, 0, true},
         answered + "16) successfully received."},
        {kNoData,
         End::Answered,
         0x0108,
         {},
         {0, 0x0108, false},
         answered + "C) successfully received with invalid SSI status 0x108."},
        {kIdentifiers,
         End::Answered,
         0,
         {},
         {VUNO_STATUS_INTERNAL_ERROR, 0, false},
         answered + "0) successfully received - SSI Response parsing error."},
        {kNoData,
         End::AnsweredBeforeSent,
         3,
         {},
         {VUNO_STATUS_INTERNAL_ERROR, 3, false},
         "Received SSI Response for an unsent SSI Request 0x"},
        {kNoData,
         End::TransferFailed,
         0,
         {},
         {VUNO_STATUS_TRANSFER_TO_HOST_FAILED, kNone, false},
         "Error during sending SSI request, status 10"},
        {kNoData,
         End::TimedOut,
         0,
         {},
         {VUNO_STATUS_TIMEOUT, kNone, false},
         "Timeout: SSI Request with Command Id 0 terminated."},
        {kNoData,
         End::Reset,
         0,
         {},
         {VUNO_STATUS_HOST_RESET, kNone, false},
         "SSI Requests terminated."},
        {kNoData,
         End::Lost,
         0,
         {},
         {VUNO_STATUS_HOST_NOT_CONNECTED, kNone, false},
         "SSI Requests terminated."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.log);
        outcomes.clear();
        platform.clearLogs();
        ssi_request *request = prepare(c.code);
        ASSERT_EQ(request->command_id, 0);
        end(c.way, request, c.ssiStatus, c.payload);
        EXPECT_EQ(outcomes, Outcomes{c.outcome});
        EXPECT_TRUE(loggedStart(c.log));

        // Whatever follows finds the request gone.
        respond(response(0, 0));
        scan(100);
        ssi_terminate_requests(platform.instance, VUNO_STATUS_HOST_RESET);
        EXPECT_EQ(outcomes.size(), 1u);
    }
}

struct GetEventsEnding {
    End way;
    uint16_t ssiStatus;
    unsigned freed;
};

struct GetEventsLimit : SsiEngine, ::testing::WithParamInterface<GetEventsEnding> {};

TEST_P(GetEventsLimit, ThirtyAtMostAndEveryEndingGivesItsPlaceBack) {
    std::vector<ssi_request *> events;
    for (int i = 0; i < 30; ++i) {
        events.push_back(prepare(kGetEvents));
    }
    ssi_request *request = nullptr;
    EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_BUSY);
    EXPECT_TRUE(platform.loggedError("Exceeded get_events call limit"));
    prepare(kNoData);

    end(GetParam().way, events[7], GetParam().ssiStatus, {0, 0});
    unsigned accepted = 0;
    while (accepted <= 32 && tryPrepare(kGetEvents, &request) == VUNO_STATUS_SUCCESS) {
        ++accepted;
    }
    EXPECT_EQ(accepted, GetParam().freed);
    EXPECT_FALSE(platform.loggedError("Unexpected number of get_events calls"));
}

INSTANTIATE_TEST_SUITE_P(Endings, GetEventsLimit,
                         ::testing::Values(GetEventsEnding{End::Answered, 0, 1},
                                           GetEventsEnding{End::Answered, 0x0102, 1},
                                           GetEventsEnding{End::AnsweredBeforeSent, 0, 1},
                                           GetEventsEnding{End::TransferFailed, 0, 1},
                                           GetEventsEnding{End::Removed, 0, 1},
                                           GetEventsEnding{End::Reset, 0, 30}));

TEST_F(SsiEngine, SentRequestsTimeOutOneATickAndGetEventsNever) {
    Outcomes older, newer, events;
    sent(prepare(kNoData, &older));
    ssi_request *waiting = prepare(kNoData, &newer);
    send(waiting);
    sent(prepare(kGetEvents, &events));
    scan(100); // nothing ages behind a request still being transmitted
    EXPECT_TRUE(older.empty() && newer.empty());

    ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, waiting);
    scan(60);
    EXPECT_TRUE(older.empty() && newer.empty());
    scan(1);
    EXPECT_EQ(newer, (Outcomes{{VUNO_STATUS_TIMEOUT, kNone, false}}));
    EXPECT_TRUE(older.empty());
    EXPECT_TRUE(platform.loggedError("Timeout: SSI Request with Command Id 1 terminated."));
    scan(1);
    EXPECT_EQ(older.size(), 1u);
    scan(1000);
    EXPECT_TRUE(events.empty());
}

TEST_F(SsiEngine, MalformedResponsesAreDroppedAndTheRequestWaitsOn) {
    Bytes longField = response(0, 0, {1});
    put_le32(&longField[3], 2);
    Bytes shortField = response(0, 0, {1, 2});
    put_le32(&shortField[3], 1);
    const struct {
        const char *name;
        Bytes message;
        std::string error;
    } cases[] = {
        {"six bytes", {0x01, 0, 0, 0, 0, 0}, "SSI Response size in bytes: 6 is too small."},
        {"short request", {0x00, 0, 0}, "SSI Response size in bytes: 3 is too small."},
        {"request type",
         {0x00, 0, 0, 0, 0, 0, 0},
         "SSI Response received with invalid Message Type: 0."},
        {"type 2", {0x02, 0, 0, 0, 0, 0, 0}, "SSI Response received with invalid Message Type: 2."},
        {"length field + 1", longField, "Invalid SSI Response message size: 8."},
        {"length field - 1", shortField, "Invalid SSI Response message size: 9."},
        {"other identifier", response(7, 0), "Invalid SSI Response command identifier: 7."},
    };
    sent(prepare());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        platform.clearLogs();
        respond(c.message);
        EXPECT_EQ(errors(), std::vector<std::string>{c.error});
    }
    EXPECT_TRUE(outcomes.empty());
    scan(61);
    EXPECT_EQ(outcomes, (Outcomes{{VUNO_STATUS_TIMEOUT, kNone, false}}));
}

TEST_F(SsiEngine, LateResponseFindsOnlyANewerRequestWithItsIdentifier) {
    Outcomes first, second;
    sent(prepare(kNoData, &first));
    scan(61);
    ASSERT_EQ(first.size(), 1u);
    const Bytes late = response(0, 0);
    respond(late);
    EXPECT_TRUE(platform.loggedError("Invalid SSI Response command identifier: 0."));

    ssi_request *newer = prepare(kNoData, &second);
    ASSERT_EQ(newer->command_id, 0);
    sent(newer);
    respond(late);
    EXPECT_EQ(second, (Outcomes{{0, 0, false}}));
    EXPECT_EQ(first.size(), 1u);
}

TEST(SsiWithoutLink, RefusedSendGivesTheIdentifierBackWithoutCallback) {
    FakePlatform platform;
    platform.createInstance();
    Outcomes outcomes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ssi_request *request = nullptr;
        ASSERT_EQ(ssi_prepare_request(platform.instance, &request, kNoData, 0, record, &outcomes),
                  VUNO_STATUS_SUCCESS);
        EXPECT_EQ(request->command_id, 0);
        EXPECT_EQ(ssi_send_request(platform.instance, request), VUNO_STATUS_HOST_NOT_CONNECTED);
    }
    EXPECT_TRUE(platform.logged("Send SSI request with cmd id 0, cmd code 0xC "));
    EXPECT_TRUE(outcomes.empty());
}

// The whole way through the Service Protocol.

TEST_F(SsiEngine, RequestTravelsAsOneMessageAndItsResponseCompletesIt) {
    ssi_request *request = nullptr;
    ASSERT_EQ(tryPrepare(kNoData, &request, nullptr, 2), VUNO_STATUS_SUCCESS);
    request->message[6] = 0xAA;
    request->message[7] = 0xBB;
    send(request);
    EXPECT_EQ(host.pump(), messageFrames({0x00, kNoData, 2, 0, 0, 0, 0xAA, 0xBB}));
    host.sendStatus(0);
    host.pump();
    EXPECT_TRUE(platform.logged("SSI Request successfully sent."));
    host.sendMessage(response(0, 0));
    host.pump();
    EXPECT_EQ(outcomes, (Outcomes{{0, 0, false}}));
}

TEST_F(SsiEngine, ResponseOvertakingTheHostsStatusFrameFindsItsRequestSent) {
    send(prepare());
    host.pump();                      // waiting for the host's Status Frame
    host.sendMessage(response(0, 0)); // the answer comes first
    vuno_process_requests(platform.instance);
    host.sendStatus(0); // the verdict arrives while our own Status Frame is out
    host.answerTransfer();
    host.pump();
    EXPECT_EQ(outcomes, (Outcomes{{0, 0, false}}));
}

} // namespace
} // namespace vuno::testing
