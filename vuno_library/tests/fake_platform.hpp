// A scripted platform for driving the library in tests: it records log
// lines, lock traffic and MCTP sends, lets a test make lock or timer
// creation fail, and ticks the library's timer by hand.
#pragma once

#include "vuno.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vuno::testing {

struct SentMessage {
    bool request;
    uint8_t tag;
    std::vector<uint8_t> data;
};

class FakePlatform {
  public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform &) = delete;
    FakePlatform &operator=(const FakePlatform &) = delete;

    // The callback table; entries can be cleared by tests that want a
    // refusal.
    vuno_platform_callbacks callbacks{};

    // Initialises an instance with this platform; fails the test on error.
    vuno_instance *createInstance();
    // Deinitialises the instance made by createInstance(), if any.
    void destroyInstance();
    vuno_instance *instance = nullptr;

    // Runs the library's periodic timer handler `count` times.
    void tick(unsigned count = 1);

    // Log lines in order.
    std::vector<std::string> logs;

    // Locks: the next `failLockCreateAfter` creations succeed, then they
    // fail (negative: never fail).
    int failLockCreateAfter = -1;
    int locksAlive = 0;
    int locksHeld = 0;

    // Timer.
    bool failTimerCreate = false;
    void *timerArgument = nullptr;
    vuno_timer_handler timerHandler = nullptr;
    int timersAlive = 0;
    int timerDestroyCalls = 0;

    // MCTP: every send is recorded; the result is mctpSendResult.
    std::vector<SentMessage> sent;
    int mctpSendResult = 0;
};

// Feeds a message from the ME into the library, as the transport would.
void deliverFromMe(vuno_instance *instance, const std::vector<uint8_t> &message, uint8_t tag = 0);
// Feeds the ME's response to the last command into the library.
void respondFromMe(vuno_instance *instance, const std::vector<uint8_t> &response);

} // namespace vuno::testing
