// The protocol library's own cost, without the bus or the event loop:
// cutting a message into frames with its checksum, putting one back
// together, decoding the largest inventory reply, and encoding each shape
// of request. Counters: "bytes" and "records" per iteration, for the
// benchmark script's per-byte and per-record figures.
#include "fake_link.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace vuno::bench {
namespace {

constexpr uint32_t kMessageBytes = 1024 * 1024;
constexpr size_t kDriveElementBytes = 167;
constexpr uint8_t kDriveTypeVmd = 3;
constexpr uint8_t kIdentifiers = 32; // command identifiers of the SSI engine

struct Completion {
    uint32_t status = 0;
    uint32_t ssiStatus = 0;
    uint32_t records = 0;
    bool done = false;
};

void OnCompleted(uint32_t status, uint32_t ssiStatus, const void *, void *context) {
    auto *completion = static_cast<Completion *>(context);
    *completion = {status, ssiStatus, 0, true};
}

void OnDrives(uint32_t status, uint32_t ssiStatus, const void *record, void *context) {
    OnCompleted(status, ssiStatus, record, context);
    if (record != nullptr) {
        static_cast<Completion *>(context)->records =
            static_cast<const vuno_drive_information_list *>(record)->Count;
    }
}

// A record with a flexible array member, zero-filled.
template <typename Record> std::shared_ptr<Record> Allocate(size_t extra) {
    void *block = std::calloc(1, sizeof(Record) + extra);
    return std::shared_ptr<Record>(static_cast<Record *>(block), std::free);
}

bool Check(benchmark::State &state, bool condition, const char *what) {
    if (!condition) {
        state.SkipWithError(what);
    }
    return condition;
}

void SetPerIteration(benchmark::State &state, const char *name, double value) {
    state.counters[name] = benchmark::Counter(value);
}

// Submission of a 1 MiB message (its checksum included) and every frame of
// it handed to the ME, which accepts each at once.
void Segmentation(benchmark::State &state) {
    FakeLink link;
    auto args = Allocate<vuno_send_firmware_to_slot_args>(kMessageBytes);
    args->slot = 1;
    args->image_length = kMessageBytes;
    std::memset(args->image, 0x5A, kMessageBytes);
    for (auto _ : state) {
        Completion completion;
        const int status =
            vuno_send_firmware_to_slot(link.Instance(), args.get(), OnCompleted, &completion);
        if (!Check(state, status == VUNO_STATUS_COMMAND_PENDING, "not submitted")) {
            break;
        }
        link.Answer(0, {});
        if (!Check(state, completion.done && completion.status == 0, "not completed")) {
            break;
        }
    }
    SetPerIteration(state, "bytes", kMessageBytes);
}

// Reception of a 1 MiB message from the host: reassembly, its checksum, our
// Status Frame and the hand-over (the SSI engine drops it, since it answers
// nothing).
void Reassembly(benchmark::State &state) {
    FakeLink link;
    const std::vector<Bytes> frames = HostFrames(Bytes(kMessageBytes, 0xA5));
    for (auto _ : state) {
        link.FromHost(frames);
        link.RunSteps();
    }
    SetPerIteration(state, "bytes", kMessageBytes);
}

Bytes DriveList(uint16_t count) {
    Bytes payload = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
    for (uint16_t i = 0; i < count; ++i) {
        Bytes element(kDriveElementBytes, static_cast<uint8_t>(i));
        element[135] = kDriveTypeVmd; // the longest type-specific part
        payload.insert(payload.end(), element.begin(), element.end());
    }
    return payload;
}

// GetDriveInformation answered with `range(0)` drives: the request, then
// the reply's reassembly and decoding into the drive list.
void DecodeDrives(benchmark::State &state) {
    FakeLink link;
    const auto count = static_cast<uint16_t>(state.range(0));
    const Bytes payload = DriveList(count);
    std::vector<std::vector<Bytes>> replies;
    for (uint8_t identifier = 0; identifier < kIdentifiers; ++identifier) {
        replies.push_back(HostFrames(SsiResponse(identifier, 0, payload)));
    }
    const vuno_scope global = {};
    for (auto _ : state) {
        Completion completion;
        const int status =
            vuno_get_drive_information(link.Instance(), &global, OnDrives, &completion);
        if (!Check(state, status == VUNO_STATUS_COMMAND_PENDING, "not submitted")) {
            break;
        }
        link.Deliver();
        link.FromHost(replies.at(link.LastRequestIdentifier()));
        link.RunSteps();
        if (!Check(state, completion.done && completion.records == count, "not decoded")) {
            break;
        }
    }
    SetPerIteration(state, "records", count);
    SetPerIteration(state, "bytes", static_cast<double>(payload.size()));
}

using Operation = std::function<int(vuno_instance *, Completion &)>;

// One request operation: its payload built and the message queued. The
// rest of the request's life is not timed.
void Encode(benchmark::State &state, const Operation &operation) {
    FakeLink link;
    for (auto _ : state) {
        Completion completion;
        const int status = operation(link.Instance(), completion);
        state.PauseTiming();
        if (!Check(state, status == VUNO_STATUS_COMMAND_PENDING, "not submitted")) {
            break;
        }
        link.Answer(1, {});
        state.ResumeTiming();
    }
}

template <typename Args, typename Function>
Operation WithArgs(Function function, std::shared_ptr<Args> args) {
    return [function, args](vuno_instance *instance, Completion &completion) {
        return function(instance, args.get(), OnCompleted, &completion);
    };
}

template <typename Args, typename Function> Operation WithArgs(Function function) {
    return WithArgs(function, Allocate<Args>(0));
}

template <typename Args> std::shared_ptr<Args> WithDrives(uint16_t count) {
    auto args = Allocate<Args>(count * VUNO_IDENTIFIER_SIZE);
    args->count = count;
    return args;
}

void RegisterEncoders() {
    const std::pair<const char *, Operation> shapes[] = {
        {"none/GetExecutorInformation",
         [](vuno_instance *instance, Completion &completion) {
             return vuno_get_executor_information(instance, OnCompleted, &completion);
         }},
        {"scope/GetDriveInformation", WithArgs<vuno_scope>(vuno_get_drive_information)},
        {"identifier/DeleteVolume", WithArgs<vuno_identifier>(vuno_delete_volume)},
        {"identifier_flag/VerifyVolume", WithArgs<vuno_identifier_flag>(vuno_verify_volume)},
        {"identifier_policy/SetVolumeCachePolicy",
         WithArgs<vuno_identifier_policy>(vuno_set_volume_cache_policy)},
        {"identifier_list_8/RebuildVolume",
         WithArgs(vuno_rebuild_volume, WithDrives<vuno_identifier_list>(8))},
        {"create_volume_4/CreateVolume",
         WithArgs(vuno_create_volume, WithDrives<vuno_create_volume_args>(4))},
        {"change_raid_level_4/ChangeRaidLevel",
         WithArgs(vuno_change_raid_level, WithDrives<vuno_change_raid_level_args>(4))},
        {"expand/ExpandVolume", WithArgs<vuno_expand_volume_args>(vuno_expand_volume)},
        {"rename/RenameVolume", WithArgs<vuno_rename_volume_args>(vuno_rename_volume)},
        {"write_hole/SetRAIDWriteHolePolicy",
         WithArgs<vuno_set_raid_write_hole_policy_args>(vuno_set_raid_write_hole_policy)},
        {"update_firmware/UpdateDriveFirmware",
         WithArgs<vuno_update_drive_firmware_args>(vuno_update_drive_firmware)},
        {"subscription_3/CreateEventSubscription",
         [] {
             auto args = Allocate<vuno_create_event_subscription_args>(3 * sizeof(uint32_t));
             args->count = 3;
             return WithArgs(vuno_create_event_subscription, args);
         }()},
        {"get_events/GetEvents", WithArgs<vuno_get_events_args>(vuno_get_events)},
    };
    for (const auto &[name, operation] : shapes) {
        benchmark::RegisterBenchmark(
            (std::string("Encode/") + name).c_str(),
            [operation = operation](benchmark::State &state) { Encode(state, operation); });
    }
}

} // namespace
} // namespace vuno::bench

BENCHMARK(vuno::bench::Segmentation)->Unit(benchmark::kMillisecond);
BENCHMARK(vuno::bench::Reassembly)->Unit(benchmark::kMillisecond);
// The largest drive list that a full host still answers in a few frames,
// and the largest a reply can describe.
BENCHMARK(vuno::bench::DecodeDrives)->Arg(64)->Arg(65535)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    vuno::bench::RegisterEncoders();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
