#include "fake_link.hpp"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace vuno::bench {
namespace {

constexpr uint8_t kTransferData = 1;
constexpr uint8_t kConnect = 2;
constexpr uint8_t kMeConnected = 0;
constexpr uint8_t kMeDataSent = 6;
constexpr uint32_t kFirstPart = 1001;
constexpr uint32_t kNextPart = 1011;
constexpr uint32_t kVmdLocation = 0x05000000;

void PutLittle(Bytes &out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint32_t Crc32c(uint32_t crc, const uint8_t *data, size_t size) {
    static const auto table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 1) != 0 ? (value >> 1) ^ 0x82F63B78u : value >> 1;
            }
            entries[i] = value;
        }
        return entries;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

// The library formats every line it logs, as the daemon does; only the
// writing is left out.
void Log(int, const char *, int, const char *format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
}

void *CreateLock() {
    return new std::mutex;
}
void DestroyLock(void *lock) {
    delete static_cast<std::mutex *>(lock);
}
int Lock(void *lock) {
    static_cast<std::mutex *>(lock)->lock();
    return 1;
}
void Unlock(void *lock) {
    static_cast<std::mutex *>(lock)->unlock();
}

// The timer never ticks: nothing here lasts long enough to time out.
int timerToken;
void *CreateTimer(void *, void *, vuno_timer_handler, uint32_t) {
    return &timerToken;
}
void DestroyTimer(void *) {}

constexpr vuno_platform_callbacks kCallbacks = {
    Log, CreateLock, DestroyLock, Lock, Unlock, CreateTimer, DestroyTimer, FakeLink::Send,
};

void Refused(const char *what) {
    throw std::runtime_error(what);
}

} // namespace

std::vector<Bytes> HostFrames(const Bytes &payload) {
    const auto total = static_cast<uint32_t>(payload.size());
    Bytes first = {0x01, 0, 0, 0x01, 0};
    PutLittle(first, total, 4);
    PutLittle(first, 0, 4);
    const uint32_t crc = Crc32c(Crc32c(0, first.data() + 3, 10), payload.data(), payload.size());
    for (int i = 0; i < 4; ++i) {
        first[9 + i] = static_cast<uint8_t>(crc >> (8 * i));
    }

    const uint32_t firstPart = std::min(total, kFirstPart);
    first.insert(first.end(), payload.begin(), payload.begin() + firstPart);
    std::vector<Bytes> frames = {first};
    for (uint32_t offset = firstPart; offset < total; offset += kNextPart) {
        const uint32_t part = std::min(total - offset, kNextPart);
        Bytes frame = {0x01};
        PutLittle(frame, frames.size(), 2);
        frame.insert(frame.end(), payload.begin() + offset, payload.begin() + offset + part);
        frames.push_back(std::move(frame));
    }
    return frames;
}

Bytes SsiResponse(uint8_t identifier, uint16_t ssiStatus, const Bytes &payload) {
    Bytes message = {static_cast<uint8_t>(identifier << 3 | 1)};
    PutLittle(message, ssiStatus, 2);
    PutLittle(message, payload.size(), 4);
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

FakeLink::FakeLink() {
    if (vuno_initialize(&instance_, this, &kCallbacks) != VUNO_STATUS_SUCCESS) {
        Refused("the library refused to initialise");
    }
    const auto ignore = [](uint32_t, void *) {};
    if (vuno_connect_to_host(instance_, kVmdLocation, ignore, nullptr, ignore, nullptr) !=
        VUNO_STATUS_COMMAND_PENDING) {
        Refused("the library refused to connect");
    }
    Step();
    FromHost(Bytes{0x00, 1, 0, 0, 0}); // the first heartbeat
}

FakeLink::~FakeLink() {
    vuno_deinitialize(instance_);
}

int FakeLink::Send(void *userContext, bool request, uint8_t, const uint8_t *data, uint32_t length) {
    auto *link = static_cast<FakeLink *>(userContext);
    if (!request || length == 0) {
        return 0; // our replies to the ME's deliveries
    }
    link->owedCommand_ = data[0];
    // Data Frame [0] of a message: the SSI header follows its 13 bytes.
    constexpr uint32_t kFirstFrameAt = 5;
    if (data[0] == kTransferData && length > kFirstFrameAt + 13 && data[kFirstFrameAt] == 0x01 &&
        data[kFirstFrameAt + 1] == 0 && data[kFirstFrameAt + 2] == 0) {
        link->lastIdentifier_ = data[kFirstFrameAt + 13] >> 3;
    }
    return 0;
}

void FakeLink::Step() {
    vuno_process_requests(instance_);
    if (owedCommand_ == 0) {
        return;
    }
    const uint8_t status = owedCommand_ == kConnect ? kMeConnected : kMeDataSent;
    const uint8_t response[2] = {owedCommand_, status};
    owedCommand_ = 0;
    bmc_me_mctp_message_received(instance_, false, 0, 0, response, sizeof response);
}

void FakeLink::RunSteps() {
    do {
        Step();
    } while (vuno_has_pending_work(instance_));
}

void FakeLink::FromHost(const Bytes &frame) {
    Bytes message = {kTransferData};
    for (int shift = 24; shift >= 0; shift -= 8) {
        message.push_back(static_cast<uint8_t>(frame.size() >> shift));
    }
    message.insert(message.end(), frame.begin(), frame.end());
    bmc_me_mctp_message_received(instance_, true, 0, 0, message.data(),
                                 static_cast<uint32_t>(message.size()));
}

void FakeLink::FromHost(const std::vector<Bytes> &frames) {
    for (const Bytes &frame : frames) {
        FromHost(frame);
    }
}

void FakeLink::Deliver() {
    RunSteps();
    FromHost(Bytes{0x02, 0x00}); // the host's Status Frame: received whole
    RunSteps();
}

void FakeLink::Answer(uint16_t status, const Bytes &payload) {
    Deliver();
    FromHost(HostFrames(SsiResponse(lastIdentifier_, status, payload)));
    RunSteps();
}

} // namespace vuno::bench
