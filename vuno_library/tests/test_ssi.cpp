// The SSI layer: the request engine, the request payloads of the
// operations and the decoding of response payloads. Expected bytes and
// fields are written from the wire layout, not from the code.
#include "commands.h"
#include "fake_platform.hpp"
#include "host_link.hpp"
#include "host_messages.hpp"
#include "service_protocol.h"
#include "ssi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vuno::testing {
namespace {

struct Outcome {
    uint32_t status;
    uint32_t ssiStatus;
    bool record;
    bool operator==(const Outcome &) const = default;
};
using Outcomes = std::vector<Outcome>;

void record(uint32_t status, uint32_t ssiStatus, const void *record, void *outcomes) {
    static_cast<Outcomes *>(outcomes)->push_back({status, ssiStatus, record != nullptr});
}

constexpr uint8_t kNoData = 12;     // a command whose response carries no data
constexpr uint8_t kIdentifiers = 0; // a list: its response needs at least a count
constexpr uint8_t kVolumeId = 22;   // exactly 16 bytes of response data
constexpr uint8_t kGetEvents = 40;
constexpr uint32_t kNone = VUNO_SSI_STATUS_NO_RESPONSE;

enum class End { Answered, AnsweredBeforeSent, TransferFailed, TimedOut, Reset, Lost };

class Ssi : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.createInstance();
        host.connect();
    }

    int tryPrepare(uint8_t code, ssi_request **request, Outcomes *to = nullptr,
                   uint32_t payloadLength = 0) {
        return ssi_prepare_request(platform.instance, request, code, payloadLength, record,
                                   to != nullptr ? to : &outcomes);
    }

    ssi_request *prepare(uint8_t code = kNoData, Outcomes *to = nullptr) {
        ssi_request *request = nullptr;
        EXPECT_EQ(tryPrepare(code, &request, to), VUNO_STATUS_SUCCESS);
        return request;
    }

    // Handed to the Service Protocol, which has not reported back yet.
    void send(ssi_request *request) {
        ASSERT_EQ(ssi_send_request(platform.instance, request), VUNO_STATUS_COMMAND_PENDING);
    }

    void sent(ssi_request *request) {
        send(request);
        ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, request);
    }

    void respond(const Bytes &message) {
        ssi_response_received(platform.instance, message.data(),
                              static_cast<uint32_t>(message.size()));
    }

    void scan(unsigned ticks) {
        for (unsigned i = 0; i < ticks; ++i) {
            ssi_check_timeouts(platform.instance);
        }
    }

    void end(End way, ssi_request *r, uint16_t ssiStatus = 0, const Bytes &payload = {}) {
        const Bytes answer = ssiResponse(r->command_id, ssiStatus, payload);
        switch (way) {
        case End::Answered:
            sent(r);
            respond(answer);
            break;
        case End::AnsweredBeforeSent:
            send(r);
            respond(answer);
            ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, r);
            break;
        case End::TransferFailed:
            send(r);
            ssi_request_sent(platform.instance, VUNO_STATUS_TRANSFER_TO_HOST_FAILED, r);
            break;
        case End::TimedOut:
            sent(r);
            scan(61);
            break;
        case End::Reset:
        case End::Lost:
            send(r);
            ssi_terminate_requests(platform.instance, way == End::Reset
                                                          ? VUNO_STATUS_HOST_RESET
                                                          : VUNO_STATUS_HOST_NOT_CONNECTED);
            break;
        }
    }

    // The last message handed to the Service Protocol.
    Bytes lastMessage() {
        const sp_message *last = nullptr;
        for (const sp_message *m = platform.instance->sp_ctx->queue_head; m; m = m->next) {
            last = m;
        }
        return last == nullptr ? Bytes{} : Bytes(last->payload, last->payload + last->total);
    }

    FakePlatform platform;
    HostLink host{platform};
    Outcomes outcomes;
};

// ---- the request engine ----

