// Faults found once, kept from coming back (a request ended by a host
// restart that still reached the restarted host, and an initialisation
// failure that left the caller holding a freed instance), and a whole
// library run with each of its allocations failing in turn.
//
// The executable is linked with --wrap for malloc, calloc, realloc and
// free, so the library's allocations pass through the wrappers below; the
// test's own allocations go through operator new and are not seen.
#include "fake_platform.hpp"
#include "host_link.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *pointer, size_t size);
void __real_free(void *pointer);
}

namespace vuno::testing {
namespace {

// Counts allocations while armed, fails the one numbered `failAt`, and
// keeps the blocks still alive so that a run can be checked for leaks.
struct AllocationLedger {
    bool armed = false;
    long count = 0;
    long failAt = -1;
    std::set<void *> alive;

    bool Refuse() { return armed && count++ == failAt; }
    void *Track(void *block) {
        if (armed && block != nullptr) {
            alive.insert(block);
        }
        return block;
    }
};
AllocationLedger ledger;

} // namespace
} // namespace vuno::testing

extern "C" {
void *__wrap_malloc(size_t size) {
    using vuno::testing::ledger;
    return ledger.Refuse() ? nullptr : ledger.Track(__real_malloc(size));
}

void *__wrap_calloc(size_t count, size_t size) {
    using vuno::testing::ledger;
    return ledger.Refuse() ? nullptr : ledger.Track(__real_calloc(count, size));
}

void *__wrap_realloc(void *pointer, size_t size) {
    using vuno::testing::ledger;
    if (ledger.Refuse()) {
        return nullptr;
    }
    ledger.alive.erase(pointer);
    return ledger.Track(__real_realloc(pointer, size));
}

void __wrap_free(void *pointer) {
    vuno::testing::ledger.alive.erase(pointer);
    __real_free(pointer);
}
}

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

// An executor that answers identifier requests with 70 identifiers (two
// Data Frames) whose bytes all hold the command code asked for, so that an
// answer shows which request it belongs to, and every other request with
// an empty success.
class LabellingHost {
  public:
    explicit LabellingHost(HostLink &link) : link_(link) {}

    // Serves requests until the BMC sends nothing more; returns the
    // command code of every request the host received whole, by command
    // identifier.
    std::multimap<uint8_t, uint8_t> Serve() {
        std::multimap<uint8_t, uint8_t> seen;
        for (int round = 0; round < 32; ++round) {
            const auto frames = link_.pump();
            if (frames.empty()) {
                break;
            }
            for (const Bytes &frame : frames) {
                Receive(frame, seen);
            }
        }
        return seen;
    }

  private:
    static constexpr size_t kIdentifiers = 70;

    void Receive(const Bytes &frame, std::multimap<uint8_t, uint8_t> &seen) {
        if (frame.size() < 3 || frame[0] != 0x01) {
            return; // the BMC's own Status Frames
        }
        const bool first = frame[1] == 0 && frame[2] == 0;
        if (first && frame.size() >= 15) {
            remaining_ = get_le32(&frame[5]) - static_cast<uint32_t>(frame.size() - 13);
            id_ = frame[13] >> 3;
            code_ = frame[14];
        } else if (!first) {
            remaining_ -= static_cast<uint32_t>(frame.size() - 3);
        }
        if (remaining_ != 0) {
            return;
        }
        seen.emplace(id_, code_);
        link_.sendStatus(0);
        Answer();
    }

    void Answer() {
        const size_t count = code_ <= 3 ? kIdentifiers : 0;
        const size_t payload = count == 0 ? 0 : 2 + count * VUNO_IDENTIFIER_SIZE;
        Bytes response{static_cast<uint8_t>(id_ << 3 | 1), 0, 0, 0, 0, 0, 0};
        put_le32(&response[3], static_cast<uint32_t>(payload));
        if (count != 0) {
            response.push_back(static_cast<uint8_t>(count));
            response.push_back(0);
            response.insert(response.end(), count * VUNO_IDENTIFIER_SIZE, code_);
        }
        link_.sendMessage(response);
    }

