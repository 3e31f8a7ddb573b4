// The command handler the simulator starts with: every command succeeds
// with no response data, unless a status has been set for its code.
#pragma once

#include "command_handler.hpp"

#include <map>

namespace vuno::hostsim {

class DefaultCommandHandler : public CommandHandler {
  public:
    void Handle(uint8_t commandCode, ByteView payload, Responder respond) override;

    void SetStatus(uint8_t commandCode, uint16_t status) { statuses_[commandCode] = status; }
    void ClearStatus(uint8_t commandCode) { statuses_.erase(commandCode); }

  private:
    std::map<uint8_t, uint16_t> statuses_;
};

} // namespace vuno::hostsim