TEST_F(Ssi, IdentifiersAreTheSmallestFreeOfThirtyTwo) {
    ssi_request *request = nullptr;
    EXPECT_EQ(ssi_prepare_request(platform.instance, &request, kNoData, 0, nullptr, nullptr),
              VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(tryPrepare(kNoData, &request, nullptr, 0xFFFFFFFA), VUNO_STATUS_INVALID_PARAMETER);
    std::vector<ssi_request *> requests;
    for (uint8_t id = 0; id < 32; ++id) {
        ASSERT_EQ(tryPrepare(kNoData, &request, nullptr, 3), VUNO_STATUS_SUCCESS);
        EXPECT_EQ(Bytes(request->message, request->message + request->message_length),
                  (Bytes{static_cast<uint8_t>(id << 3), kNoData, 3, 0, 0, 0, 0, 0, 0}));
        requests.push_back(request);
    }
    EXPECT_EQ(tryPrepare(kNoData, &request), VUNO_STATUS_BUSY);
    ssi_remove_request(platform.instance, requests[9]);
    ssi_remove_request(platform.instance, requests[4]);
    EXPECT_EQ(prepare()->command_id, 4);
    EXPECT_EQ(prepare()->command_id, 9);
    EXPECT_TRUE(outcomes.empty());
}

TEST_F(Ssi, EveryWayARequestEndsCallsItsCallbackOnce) {
    const uint32_t parsingError = VUNO_STATUS_INTERNAL_ERROR;
    const struct {
        uint8_t code;
        End way;
        uint16_t ssiStatus;
        Outcome outcome;
    } cases[] = {
        {kNoData, End::Answered, 0, {0, 0, false}},
        {kVolumeId, End::Answered, 0, {0, 0, true}},
        {kNoData, End::Answered, 0x108, {0, 0x108, false}},
        {kIdentifiers, End::Answered, 0, {parsingError, 0, false}},
        {kNoData, End::AnsweredBeforeSent, 3, {parsingError, 3, false}},
        {kNoData, End::TransferFailed, 0, {VUNO_STATUS_TRANSFER_TO_HOST_FAILED, kNone, false}},
        {kNoData, End::TimedOut, 0, {VUNO_STATUS_TIMEOUT, kNone, false}},
        {kNoData, End::Reset, 0, {VUNO_STATUS_HOST_RESET, kNone, false}},
        {kNoData, End::Lost, 0, {VUNO_STATUS_HOST_NOT_CONNECTED, kNone, false}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        outcomes.clear();
        ssi_request *request = prepare(c.code);
        ASSERT_EQ(request->command_id, 0);
        end(c.way, request, c.ssiStatus, c.code == kVolumeId ? patterned(16) : Bytes{});
        EXPECT_EQ(outcomes, Outcomes{c.outcome});
        // Whatever follows finds the request gone.
        respond(ssiResponse(0, 0));
        scan(100);
        ssi_terminate_requests(platform.instance, VUNO_STATUS_HOST_RESET);
        EXPECT_EQ(outcomes.size(), 1u);
    }
}

TEST_F(Ssi, ThirtyGetEventsAtMostAndEveryEndingGivesItsPlaceBack) {
    std::vector<ssi_request *> events;
    for (int i = 0; i < 30; ++i) {
        events.push_back(prepare(kGetEvents));
    }
    ssi_request *request = nullptr;
    EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_BUSY);
    int place = 0;
    for (End way : {End::Answered, End::AnsweredBeforeSent, End::TransferFailed}) {
        end(way, events[place++], 0x0102);
        EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_SUCCESS);
        EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_BUSY);
    }
    ssi_remove_request(platform.instance, request);
    EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_SUCCESS);
    ssi_terminate_requests(platform.instance, VUNO_STATUS_HOST_RESET);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(tryPrepare(kGetEvents, &request), VUNO_STATUS_SUCCESS);
    }
}

