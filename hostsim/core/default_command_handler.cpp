#include "default_command_handler.hpp"

namespace vuno::hostsim {

void DefaultCommandHandler::Handle(uint8_t commandCode, ByteView, Responder respond) {
    const auto status = statuses_.find(commandCode);
    respond(SsiAnswer{status == statuses_.end() ? uint16_t{0} : status->second, {}});
}

} // namespace vuno::hostsim
