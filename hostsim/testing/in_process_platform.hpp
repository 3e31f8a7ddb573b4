// A real library instance and a simulated platform in one process, without
// D-Bus: the library's MCTP sends go straight to the simulator's MCTP
// service, the ME's requests come back into the library, and simulated time
// drives both. Request processing runs every 10 ms and the library timer
// every second of simulated time, as in the daemon, so a whole exchange
// (connect, heartbeats, requests, time-outs) runs in milliseconds and
// always the same way.
#pragma once

#include "mctp_service.hpp"
#include "simulator.hpp"
#include "vuno.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vuno::hostsim::testing {

// The first VMD device the daemon's connection supervisor tries.
constexpr uint32_t kFirstCandidate = 0x05000000;
constexpr Duration kProcessPeriod{10};
constexpr Duration kTickPeriod{1000};

// How a request operation ended: the operation's own status when it did
// not return "pending", else the completion callback's arguments.
struct Completion {
    uint32_t status;
    uint32_t ssiStatus;

    friend bool operator==(const Completion &, const Completion &) = default;
};

// A request operation of vuno.h, bound to its argument record.
using Operation = std::function<int(vuno_instance *, vuno_completion_callback, void *)>;
// Looks at the response record during the completion callback.
using RecordInspector = std::function<void(const void *record)>;

class InProcessPlatform {
  public:
    explicit InProcessPlatform(const Settings &settings = {});
    ~InProcessPlatform();
    InProcessPlatform(const InProcessPlatform &) = delete;
    InProcessPlatform &operator=(const InProcessPlatform &) = delete;

    Simulator &Sim() { return *simulator_; }

    // One 10 ms step: simulated time, the ME's requests and the responses
    // to the library's commands, the timer tick when a second is full, and
    // one round of request processing.
    void Step();
    void RunFor(Duration duration);
    // Steps until `done` holds, at most for `limit`; whether it held.
    bool RunUntil(const std::function<bool()> &done, Duration limit);

    // Connects through the first candidate and runs until the library
    // reports the outcome: the connected callback's status, the
    // operation's own status when it did not go out, or nothing when no
    // outcome came within `limit`.
    std::optional<uint32_t> Connect(Duration limit = Duration{60000});
    // Starts an operation and runs until it ends, at most for `limit`.
    std::optional<Completion> Request(const Operation &operation, Duration limit = Duration{120000},
                                      RecordInspector inspect = {});

    // Lines the simulator printed.
    const std::vector<std::string> &SimulatorLines() const { return simulatorLines_; }

  private:
    struct Delivery {
        bool request;
        uint8_t tag;
        int mctpStatus;
        Bytes data;
    };
    struct Pending {
        std::optional<Completion> completion;
        RecordInspector inspect;
    };
    struct Timer;

    static void Log(int level, const char *file, int line, const char *format, ...);
    static void *LockCreate();
    static void LockDestroy(void *lock);
    static int Lock(void *lock);
    static void Unlock(void *lock);
    static void *TimerCreate(void *context, void *argument, vuno_timer_handler handler,
                             uint32_t periodSeconds);
    static void TimerDestroy(void *timer);
    static int MctpSend(void *context, bool request, uint8_t tag, const uint8_t *data,
                        uint32_t length);
    static void OnConnected(uint32_t status, void *context);
    static void OnLost(uint32_t status, void *context);
    static void OnCompletion(uint32_t status, uint32_t ssiStatus, const void *record,
                             void *context);

    void SendToMe(bool request, uint8_t tag, ByteView message);
    void QueueAnswer(bool request, const MctpResult &result);
    void FromMe(const Bytes &message);
    void DeliverPending();

    std::unique_ptr<Simulator> simulator_;
    vuno_instance *instance_ = nullptr;
    std::unique_ptr<Timer> timer_;
    Duration now_{0};
    uint8_t nextInstanceId_ = 0;
    std::deque<Delivery> deliveries_;
    std::deque<Pending> requests_;
    std::optional<uint32_t> connected_;
    std::vector<std::string> simulatorLines_;
};

} // namespace vuno::hostsim::testing