TEST_F(Ssi, RequestsWaitOutMalformedResponsesAndTimeOutOneATickButGetEventsNever) {
    Outcomes older, newer, events, latest;
    sent(prepare(kNoData, &older));
    ssi_request *waiting = prepare(kNoData, &newer);
    send(waiting);
    sent(prepare(kGetEvents, &events));
    Bytes longField = ssiResponse(0, 0, {1});
    put_le32(&longField[3], 2);
    // Too short, not a response, a length field beyond the message, nobody's.
    for (const Bytes &message : {Bytes{0x01, 0, 0, 0, 0, 0}, Bytes{0x02, 0, 0, 0, 0, 0, 0},
                                 longField, ssiResponse(7, 0)}) {
        respond(message);
    }
    scan(100); // nothing ages behind a request still being transmitted
    EXPECT_TRUE(older.empty() && newer.empty());
    ssi_request_sent(platform.instance, VUNO_STATUS_SUCCESS, waiting);
    scan(60);
    EXPECT_TRUE(older.empty() && newer.empty());
    scan(1);
    EXPECT_EQ(newer, (Outcomes{{VUNO_STATUS_TIMEOUT, kNone, false}}));
    EXPECT_TRUE(older.empty());
    scan(1);
    EXPECT_EQ(older, newer);
    // A late answer finds only a newer request that took the identifier.
    sent(prepare(kNoData, &latest));
    respond(ssiResponse(0, 0));
    EXPECT_EQ(latest, (Outcomes{{0, 0, false}}));
    EXPECT_EQ(older.size(), 1u);
    scan(1000);
    EXPECT_TRUE(events.empty());
}

TEST(SsiWithoutLink, RefusedSendGivesTheIdentifierBackWithoutCallback) {
    FakePlatform platform;
    platform.createInstance();
    Outcomes outcomes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ssi_request *request = nullptr;
        ASSERT_EQ(ssi_prepare_request(platform.instance, &request, kNoData, 0, record, &outcomes),
                  VUNO_STATUS_SUCCESS);
        EXPECT_EQ(request->command_id, 0);
        EXPECT_EQ(ssi_send_request(platform.instance, request), VUNO_STATUS_HOST_NOT_CONNECTED);
    }
    EXPECT_TRUE(outcomes.empty());
}

// ---- request payloads ----

void ignore(uint32_t, uint32_t, const void *, void *) {}

Bytes id(uint8_t first) {
    return patterned(16, first);
}

template <typename Record> Record &build(std::vector<uint64_t> &storage) {
    storage.assign(64, 0);
    return *reinterpret_cast<Record *>(storage.data());
}

