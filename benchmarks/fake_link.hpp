// A library instance linked to a host that lives in the same process and
// answers at once: the ME accepts every command the moment it is sent, and
// the host's frames are fed in as the ME would deliver them. Only the
// library's public interface is used, so the wire formats the host side
// needs are written out here.
#pragma once

#include "vuno.h"

#include <cstdint>
#include <vector>

namespace vuno::bench {

using Bytes = std::vector<uint8_t>;

// The Service Protocol frames of one message from the host.
std::vector<Bytes> HostFrames(const Bytes &payload);
// An SSI response message answering request `identifier`.
Bytes SsiResponse(uint8_t identifier, uint16_t ssiStatus, const Bytes &payload);

class FakeLink {
  public:
    // Initialises the library and brings the link up; throws on failure.
    FakeLink();
    ~FakeLink();
    FakeLink(const FakeLink &) = delete;
    FakeLink &operator=(const FakeLink &) = delete;

    vuno_instance *Instance() const { return instance_; }

    // Processing steps, each followed by the ME's answer to what it sent,
    // until the library has nothing left to move on.
    void RunSteps();
    // The host delivers one frame through the ME.
    void FromHost(const Bytes &frame);
    void FromHost(const std::vector<Bytes> &frames);
    // A submitted request's frames go out and the host acknowledges them.
    void Deliver();
    // Deliver(), then the host answers with `status` and `payload`.
    void Answer(uint16_t status, const Bytes &payload);
    // Identifier of the SSI request whose first frame went out last.
    uint8_t LastRequestIdentifier() const { return lastIdentifier_; }

    // Platform callbacks; the user context is the FakeLink.
    static int Send(void *userContext, bool request, uint8_t tag, const uint8_t *data,
                    uint32_t length);

  private:
    void Step();

    vuno_instance *instance_ = nullptr;
    // The command code of a command the ME still has to answer, or 0.
    uint8_t owedCommand_ = 0;
    uint8_t lastIdentifier_ = 0;
};

} // namespace vuno::bench
