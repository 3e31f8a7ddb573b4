// Faults found once, kept from coming back: a request ended by a host
// restart that still reached the restarted host, and an initialisation
// failure that left the caller holding a freed instance.
#include "fake_platform.hpp"
#include "host_link.hpp"

#include <gtest/gtest.h>

#include <map>

namespace vuno::testing {
namespace {

struct Outcome {
    int calls = 0;
    uint32_t status = 0;
    uint32_t ssiStatus = 0;
    Bytes firstIdentifier;
};

void Record(uint32_t status, uint32_t ssiStatus, const void *record, void *context) {
    auto *outcome = static_cast<Outcome *>(context);
    ++outcome->calls;
    outcome->status = status;
    outcome->ssiStatus = ssiStatus;
    const auto *list = static_cast<const vuno_identifier_list_record *>(record);
    if (list != nullptr && list->Count > 0) {
        outcome->firstIdentifier.assign(list->Ids[0], list->Ids[0] + VUNO_IDENTIFIER_SIZE);
    }
}

// An executor that answers every request with one identifier whose bytes
// all hold the command code asked for, so that an answer shows which
// request it belongs to.
class LabellingHost {
  public:
    explicit LabellingHost(HostLink &link) : link_(link) {}

    // Serves requests until the BMC sends nothing more; returns the
    // command code of every request the host saw, by command identifier.
    std::multimap<uint8_t, uint8_t> Serve() {
        std::multimap<uint8_t, uint8_t> seen;
        for (auto frames = link_.pump(); !frames.empty(); frames = link_.pump()) {
            for (const Bytes &frame : frames) {
                if (frame.size() < 15 || frame[0] != 0x01 || frame[1] != 0 || frame[2] != 0) {
                    continue; // the BMC's own Status Frames
                }
                const uint8_t id = frame[13] >> 3;
                seen.emplace(id, frame[14]);
                link_.sendStatus(0);
                link_.sendMessage(
                    ssiResponse(id, 0, cat({{1, 0}, Bytes(VUNO_IDENTIFIER_SIZE, frame[14])})));
            }
        }
        return seen;
    }

  private:
    HostLink &link_;
};

constexpr uint8_t kGetVolumeIdentifiers = 1;
constexpr uint8_t kGetControllerIdentifiers = 3;

TEST(Regressions, RequestsEndedByAHostRestartNeverReachTheRestartedHost) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    HostLink link(platform);
    link.connect();
    const vuno_scope global{};

    Outcome a, b, c, d;
    ASSERT_EQ(vuno_get_executor_information(instance, Record, &a), VUNO_STATUS_COMMAND_PENDING);
    ASSERT_EQ(vuno_get_drive_identifiers(instance, &global, Record, &b),
              VUNO_STATUS_COMMAND_PENDING);
    vuno_process_requests(instance); // A's only frame goes out
    ASSERT_EQ(link.takeFrames().size(), 1u);
    link.answerTransfer();

    link.heartbeat(0); // the host application restarted
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(a.status, VUNO_STATUS_HOST_RESET);
    EXPECT_EQ(b.calls, 1);
    EXPECT_EQ(b.status, VUNO_STATUS_HOST_RESET);

    ASSERT_EQ(vuno_get_controller_identifiers(instance, &global, Record, &c),
              VUNO_STATUS_COMMAND_PENDING);
    ASSERT_EQ(vuno_get_volume_identifiers(instance, &global, Record, &d),
              VUNO_STATUS_COMMAND_PENDING);
    const auto seen = LabellingHost(link).Serve();

    const std::multimap<uint8_t, uint8_t> onlyTheNewOnes{{0, kGetControllerIdentifiers},
                                                         {1, kGetVolumeIdentifiers}};
    EXPECT_EQ(seen, onlyTheNewOnes);
    EXPECT_EQ(b.calls, 1);
    for (const auto &[outcome, code] :
         {std::pair{&c, kGetControllerIdentifiers}, std::pair{&d, kGetVolumeIdentifiers}}) {
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_EQ(outcome->status, VUNO_STATUS_SUCCESS);
        EXPECT_EQ(outcome->ssiStatus, 0u);
        EXPECT_EQ(outcome->firstIdentifier, Bytes(VUNO_IDENTIFIER_SIZE, code));
    }
}

TEST(Regressions, AFailedInitialisationLeavesNoInstanceBehind) {
    // Each layer's lock in turn, then the timer.
    for (int failing = 0; failing <= 3; ++failing) {
        FakePlatform platform;
        platform.failLockCreateAfter = failing < 3 ? failing : -1;
        platform.failTimerCreate = failing == 3;
        int placeholder = 0;
        auto *instance = reinterpret_cast<vuno_instance *>(&placeholder);
        EXPECT_NE(vuno_initialize(&instance, &platform, &platform.callbacks), VUNO_STATUS_SUCCESS);
        EXPECT_EQ(instance, nullptr) << "failing step " << failing;
        EXPECT_EQ(platform.timerDestroyCalls, 1) << "called, with no timer";
        // What a careless caller does next must be harmless.
        EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_INVALID_PARAMETER);
    }
}

} // namespace
} // namespace vuno::testing