TEST_F(Ssi, OperationsWriteTheirPayloadsByteForByte) {
    std::vector<uint64_t> storage;
    uint8_t commandId = 0;
    // Nothing may be read from the record once the operation has returned.
    auto expectSent = [&](int status, uint8_t code, const Bytes &payload) {
        ASSERT_EQ(status, VUNO_STATUS_COMMAND_PENDING);
        storage.assign(64, 0xEEEEEEEEEEEEEEEE);
        Bytes header{static_cast<uint8_t>(commandId++ << 3), code, 0, 0, 0, 0};
        put_le32(&header[2], static_cast<uint32_t>(payload.size()));
        EXPECT_EQ(lastMessage(), cat({header, payload})) << "code " << int(code);
    };
    vuno_instance *const instance = platform.instance;

    auto &scope = build<vuno_scope>(storage);
    scope.type = 9; // three bits travel
    std::memcpy(scope.identifier, id(1).data(), 16);
    expectSent(vuno_get_array_information(instance, &scope, ignore, nullptr), 7,
               cat({{0x01}, id(1)}));
    expectSent(vuno_get_executor_information(instance, ignore, nullptr), 10, {});

    // The firmware image's layout is checked by the in-process exchange test.
    auto &flag = build<vuno_identifier_flag>(storage);
    std::memcpy(flag.identifier, id(3).data(), 16);
    flag.flag = 3; // one bit travels
    expectSent(vuno_set_volatile_write_cache_on_drive(instance, &flag, ignore, nullptr), 18,
               cat({id(3), {0x80}}));

    auto &volume = build<vuno_create_volume_args>(storage);
    volume.count = 2;
    std::memcpy(volume.name, "Vol1", 4);
    volume.strip_size = 0x10040; // sent as 16 bits
    volume.raid_level = 0x104;   // sent as 8 bits
    volume.size = 0x0102030405060708;
    volume.existing_data = 1;
    volume.write_hole_policy = 2;
    std::memcpy(volume.existing_data_drive, cat({id(4), id(5), id(6), id(7)}).data(), 64);
    expectSent(vuno_create_volume(instance, &volume, ignore, nullptr), 22,
               cat({{0x02, 0x00, 'V', 'o', 'l', '1'},
                    Bytes(12),
                    {0x40, 0x00, 0x04, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x28},
                    id(4),
                    id(5),
                    id(6),
                    id(7)}));

    auto &raid = build<vuno_change_raid_level_args>(storage);
    std::memcpy(raid.volume, id(10).data(), 16);
    raid.strip_size = 0x0100;
    raid.raid_level = 3;
    raid.count = 1;
    std::memcpy(raid.drives[0], id(11).data(), 16);
    expectSent(vuno_change_raid_level(instance, &raid, ignore, nullptr), 25,
               cat({id(10), {0x00, 0x01, 0x03, 0x01, 0x00}, id(11)}));

    auto &subscription = build<vuno_create_event_subscription_args>(storage);
    subscription.scope.type = 4;
    std::memcpy(subscription.scope.identifier, id(15).data(), 16);
    subscription.count = 3;
    subscription.event_types[1] = 0x181; // one byte travels
    subscription.event_types[2] = 141;
    expectSent(vuno_create_event_subscription(instance, &subscription, ignore, nullptr), 38,
               cat({{0x04}, id(15), {0x03, 0x00, 0x81, 0x8D}}));

    auto &huge = build<vuno_send_firmware_to_slot_args>(storage);
    huge.image_length = 0xFFFFFFF2u; // the length alone is judged
    EXPECT_EQ(vuno_send_firmware_to_slot(instance, &huge, ignore, nullptr),
              VUNO_STATUS_INVALID_PARAMETER);
}

// ---- response payloads ----

class Responses : public ::testing::Test {
  protected:
    void SetUp() override { platform.createInstance(); }
    void TearDown() override { sized_free(&decoded); }

    int decode(uint8_t code, const Bytes &payload) {
        sized_free(&decoded);
        wire_reader reader;
        wire_reader_init(&reader, payload.data(), static_cast<uint32_t>(payload.size()));
        return ssi_decode_response(platform.instance, code, &reader, &decoded);
    }

    template <class T> const T &as(uint8_t code, const Bytes &payload) {
        EXPECT_EQ(decode(code, payload), 0);
        static const T empty{};
        return decoded == nullptr ? empty : *static_cast<const T *>(decoded);
    }

    FakePlatform platform;
    void *decoded = nullptr;
};

// `count` patterned elements of `size` bytes after a 16-bit count; `edit`
// sets the bytes that matter in each.
Bytes list(unsigned count, size_t size, const std::function<void(uint8_t *, unsigned)> &edit) {
    Bytes payload{static_cast<uint8_t>(count), 0};
    for (unsigned i = 0; i < count; ++i) {
        const Bytes element = patterned(size, static_cast<uint8_t>(i));
        payload.insert(payload.end(), element.begin(), element.end());
        edit(&payload[2 + i * size], i);
    }
    return payload;
}

bool same(const uint8_t *field, const uint8_t *wire, size_t width) {
    return std::memcmp(field, wire, width) == 0;
}

