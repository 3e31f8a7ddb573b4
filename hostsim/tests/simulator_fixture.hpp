// A simulator in-process, with the BMC's side played by the test: what
// the MCTP service publishes is collected, and helpers send what a BMC
// would send.
#pragma once

#include "me_messages.hpp"
#include "simulator.hpp"
#include "vendor_header.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vuno::hostsim::testing {

inline Bytes ConnectRequest(uint32_t location) {
    const auto device = static_cast<uint8_t>((location >> 16) & 0x1F);
    const auto function = static_cast<uint8_t>((location >> 24) & 0x07);
    return Bytes{me::kConnect, static_cast<uint8_t>(location & 0xFF),
                 static_cast<uint8_t>((location >> 8) & 0xFF),
                 static_cast<uint8_t>(device << 3 | function)};
}

inline Bytes HeartbeatFrame(uint32_t id) {
    return Bytes{0x00, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                 static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
}

class SimulatorTest : public ::testing::Test {
  protected:
    void Start() {
        simulator_ = std::make_unique<Simulator>(
            settings_, [this](const Bytes &message) { received_.push_back(message); },
            [this](const std::string &line) { lines_.push_back(line); });
    }

    Simulator &Sim() { return *simulator_; }
    uint64_t Count(Counter counter) { return simulator_->Records().Value(counter); }

    // The answer to a request, or nothing while the ME holds it back.
    std::optional<MctpResult> Send(uint8_t endpoint, uint8_t requestFlag, ByteView payload) {
        std::optional<MctpResult> answer;
        simulator_->Mctp().SendMessage(endpoint, requestFlag, payload,
                                       [&answer](const MctpResult &result) { answer = result; });
        return answer;
    }

    MctpResult Request(const Bytes &message, uint8_t instanceId = 0) {
        return Send(kMeEndpointId, 1, WithVendorHeader(true, instanceId, message))
            .value_or(MctpResult{kMctpNoResponse, {}});
    }

    // The ME's status byte in a successful exchange; fails the test (and
    // returns 0xFF) for anything else.
    uint8_t MeStatus(const Bytes &message, uint8_t instanceId = 0) {
        const MctpResult result = Request(message, instanceId);
        EXPECT_EQ(result.status, kMctpSuccess);
        const Bytes expectedHeader = WithVendorHeader(false, instanceId, {});
        if (result.message.size() != kVendorHeaderSize + kResponseSize ||
            !std::equal(expectedHeader.begin(), expectedHeader.end(), result.message.begin())) {
            ADD_FAILURE() << "not a response to " << int(message.at(0));
            return 0xFF;
        }
        EXPECT_EQ(result.message[5], message.at(0)) << "response names another command";
        return result.message[6];
    }

    void ReplyToMe(uint8_t tag, const Bytes &reply) {
        const auto result = Send(kMeEndpointId, 0, WithVendorHeader(false, tag, reply));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, kMctpSuccess);
        EXPECT_TRUE(result->message.empty());
    }

    // Takes the ME requests published so far, checking their vendor
    // headers, and returns their BMC-ME messages.
    std::vector<Bytes> TakeMeRequests() {
        std::vector<Bytes> messages;
        for (const Bytes &payload : received_) {
            EXPECT_EQ(VendorHeaderProblem(payload, true), nullptr);
            messages.emplace_back(payload.begin() + kVendorHeaderSize, payload.end());
        }
        received_.clear();
        return messages;
    }

    // Answers the one outstanding ME request as a correct BMC would and
    // returns the frame it carried.
    Bytes AcceptNextFrame() {
        if (received_.size() != 1) {
            ADD_FAILURE() << received_.size() << " ME requests waiting, expected 1";
            return {};
        }
        const uint8_t tag = InstanceId(received_[0]);
        const Bytes message = TakeMeRequests()[0];
        ReplyToMe(tag, MeResponse(me::kTransferData, me::kDataReceived));
        return Bytes(message.begin() + kTransferDataHeaderSize, message.end());
    }

    Settings settings_;
    std::unique_ptr<Simulator> simulator_;
    std::vector<Bytes> received_;
    std::vector<std::string> lines_;
};

} // namespace vuno::hostsim::testing