    HostLink &link_;
    uint32_t remaining_ = 0;
    uint8_t id_ = 0;
    uint8_t code_ = 0;
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
        // What a careless caller does next must be harmless.
        EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_INVALID_PARAMETER);
    }
}

// Requests of one run with what became of them.
class Requests {
  public:
    explicit Requests(vuno_instance *instance) : instance_(instance) {}

    void Identifiers() {
        const vuno_scope global{};
        Accept(vuno_get_drive_identifiers(instance_, &global, Record, Next()));
    }

    // A request of three Data Frames.
    void FirmwareImage() {
        constexpr uint32_t kImage = 2500;
        std::unique_ptr<uint8_t[]> storage(
            new uint8_t[sizeof(vuno_send_firmware_to_slot_args) + kImage]());
        auto *args = reinterpret_cast<vuno_send_firmware_to_slot_args *>(storage.get());
        args->slot = 1;
        args->image_length = kImage;
        Accept(vuno_send_firmware_to_slot(instance_, args, Record, Next()));
    }

    void ExpectEachAcceptedOneAnsweredOnce() const {
        for (size_t i = 0; i < outcomes_.size(); ++i) {
            EXPECT_EQ(outcomes_[i]->calls, accepted_[i] ? 1 : 0) << "request " << i;
        }
    }

  private:
    Outcome *Next() { return outcomes_.emplace_back(std::make_unique<Outcome>()).get(); }
    void Accept(int status) { accepted_.push_back(status == VUNO_STATUS_COMMAND_PENDING); }

    vuno_instance *instance_;
    std::vector<std::unique_ptr<Outcome>> outcomes_;
    std::vector<bool> accepted_;
};

void OnLink(uint32_t status, void *context) {
    *static_cast<int64_t *>(context) = status;
}

// Initialisation, connection, single- and multi-frame requests and
// responses, a host restart with requests outstanding, and
// de-initialisation; every request still open ends with the restart.
void RunScenario(FakePlatform &platform) {
    vuno_instance *instance = nullptr;
    if (vuno_initialize(&instance, &platform, &platform.callbacks) != VUNO_STATUS_SUCCESS) {
        EXPECT_EQ(instance, nullptr);
        return;
    }
    platform.instance = instance;
    HostLink link(platform);
    int64_t connected = -1, lost = -1;
    vuno_connect_to_host(instance, 0x00035B00, OnLink, &connected, OnLink, &lost);
    respondFromMe(instance, {0x02, 0x00});
    link.heartbeat(5);

    LabellingHost host(link);
    Requests requests(instance);
    requests.Identifiers();
    requests.FirmwareImage();
    host.Serve();
    requests.Identifiers();
    requests.FirmwareImage();
    vuno_process_requests(instance); // one frame with the ME
    link.heartbeat(1);               // the host application restarted
    requests.Identifiers();
    host.Serve();
    link.heartbeat(0); // and once more, ending what is still open
    host.Serve();

    requests.ExpectEachAcceptedOneAnsweredOnce();
    platform.instance = nullptr;
    EXPECT_EQ(vuno_deinitialize(instance), VUNO_STATUS_SUCCESS);
}

// Runs the scenario with allocation `failAt` failing (-1: none); returns the
// number of allocations the run made.
long RunWithFailure(long failAt) {
    FakePlatform platform;
    ledger = AllocationLedger{};
    ledger.failAt = failAt;
    ledger.armed = true;
    RunScenario(platform);
    ledger.armed = false;
    EXPECT_TRUE(ledger.alive.empty()) << ledger.alive.size() << " blocks leaked";
    return ledger.count;
}

TEST(AllocationFailures, EachAllocationOfARunMayFail) {
    const long allocations = RunWithFailure(-1);
    ASSERT_GT(allocations, 20) << "the scenario no longer reaches the library's allocations";
    for (long failAt = 0; failAt < allocations; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt) + " failing");
        RunWithFailure(failAt);
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace vuno::testing
