#include "fake_platform.hpp"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace vuno::testing {
namespace {

FakePlatform *active = nullptr;

// A lock is a flag telling whether it is held; a timer needs no state.
using FakeLock = bool;

void fakeLog(int /*level*/, const char * /*file*/, int /*line*/, const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    active->logs.emplace_back(text);
}

void *fakeLockCreate() {
    if (active->failLockCreateAfter == 0) {
        return nullptr;
    }
    active->failLockCreateAfter -= active->failLockCreateAfter > 0 ? 1 : 0;
    ++active->locksAlive;
    return new FakeLock(false);
}

void fakeLockDestroy(void *lock) {
    if (lock == nullptr) {
        return;
    }
    EXPECT_FALSE(*static_cast<FakeLock *>(lock)) << "lock destroyed while held";
    --active->locksAlive;
    delete static_cast<FakeLock *>(lock);
}

int fakeLock(void *lock) {
    EXPECT_FALSE(std::exchange(*static_cast<FakeLock *>(lock), true)) << "lock taken twice";
    ++active->locksHeld;
    return 1;
}

void fakeUnlock(void *lock) {
    EXPECT_TRUE(std::exchange(*static_cast<FakeLock *>(lock), false))
        << "unlock of a lock not held";
    --active->locksHeld;
}

void *fakeTimerCreate(void *userContext, void *argument, vuno_timer_handler handler,
                      uint32_t /*period*/) {
    EXPECT_EQ(userContext, active);
    if (active->failTimerCreate) {
        return nullptr;
    }
    active->timerArgument = argument;
    active->timerHandler = handler;
    ++active->timersAlive;
    return active;
}

void fakeTimerDestroy(void *timer) {
    ++active->timerDestroyCalls;
    if (timer == nullptr) {
        return;
    }
    active->timerHandler = nullptr;
    --active->timersAlive;
}

int fakeMctpSend(void *userContext, bool request, uint8_t tag, const uint8_t *data,
                 uint32_t length) {
    EXPECT_EQ(userContext, active);
    active->sent.push_back({request, tag, std::vector<uint8_t>(data, data + length)});
    return active->mctpSendResult;
}

} // namespace

FakePlatform::FakePlatform() {
    EXPECT_EQ(active, nullptr) << "one FakePlatform at a time";
    active = this;
    callbacks.log = fakeLog;
    callbacks.lock_create = fakeLockCreate;
    callbacks.lock_destroy = fakeLockDestroy;
    callbacks.lock = fakeLock;
    callbacks.unlock = fakeUnlock;
    callbacks.timer_create = fakeTimerCreate;
    callbacks.timer_destroy = fakeTimerDestroy;
    callbacks.mctp_send = fakeMctpSend;
}

FakePlatform::~FakePlatform() {
    destroyInstance();
    EXPECT_EQ(locksAlive, 0) << "locks leaked";
    EXPECT_EQ(locksHeld, 0) << "locks left held";
    EXPECT_EQ(timersAlive, 0) << "timers leaked";
    active = nullptr;
}

vuno_instance *FakePlatform::createInstance() {
    vuno_instance *created = nullptr;
    EXPECT_EQ(vuno_initialize(&created, this, &callbacks), VUNO_STATUS_SUCCESS);
    instance = created;
    return instance;
}

void FakePlatform::destroyInstance() {
    if (instance != nullptr) {
        EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_SUCCESS);
        instance = nullptr;
    }
}

void FakePlatform::tick(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        ASSERT_NE(timerHandler, nullptr) << "no timer running";
        timerHandler(timerArgument);
    }
}

void deliverFromMe(vuno_instance *instance, const std::vector<uint8_t> &message, uint8_t tag) {
    bmc_me_mctp_message_received(instance, true, tag, 0, message.data(),
                                 static_cast<uint32_t>(message.size()));
}

void respondFromMe(vuno_instance *instance, const std::vector<uint8_t> &response) {
    bmc_me_mctp_message_received(instance, false, 0, 0, response.data(),
                                 static_cast<uint32_t>(response.size()));
}

} // namespace vuno::testing