TEST_F(Responses, DrivesDecodeTheirCommonPartAndTheirConnectionsOwnFields) {
    const Bytes payload = list(5, 167, [](uint8_t *drive, unsigned type) {
        drive[134] = 0xA5; // system drive, pre-boot visible
        drive[135] = static_cast<uint8_t>(type);
    });
    const auto &drives = as<vuno_drive_information_list>(4, payload);
    ASSERT_EQ(drives.Count, 5);
    for (unsigned type = 0; type < 5; ++type) {
        const auto &drive = drives.Drives[type];
        const uint8_t *wire = &payload[2 + type * 167];
        EXPECT_TRUE(same(drive.FwRev, wire + 108, 8));
        EXPECT_EQ(drive.PhysicalBlockSize, get_le32(wire + 128));
        EXPECT_EQ(drive.Usage, wire[133]); // kept as received
        EXPECT_EQ(drive.SystemDrive * 8 + drive.ActivateLedSupport * 4 + drive.PrebootVisible * 2 +
                      drive.WriteCacheState,
                  0b1010);
        EXPECT_EQ(drive.Type, type);
    }
    const uint8_t *link = &payload[2 + 167 + 136]; // a SATA drive's port and link
    EXPECT_EQ(drives.Drives[1].Sata.PortNumber, link[0]);
    EXPECT_EQ(drives.Drives[1].Sata.NCQSupported, link[1] >> 7);
    EXPECT_EQ(drives.Drives[1].Sata.NegotiatedLinkRate, link[1] & 0x3Fu);
    EXPECT_EQ(drives.Drives[0].Sata.NegotiatedLinkRate, 0u) << "optical drives carry a port only";
    const uint8_t *vmd = &payload[2 + 3 * 167 + 136];
    const auto &nvme = drives.Drives[3].Nvme;
    EXPECT_EQ(nvme.VendorId, get_le16(vmd));
    EXPECT_EQ(nvme.AttachedToPCH, (vmd[2] >> 5) & 1);
    EXPECT_EQ(nvme.NegotiatedLinkRate, vmd[2] & 0x1Fu);
    EXPECT_EQ(nvme.PhysicalSlotNumber, get_le64(vmd + 9));
    EXPECT_EQ(drives.Drives[2].Nvme.SocketNumber, 0) << "only drives behind VMD have a location";
    EXPECT_EQ(drives.Drives[4].Nvme.VendorId, 0) << "an unknown type has no details";
}

TEST_F(Responses, VolumeArrayAndControllerLayouts) {
    const Bytes volumes = list(1, 94, [](uint8_t *volume, unsigned) {
        volume[64] = 0xA0; // initialized, system volume
        volume[77] = 0x32; // write back, journaling drive
    });
    const auto &volume = as<vuno_volume_information_list>(5, volumes).Volumes[0];
    EXPECT_TRUE(same(volume.Name, &volumes[35], 16));
    EXPECT_EQ(volume.MigrationProgress, get_le16(&volumes[64]));
    EXPECT_EQ(volume.Initialized * 4 + volume.Migrating * 2 + volume.SystemVolume, 5);
    EXPECT_EQ(volume.LogicalBlockSize, get_le32(&volumes[75]));
    EXPECT_EQ(volume.VolumeCachePolicy * 16 + volume.RAIDWriteHolePolicy, 0x32u);
    EXPECT_TRUE(same(volume.JournalingDriveIdentifier, &volumes[80], 16));

    const Bytes arrays = list(1, 53, [](uint8_t *array, unsigned) { array[52] = 0x80; });
    const auto &array = as<vuno_array_information_list>(7, arrays).Arrays[0];
    EXPECT_TRUE(same(array.Name, &arrays[18], 20));
    EXPECT_EQ(array.FreeSize, get_le64(&arrays[46]));
    EXPECT_EQ(array.VolatileWriteCacheState, 1);

    const Bytes controllers = list(3, 335, [](uint8_t *controller, unsigned type) {
        controller[279] = 0x80; // pre-OS driver loaded
        controller[302] = 0x40; // read patrol
        controller[303] = static_cast<uint8_t>(type);
        put_le32(&controller[304], 0xC4C3C2E1);
    });
    const auto &list = as<vuno_controller_information_list>(8, controllers);
    for (unsigned type = 0; type < 3; ++type) {
        const auto &controller = list.Controllers[type];
        const uint8_t *wire = &controllers[2 + type * 335];
        EXPECT_TRUE(same(controller.Name, wire + 16, 256));
        EXPECT_EQ(controller.PreosDriverVer[3], get_le16(wire + 294));
        EXPECT_EQ(controller.MaxDrivesPerController, get_le16(wire + 300));
        EXPECT_EQ(controller.PreosDriverLoaded * 4 + controller.ROHIEnabled * 2 +
                      controller.ReadPatrolEnabled,
                  5);
        EXPECT_EQ(controller.ControllerMode, type == 0 ? 7u : 0u); // E1 = 111 00001
        const uint8_t vmd[4] = {0xE1, 0xC2, 0xC3, 0xC4}, none[4] = {};
        EXPECT_TRUE(same(controller.VmdDetails, type == 2 ? vmd : none, 4));
    }
}

