// A library instance on a scripted platform, for the fuzz targets that
// drive it through its public entry points. The ME and the host either
// replay what the input says or cooperate (the ME answers every command
// with success, the host acknowledges every message and answers every
// request). Whatever the input did, the bench holds the library to its
// promises and stops the run when one is broken:
//  - every accepted request completes exactly once, and with a cooperative
//    ME and host within a bound of ticks;
//  - a successful completion carries a record exactly when its command has
//    response data;
//  - nothing reaches the platform after de-initialisation;
//  - every lock is released when control returns, and destroyed at the
//    end.
#pragma once

#include "host_messages.hpp"

#include <vuno.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

namespace vuno::fuzz {

using testing::Bytes;
using testing::ssiResponse;

[[noreturn]] void Violated(const char *promise);
inline void Require(bool holds, const char *promise) {
    if (!holds) {
        Violated(promise);
    }
}

// The fuzz input read front to back; past its end every read gives zeros.
class Input {
  public:
    explicit Input(std::span<const uint8_t> data) : data_(data) {}
    bool Empty() const { return offset_ >= data_.size(); }
    uint8_t Byte() { return Empty() ? 0 : data_[offset_++]; }
    uint32_t Word();
    Bytes Take(size_t count);
    // A length byte pair, then that many bytes.
    Bytes Chunk() {
        const size_t low = Byte();
        return Take(low | size_t{Byte()} << 8);
    }
    Bytes Rest() { return Take(data_.size()); }

  private:
    std::span<const uint8_t> data_;
    size_t offset_ = 0;
};

class Bench {
  public:
    // Initialises the library; only when it may fail can Instance() be
    // null afterwards.
    explicit Bench(bool mayFail = false);
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    vuno_instance *Instance() const { return instance_; }

    // Like the daemon's supervisor: only while the library has not said
    // that the link is up. (A Connect on a live link whose answer the ME
    // loses takes the link down without telling anyone.)
    void ConnectWhenDown();
    // Connect, the ME's success and the first heartbeat.
    void ConnectCooperatively();
    void Heartbeat(uint32_t id);
    void Tick();
    void Process();

    // From the ME: a raw message, or one host frame in a Transfer Data.
    void FromMe(bool request, uint8_t tag, int mctpStatus, const Bytes &data);
    void HostFrame(const Bytes &frame);
    // A whole message from the host, in Data Frames with a valid CRC.
    void HostMessage(const Bytes &payload);

    // Submits one of the request operations (chosen by `which`, shaped by
    // `size`); returns whether it was accepted.
    bool Submit(uint8_t which, uint32_t size);
    // A step the message targets share, by `step` (0 to 4): a tick, a
    // processing step, a request, a cooperative exchange or a heartbeat.
    void Step(uint8_t step, Input &input);

    // The ME answers what the library sent so far, and the host
    // acknowledges and answers every request it now holds whole.
    void Cooperate();
    // The host's answer to a request: by default the refusal below.
    std::function<Bytes(uint8_t id, uint8_t code)> answer;
    // An SSI response with a non-zero status and no data.
    static Bytes Refusal(uint8_t id, uint8_t code);

    // Ticks with a cooperative ME and host, until nothing is open.
    void RunCooperatively(int ticks);
    // With a cooperative ME and host, everything accepted must end within
    // a bound of ticks; then the library is de-initialised.
    void Finish();

    struct Outcome {
        uint8_t code;
        int calls = 0;
    };

  private:
    void Connect();
    void Receive(const Bytes &frame);
    void Idle() const;
    void AnswerOwed();
    bool Open(bool getEventsToo) const;

    vuno_instance *instance_ = nullptr;
    std::deque<Outcome> outcomes_;
    uint32_t heartbeatId_ = 1;
    // The host's reassembly of the library's messages.
    Bytes incoming_;
    uint32_t expected_ = 0;
    std::vector<std::pair<uint8_t, uint8_t>> owed_;
};

} // namespace vuno::fuzz
