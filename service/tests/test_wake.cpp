// Request processing sleeps while the library has nothing to move on, and
// keeps 10 ms between steps when it has.
#include "request_processing.hpp"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <vector>

namespace vuno {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The library with an ME and a host played by the test, linked up.
class LinkedLibrary {
  public:
    LinkedLibrary() {
        const vuno_platform_callbacks callbacks = {Log,    CreateLock,  Ignore, Lock,
                                                   Ignore, CreateTimer, Ignore, RecordSend};
        EXPECT_EQ(vuno_initialize(&instance, this, &callbacks), VUNO_STATUS_SUCCESS);
        const auto ignore = [](uint32_t, void *) {};
        EXPECT_EQ(vuno_connect_to_host(instance, 0x05000000, ignore, nullptr, ignore, nullptr),
                  VUNO_STATUS_COMMAND_PENDING);
        MeAnswers(Bytes{0x02, 0x00});       // connected
        HostSends(Bytes{0x00, 1, 0, 0, 0}); // first heartbeat
    }
    ~LinkedLibrary() { vuno_deinitialize(instance); }

    void MeAnswers(const Bytes &response) {
        bmc_me_mctp_message_received(instance, false, 0, 0, response.data(),
                                     static_cast<uint32_t>(response.size()));
    }
    void HostSends(const Bytes &frame) {
        Bytes message = {0x01, 0, 0, 0, static_cast<uint8_t>(frame.size())};
        message.insert(message.end(), frame.begin(), frame.end());
        bmc_me_mctp_message_received(instance, true, 0, 0, message.data(),
                                     static_cast<uint32_t>(message.size()));
    }

    vuno_instance *instance = nullptr;
    // When each Transfer Data command was handed to the ME.
    std::vector<Clock::time_point> transfers;

  private:
    static void Log(int, const char *, int, const char *, ...) {}
    // One thread: locks and timer only need to exist, and the timer never
    // ticks.
    static void *CreateLock() { return &lockToken; }
    static int Lock(void *) { return 1; }
    static void Ignore(void *) {}
    static void *CreateTimer(void *context, void *, vuno_timer_handler, uint32_t) {
        return context;
    }
    static inline int lockToken = 0;
    static int RecordSend(void *context, bool request, uint8_t, const uint8_t *data, uint32_t) {
        if (request && data[0] == 0x01) {
            static_cast<LinkedLibrary *>(context)->transfers.push_back(Clock::now());
        }
        return 0;
    }
};

class RequestProcessingWake : public ::testing::Test {
  protected:
    RequestProcessingWake() { processing.Start(); }
    ~RequestProcessingWake() override {
        processing.Stop();
        io.restart();
        io.run();
    }

    // Runs the loop as the daemon does, for at most `timeout`; returns the
    // number of handlers run.
    size_t RunUntil(const std::function<bool()> &done, Clock::duration timeout) {
        const auto deadline = Clock::now() + timeout;
        size_t handlers = 0;
        io.restart();
        while (!done() && io.run_one_until(deadline) > 0) {
            ++handlers;
            processing.WakeIfWorkPending();
        }
        return handlers;
    }

    boost::asio::io_context io;
    LinkedLibrary library;
    RequestProcessing processing{io, library.instance};
};

void OnCompleted(uint32_t status, uint32_t, const void *, void *context) {
    *static_cast<std::pair<uint32_t, Clock::time_point> *>(context) = {status, Clock::now()};
}

TEST_F(RequestProcessingWake, SleepsWhileIdleAndStepsTenMillisecondsApartWhileBusy) {
    // A step every 10 ms would run about 30 handlers here.
    EXPECT_LE(RunUntil([] { return false; }, 300ms), 3u);

    std::pair<uint32_t, Clock::time_point> completion{VUNO_STATUS_COMMAND_PENDING, {}};
    ASSERT_EQ(vuno_get_executor_information(library.instance, OnCompleted, &completion),
              VUNO_STATUS_COMMAND_PENDING);
    processing.WakeIfWorkPending();
    ASSERT_LE(RunUntil([this] { return !library.transfers.empty(); }, 1s), 3u)
        << "the request's frame went out only after several handlers";

    // The host refuses the message at once; that ending is the next step's.
    library.MeAnswers(Bytes{0x01, 0x06});
    library.HostSends(Bytes{0x02, 0x01});
    processing.WakeIfWorkPending();
    RunUntil([&completion] { return completion.first != VUNO_STATUS_COMMAND_PENDING; }, 2s);
    EXPECT_EQ(completion.first, VUNO_STATUS_INTERNAL_ERROR);
    EXPECT_GE(completion.second - library.transfers.front(), 10ms);

    EXPECT_LE(RunUntil([] { return false; }, 300ms), 3u) << "still stepping with nothing to do";
}

} // namespace
} // namespace vuno