TEST_F(Responses, SmallRecordsAndLists) {
    const auto &migration = as<vuno_migration_capability_list>(6, {1, 0, 4, 0xFF});
    EXPECT_EQ(migration.Capabilities[0].TargetRAIDLevel, 4u);
    EXPECT_EQ(migration.Capabilities[0].MinAdditionalDrivesCount, 0xFF);
    const auto &raid = as<vuno_raid_capability_list>(9, {1, 4, 3, 0, 8, 0, 0x80, 0x80, 0, 0x60, 0});
    EXPECT_EQ(raid.Capabilities[0].MaxDrivesCount, 8);
    EXPECT_EQ(raid.Capabilities[0].EvenDriveCount * 2 + raid.Capabilities[0].OddDriveCount, 2);
    EXPECT_EQ(raid.Capabilities[0].SupportedStripSizesMask, 0x0060);
    const Bytes executor = patterned(40);
    EXPECT_EQ(as<vuno_executor_information>(10, executor).Reserved, get_le32(&executor[36]));
    const Bytes slots{1, 0, 4, 0, 0, 0, 7, 0, 'r', 'e', 'v', 0, 0, 0, 0, 0};
    EXPECT_EQ(as<vuno_firmware_slot_list>(11, slots).Capacity, 4u);
    EXPECT_TRUE(same(as<vuno_firmware_slot_list>(11, slots).Slots[0].Revision, &slots[8], 8));
    const Bytes subscription = patterned(18);
    EXPECT_EQ(as<vuno_subscription>(38, subscription).EventQueueDepth, get_le16(&subscription[16]));
    const Bytes events = cat({{2, 0, 141}, id(1), {3}, id(2)});
    EXPECT_EQ(as<vuno_event_list>(40, events).Events[1].EventType, 3u); // kept as received
    EXPECT_TRUE(same(as<vuno_event_list>(40, events).Events[1].EventIdentifier, &events[20], 16));
}

TEST_F(Responses, LengthsMustMatchTheCountExactly) {
    const auto empty = [](uint8_t *, unsigned) {};
    const struct {
        uint8_t code;
        Bytes valid;
    } cases[] = {{1, list(2, 16, empty)}, {4, list(1, 167, empty)}, {5, list(2, 94, empty)},
                 {6, list(3, 2, empty)},  {7, list(1, 53, empty)},  {8, list(1, 335, empty)},
                 {9, Bytes(21)},          {10, Bytes(40)},          {11, Bytes(6)},
                 {22, Bytes(16)},         {38, Bytes(18)},          {40, list(2, 17, empty)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.code));
        Bytes valid = c.valid;
        valid[0] = c.code == 9 ? 2 : valid[0];
        EXPECT_EQ(decode(c.code, valid), 0);
        for (Bytes wrong : {Bytes(valid.begin(), valid.end() - 1), cat({valid, {0}})}) {
            EXPECT_NE(decode(c.code, wrong), 0);
            EXPECT_EQ(decoded, nullptr);
        }
    }
    for (uint8_t code : {12, 21, 23, 37, 39, 41, 255}) { // no response data: not examined
        EXPECT_EQ(decode(code, patterned(33)), 0);
        EXPECT_EQ(decoded, nullptr);
    }
}

} // namespace
} // namespace vuno::testing
