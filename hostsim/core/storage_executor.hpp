// The host's executor of the 41 storage commands: parses each command's
// payload, checks it as the host's RAID application would, applies it to
// the RAID model and encodes the answer.
//
// A payload of the wrong length is refused with RequestDataLengthInvalid
// and reserved bits that are not zero with InvalidFieldInCommand, before
// any field is judged. GetEvents answers with the queued events, at most
// as many as its 32-bit argument asks for (0 asks for all of them); when
// none are queued it keeps the request and answers it as soon as an event
// arrives. Cancelling a subscription answers the requests it kept with
// InvalidSubscription.
#pragma once

#include "command_handler.hpp"
#include "raid_model.hpp"
#include "storage_commands.hpp"

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace vuno::hostsim {

class StorageExecutor : public CommandHandler {
  public:
    // The model must outlive the executor.
    explicit StorageExecutor(RaidModel &model);
    ~StorageExecutor() override;
    StorageExecutor(const StorageExecutor &) = delete;
    StorageExecutor &operator=(const StorageExecutor &) = delete;

    void Handle(uint8_t commandCode, ByteView payload, Responder respond) override;

    // Subscriptions and the requests kept for them go with the old
    // application.
    void Restart() override;
    size_t HeldRequests() const { return held_.size(); }

  private:
    struct HeldRequest {
        Identifier subscription{};
        uint32_t limit = 0;
        Responder respond;
    };

    SsiAnswer CreateSubscription(ByteView payload);
    // Moves the requests held for the cancelled subscription to `orphaned`.
    SsiAnswer CancelSubscription(ByteView payload, std::vector<Responder> &orphaned);
    // Takes the responder, and answers nothing, when the request is held.
    std::optional<SsiAnswer> GetEvents(ByteView payload, Responder &respond);
    void OnEventsQueued(const Identifier &subscription);
    void AnswerHeld(const Identifier &subscription);

    RaidModel &model_;
    std::deque<HeldRequest> held_;
    // While a command runs, events it raises wait until it is answered.
    bool handling_ = false;
    std::vector<Identifier> queuedMeanwhile_;
};

} // namespace vuno::hostsim
