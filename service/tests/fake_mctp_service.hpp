// A stand-in for the platform's MCTP service on a private bus: it records
// every sendMessage call, answers as told, and emits mctpMessageReceived.
#pragma once

#include "bus_loop.hpp"

#include <sdbus-c++/IObject.h>
#include <sdbus-c++/MethodResult.h>
#include <sdbus-c++/Types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vuno::testing {

struct RecordedSend {
    uint8_t eid;
    uint8_t request;
    std::vector<uint8_t> payload;
};

class FakeMctpService {
  public:
    explicit FakeMctpService(boost::asio::io_context &io);

    // What sendMessage answers from now on.
    void AnswerWith(int32_t status, std::vector<uint8_t> response);
    // sendMessage fails with this D-Bus error from now on.
    void FailWith(std::string errorName);
    // Leaves calls unanswered until Release().
    void Hold() { holding_ = true; }
    // Answers the calls held so far.
    void Release();

    // Emits mctpMessageReceived with the given first argument.
    void EmitReceived(const std::vector<uint8_t> &message);
    void EmitReceivedWithoutArguments();
    void EmitReceivedWithNumber(uint32_t number);

    const std::vector<RecordedSend> &Sends() const { return sends_; }

  private:
    using Reply = sdbus::Result<sdbus::Struct<int32_t, std::vector<uint8_t>>>;

    void SendMessage(Reply &&reply, uint8_t eid, uint8_t request,
                     const std::vector<uint8_t> &payload);
    void Answer(const Reply &reply) const;
    sdbus::Signal NewSignal();
    void Emit(sdbus::Signal &signal);

    std::shared_ptr<dbus::BusLoop> bus_;
    std::unique_ptr<sdbus::IObject> object_;
    int32_t status_ = 0;
    std::vector<uint8_t> response_;
    std::optional<std::string> error_;
    std::vector<RecordedSend> sends_;
    bool holding_ = false;
    std::vector<Reply> held_;
};

} // namespace vuno::testing
