#include "fake_platform.hpp"
#include "payload_writer.h"
#include "utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using vuno::testing::FakePlatform;
using vuno::testing::respondFromMe;
using Bytes = std::vector<uint8_t>;
using Issue = std::function<int(vuno_instance *, vuno_completion_callback, void *)>;

constexpr size_t kBmcMeHeader = 5;
constexpr size_t kFirstFrameHeader = 13;
constexpr size_t kNextFrameHeader = 3;
constexpr size_t kSsiHeader = 6;

Bytes identifier(uint8_t first) {
    Bytes id(16);
    for (size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<uint8_t>(first + i);
    }
    return id;
}

const Bytes kA = identifier(0xA0);
const Bytes kB = identifier(0xB0);
const Bytes kC = identifier(0xC0);

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes zeros(size_t count) {
    return Bytes(count, 0);
}

void copyId(uint8_t *to, const Bytes &id) {
    std::memcpy(to, id.data(), id.size());
}

// Argument records on the heap, overwritten when released: an operation that
// kept reading its record after returning would send the scribble.
template <typename Record> std::shared_ptr<Record> allocate(size_t trailing = 0) {
    const size_t size = sizeof(Record) + trailing;
    return std::shared_ptr<Record>(static_cast<Record *>(std::calloc(1, size)),
                                   [size](Record *record) {
                                       std::memset(record, 0xEE, size);
                                       std::free(record);
                                   });
}

template <typename Record>
using Operation = int (*)(vuno_instance *, const Record *, vuno_completion_callback, void *);
using NoArgumentOperation = int (*)(vuno_instance *, vuno_completion_callback, void *);

struct Case {
    std::string name;
    uint8_t code;
    Issue issue;
    Issue issueWithoutRecord; // empty for the operations without a record
    Bytes payload;
};

void PrintTo(const Case &operation, std::ostream *out) {
    *out << operation.name;
}

template <typename Record>
Case withRecord(std::string name, uint8_t code, Operation<Record> operation,
                std::function<std::shared_ptr<Record>()> make, Bytes payload) {
    return {std::move(name), code,
            [operation, make](vuno_instance *instance, vuno_completion_callback callback,
                              void *context) {
                return operation(instance, make().get(), callback, context);
            },
            [operation](vuno_instance *instance, vuno_completion_callback callback, void *context) {
                return operation(instance, nullptr, callback, context);
            },
            std::move(payload)};
}

Case withoutRecord(std::string name, uint8_t code, NoArgumentOperation operation) {
    return {std::move(name), code, operation, nullptr, {}};
}

std::function<std::shared_ptr<vuno_scope>()> scope(uint32_t type, const Bytes &id) {
    return [=] {
        auto record = allocate<vuno_scope>();
        record->type = type;
        copyId(record->identifier, id);
        return record;
    };
}

std::function<std::shared_ptr<vuno_identifier>()> object(const Bytes &id) {
    return [=] {
        auto record = allocate<vuno_identifier>();
        copyId(record->identifier, id);
        return record;
    };
}

std::function<std::shared_ptr<vuno_identifier_flag>()> flagged(const Bytes &id, uint32_t flag) {
    return [=] {
        auto record = allocate<vuno_identifier_flag>();
        copyId(record->identifier, id);
        record->flag = flag;
        return record;
    };
}

std::function<std::shared_ptr<vuno_identifier_list>()> listed(const Bytes &target,
                                                              std::vector<Bytes> drives) {
    return [=] {
        auto record = allocate<vuno_identifier_list>(drives.size() * 16);
        copyId(record->identifier, target);
        record->count = static_cast<uint16_t>(drives.size());
        for (size_t i = 0; i < drives.size(); ++i) {
            copyId(record->drives[i], drives[i]);
        }
        return record;
    };
}

template <typename Record>
std::function<std::shared_ptr<Record>()> filled(std::function<void(Record &)> fill,
                                                size_t trailing = 0) {
    return [=] {
        auto record = allocate<Record>(trailing);
        fill(*record);
        return record;
    };
}

void ignoreCompletion(uint32_t, uint32_t, const void *, void *) {}

// Every operation with a record the executor would accept, and the payload
// it must produce, byte for byte.
std::vector<Case> allOperations() {
    return {
        withRecord("GetDriveIdentifiers", 0, vuno_get_drive_identifiers, scope(4, kA),
                   cat({{0x04}, kA})),
        withRecord("GetVolumeIdentifiers", 1, vuno_get_volume_identifiers, scope(3, kB),
                   cat({{0x03}, kB})),
        withRecord("GetArrayIdentifiers", 2, vuno_get_array_identifiers, scope(2, kC),
                   cat({{0x02}, kC})),
        withRecord("GetControllerIdentifiers", 3, vuno_get_controller_identifiers, scope(1, kA),
                   cat({{0x01}, kA})),
        withRecord("GetDriveInformation", 4, vuno_get_drive_information, scope(0, kB),
                   cat({{0x00}, kB})),
        withRecord("GetVolumeInformation", 5, vuno_get_volume_information, scope(3, kC),
                   cat({{0x03}, kC})),
        withRecord("GetVolumeMigrationCapabilities", 6, vuno_get_volume_migration_capabilities,
                   object(kA), kA),
        // Only the low three bits of the scope type travel.
        withRecord("GetArrayInformation", 7, vuno_get_array_information, scope(9, kA),
                   cat({{0x01}, kA})),
        withRecord("GetControllerInformation", 8, vuno_get_controller_information,
                   scope(0xFFFFFFFC, kB), cat({{0x04}, kB})),
        withRecord("GetControllerRaidCapabilities", 9, vuno_get_controller_raid_capabilities,
                   object(kB), kB),
        withoutRecord("GetExecutorInformation", 10, vuno_get_executor_information),
        withoutRecord("GetFirmwareSlotInformation", 11, vuno_get_firmware_slot_information),
        withRecord("SendFirmwareToSlot", 12, vuno_send_firmware_to_slot,
                   filled<vuno_send_firmware_to_slot_args>(
                       [](auto &r) {
                           r.slot = 0x1234;
                           r.image_length = 3;
                           std::memcpy(r.revision, "1.2.3", 5);
                           std::memcpy(r.image, "\xDE\xAD\xBE", 3);
                       },
                       3),
                   {0x34, 0x12, 0x03, 0, 0, 0, '1', '.', '2', '.', '3', 0, 0, 0, 0xDE, 0xAD, 0xBE}),
        withRecord("UpdateDriveFirmware", 13, vuno_update_drive_firmware,
                   filled<vuno_update_drive_firmware_args>([](auto &r) {
                       r.slot = 0x0201;
                       copyId(r.drive, kC);
                       r.action = 1;
                   }),
                   cat({{0x01, 0x02}, kC, {0x01}})),
        withRecord("ClearDriveMetadata", 14, vuno_clear_drive_metadata, object(kC), kC),
        withRecord("MarkDriveAsSpare", 15, vuno_mark_drive_as_spare, object(kA), kA),
        withRecord("UnmarkSpareDrive", 16, vuno_unmark_spare_drive, object(kB), kB),
        withRecord("MarkDriveAsNormal", 17, vuno_mark_drive_as_normal, object(kC), kC),
        withRecord("SetVolatileWriteCacheOnDrive", 18, vuno_set_volatile_write_cache_on_drive,
                   flagged(kA, 1), cat({kA, {0x80}})),
        withRecord("ResetSmartEventOnDrive", 19, vuno_reset_smart_event_on_drive, object(kB), kB),
        withRecord("ActivateDriveLed", 20, vuno_activate_drive_led, object(kC), kC),
        withRecord("RemoveDrive", 21, vuno_remove_drive, object(kA), kA),
        withRecord("CreateVolume", 22, vuno_create_volume,
                   filled<vuno_create_volume_args>(
                       [](auto &r) {
                           r.count = 2;
                           std::memcpy(r.name, "Vol1", 4);
                           r.strip_size = 64;
                           r.raid_level = 4;
                           r.size = 0x0102030405060708;
                           r.existing_data = 1;
                           r.write_hole_policy = 2;
                           copyId(r.existing_data_drive, kB);
                           copyId(r.journaling_drive, kC);
                           copyId(r.drives[0], kA);
                           copyId(r.drives[1], kB);
                       },
                       2 * 16),
                   cat({{0x02, 0x00, 'V', 'o', 'l', '1'},
                        zeros(12),
                        {0x40, 0x00, 0x04, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x28},
                        kB,
                        kC,
                        kA,
                        kB})),
        withRecord("RebuildVolume", 23, vuno_rebuild_volume, listed(kA, {kB}),
                   cat({kA, {0x01, 0x00}, kB})),
        withRecord("ExpandVolume", 24, vuno_expand_volume,
                   filled<vuno_expand_volume_args>([](auto &r) {
                       copyId(r.volume, kB);
                       r.size = 0x1122334455667788;
                   }),
                   cat({kB, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}})),
        withRecord("ChangeRaidLevel", 25, vuno_change_raid_level,
                   filled<vuno_change_raid_level_args>(
                       [](auto &r) {
                           copyId(r.volume, kC);
                           r.strip_size = 0x0100;
                           r.raid_level = 3;
                           r.count = 2;
                           copyId(r.drives[0], kA);
                           copyId(r.drives[1], kB);
                       },
                       2 * 16),
                   cat({kC, {0x00, 0x01, 0x03, 0x02, 0x00}, kA, kB})),
        withRecord("RenameVolume", 26, vuno_rename_volume,
                   filled<vuno_rename_volume_args>([](auto &r) {
                       copyId(r.volume, kA);
                       std::memcpy(r.name, "Data", 4);
                   }),
                   cat({kA, {'D', 'a', 't', 'a'}, zeros(12)})),
        withRecord("MarkVolumeAsNormal", 27, vuno_mark_volume_as_normal, object(kB), kB),
        withRecord("VerifyVolume", 28, vuno_verify_volume, flagged(kC, 0), cat({kC, {0x00}})),
        withRecord("CancelVolumeVerification", 29, vuno_cancel_volume_verification, object(kA), kA),
        withRecord("InitializeVolume", 30, vuno_initialize_volume, object(kB), kB),
        withRecord("SetVolumeCachePolicy", 31, vuno_set_volume_cache_policy,
                   filled<vuno_identifier_policy>([](auto &r) {
                       copyId(r.identifier, kC);
                       r.policy = 3;
                   }),
                   cat({kC, {0x30}})),
        withRecord("SetRAIDWriteHolePolicy", 32, vuno_set_raid_write_hole_policy,
                   filled<vuno_set_raid_write_hole_policy_args>([](auto &r) {
                       copyId(r.volume, kA);
                       r.policy = 2;
                       copyId(r.journaling_drive, kB);
                   }),
                   cat({kA, {0x20}, kB})),
        withRecord("DeleteVolume", 33, vuno_delete_volume, object(kC), kC),
        withRecord("AddDrivesToArray", 34, vuno_add_drives_to_array, listed(kB, {}),
                   cat({kB, {0x00, 0x00}})),
        withRecord("SetVolatileWriteCacheOnArray", 35, vuno_set_volatile_write_cache_on_array,
                   flagged(kC, 1), cat({kC, {0x80}})),
        withRecord("SetROHIPolicy", 36, vuno_set_rohi_policy, flagged(kA, 1), cat({kA, {0x80}})),
        withRecord("SetReadPatrolPolicy", 37, vuno_set_read_patrol_policy, flagged(kB, 0),
                   cat({kB, {0x00}})),
        withRecord("CreateEventSubscription", 38, vuno_create_event_subscription,
                   filled<vuno_create_event_subscription_args>(
                       [](auto &r) {
                           r.scope.type = 4;
                           copyId(r.scope.identifier, kC);
                           r.count = 3;
                           r.event_types[0] = 0;
                           r.event_types[1] = 129;
                           r.event_types[2] = 141;
                       },
                       3 * sizeof(uint32_t)),
                   cat({{0x04}, kC, {0x03, 0x00, 0x81, 0x8D}})),
        withRecord("CancelEventSubscription", 39, vuno_cancel_event_subscription, object(kA), kA),
        withRecord("GetEvents", 40, vuno_get_events, filled<vuno_get_events_args>([](auto &r) {
                       copyId(r.subscription, kB);
                       r.argument = 0xDEADBEEF;
                   }),
                   cat({kB, {0xEF, 0xBE, 0xAD, 0xDE}})),
    };
}

// A library instance whose host link is up, and the means to read back the
// SSI messages it sends.
class LinkedInstance : public ::testing::Test {
  protected:
    void SetUp() override {
        instance = platform.createInstance();
        ASSERT_EQ(vuno_connect_to_host(instance, 0x00035B00, onLink, nullptr, onLink, nullptr),
                  VUNO_STATUS_COMMAND_PENDING);
        respondFromMe(instance, {0x02, 0x00});
        vuno::testing::deliverFromMe(instance, {0x01, 0, 0, 0, 5, 0x00, 1, 0, 0, 0});
        platform.sent.clear();
        platform.clearLogs();
    }

    static void onLink(uint32_t, void *) {}

    // Runs request processing until it hands the next frame to the ME; a
    // step may only finish the previous message.
    const Bytes *nextFrame() {
        for (int step = 0; step < 3; ++step) {
            const size_t before = platform.sent.size();
            vuno_process_requests(instance);
            if (platform.sent.size() != before) {
                return &platform.sent.back().data;
            }
        }
        return nullptr;
    }

    // Reassembles the next message from its Data Frames, acknowledging each
    // Transfer Data as delivered and the whole message as the host would.
    Bytes nextMessage() {
        Bytes message;
        size_t total = 0;
        for (uint16_t index = 0; index == 0 || message.size() < total; ++index) {
            const Bytes *sent = nextFrame();
            if (sent == nullptr) {
                ADD_FAILURE() << "no Data Frame [" << index << "]";
                return message;
            }
            const Bytes &frame = *sent;
            const size_t header = index == 0 ? kFirstFrameHeader : kNextFrameHeader;
            if (frame.size() <= kBmcMeHeader + header || frame[kBmcMeHeader] != 0x01) {
                ADD_FAILURE() << "Data Frame [" << index << "] expected, " << frame.size()
                              << " bytes sent";
                return message;
            }
            EXPECT_EQ(get_le16(&frame[kBmcMeHeader + 1]), index);
            if (index == 0) {
                total = get_le32(&frame[kBmcMeHeader + 5]);
            }
            message.insert(message.end(), frame.begin() + kBmcMeHeader + header, frame.end());
            respondFromMe(instance, {0x01, 0x06});
        }
        vuno::testing::deliverFromMe(instance, {0x01, 0, 0, 0, 2, 0x02, 0x00});
        return message;
    }

    // The payload of the next message, after checking its SSI header.
    Bytes nextPayload(uint8_t code, uint8_t commandId = 0) {
        const Bytes message = nextMessage();
        if (message.size() < kSsiHeader) {
            ADD_FAILURE() << "message of " << message.size() << " bytes";
            return {};
        }
        EXPECT_EQ(message[0], commandId << 3) << "command identifier and request type";
        EXPECT_EQ(message[1], code);
        EXPECT_EQ(get_le32(&message[2]), message.size() - kSsiHeader);
        return Bytes(message.begin() + kSsiHeader, message.end());
    }

    bool nothingSent() {
        vuno_process_requests(instance);
        return platform.sent.empty();
    }

    FakePlatform platform;
    vuno_instance *instance = nullptr;
};

class EveryOperation : public LinkedInstance, public ::testing::WithParamInterface<Case> {};

TEST_P(EveryOperation, SendsItsCommandCodeAndPayload) {
    const Case &operation = GetParam();
    ASSERT_EQ(operation.issue(instance, ignoreCompletion, nullptr), VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(nextPayload(operation.code), operation.payload);
}

TEST_P(EveryOperation, RefusesMissingRecordOrCallbackWithoutReservingAnything) {
    const Case &operation = GetParam();
    if (operation.issueWithoutRecord) {
        EXPECT_EQ(operation.issueWithoutRecord(instance, ignoreCompletion, nullptr),
                  VUNO_STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(platform.loggedError("Null pointer"));
    }
    EXPECT_EQ(operation.issue(instance, nullptr, nullptr), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(operation.issue(nullptr, ignoreCompletion, nullptr), VUNO_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(nothingSent());

    // Identifier 0 is still free.
    ASSERT_EQ(operation.issue(instance, ignoreCompletion, nullptr), VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(nextPayload(operation.code, 0), operation.payload);
}

INSTANTIATE_TEST_SUITE_P(Requests, EveryOperation, ::testing::ValuesIn(allOperations()),
                         [](const auto &info) { return info.param.name; });

using Requests = LinkedInstance;

TEST_F(Requests, CreateVolumeWithoutMemberDrivesSendsTheFixedPartOnly) {
    auto record = allocate<vuno_create_volume_args>();
    record->raid_level = 1;
    ASSERT_EQ(vuno_create_volume(instance, record.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    Bytes expected = zeros(62);
    expected[20] = 0x01;
    EXPECT_EQ(nextPayload(22), expected);
}

TEST_F(Requests, IdentifierListOfFullWidthTravelsSegmented) {
    constexpr size_t kDrives = 65535;
    auto record = allocate<vuno_identifier_list>(kDrives * 16);
    copyId(record->identifier, kA);
    record->count = kDrives;
    for (size_t i = 0; i < kDrives; ++i) {
        put_le16(record->drives[i], static_cast<uint16_t>(i));
        std::memset(record->drives[i] + 2, 0x5A, 14);
    }
    ASSERT_EQ(vuno_rebuild_volume(instance, record.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    record.reset();

    const Bytes payload = nextPayload(23);
    ASSERT_EQ(payload.size(), 18 + 16 * kDrives);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 16), kA);
    EXPECT_EQ(get_le16(&payload[16]), 0xFFFF);
    for (size_t drive : {size_t{0}, size_t{1}, size_t{62}, size_t{32768}, kDrives - 1}) {
        const uint8_t *at = &payload[18 + 16 * drive];
        EXPECT_EQ(get_le16(at), drive);
        EXPECT_EQ(Bytes(at + 2, at + 16), Bytes(14, 0x5A)) << "drive " << drive;
    }
}

TEST_F(Requests, EventSubscriptionCarriesZeroToFullCountOfTypesOneByteEach) {
    for (unsigned count : {0u, 255u}) {
        auto record = allocate<vuno_create_event_subscription_args>(count * sizeof(uint32_t));
        record->scope.type = 0;
        copyId(record->scope.identifier, kB);
        record->count = static_cast<uint8_t>(count);
        for (unsigned j = 0; j < count; ++j) {
            record->event_types[j] = 0x100 + j; // only the low byte travels
        }
        ASSERT_EQ(vuno_create_event_subscription(instance, record.get(), ignoreCompletion, nullptr),
                  VUNO_STATUS_COMMAND_PENDING);
        record.reset();

        const Bytes payload = nextPayload(38, count == 0 ? 0 : 1);
        ASSERT_EQ(payload.size(), 18 + count);
        EXPECT_EQ(payload[0], 0x00);
        EXPECT_EQ(Bytes(payload.begin() + 1, payload.begin() + 17), kB);
        EXPECT_EQ(payload[17], count);
        for (unsigned j = 0; j < count; ++j) {
            EXPECT_EQ(payload[18 + j], j);
        }
    }
}

TEST_F(Requests, EmptyFirmwareImageSendsTheImageHeaderOnly) {
    auto record = allocate<vuno_send_firmware_to_slot_args>();
    record->slot = 7;
    std::memcpy(record->revision, "ABCDEFGH", 8);
    ASSERT_EQ(vuno_send_firmware_to_slot(instance, record.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(nextPayload(12),
              Bytes({0x07, 0x00, 0, 0, 0, 0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
}

TEST_F(Requests, FirmwareImageTooLongToDescribeIsRefused) {
    // The record need not hold the image: the length alone is judged.
    auto record = allocate<vuno_send_firmware_to_slot_args>();
    for (uint32_t length : {0xFFFFFFF2u, 0xFFFFFFFFu}) {
        record->image_length = length;
        EXPECT_EQ(vuno_send_firmware_to_slot(instance, record.get(), ignoreCompletion, nullptr),
                  VUNO_STATUS_INVALID_PARAMETER)
            << length;
    }
    EXPECT_TRUE(nothingSent());
}

TEST_F(Requests, FlagsAndPoliciesKeepOnlyTheirBitWidth) {
    auto flag = allocate<vuno_identifier_flag>();
    flag->flag = 3;
    auto policy = allocate<vuno_identifier_policy>();
    policy->policy = 0x1F;
    auto volume = allocate<vuno_create_volume_args>();
    volume->write_hole_policy = 0x12;
    volume->existing_data = 0xFFFFFFFF;
    volume->strip_size = 0x12345;
    volume->raid_level = 0x104;

    ASSERT_EQ(vuno_verify_volume(instance, flag.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(nextPayload(28, 0).back(), 0x80);
    ASSERT_EQ(vuno_set_volume_cache_policy(instance, policy.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    EXPECT_EQ(nextPayload(31, 1).back(), 0xF0);
    ASSERT_EQ(vuno_create_volume(instance, volume.get(), ignoreCompletion, nullptr),
              VUNO_STATUS_COMMAND_PENDING);
    const Bytes payload = nextPayload(22, 2);
    ASSERT_EQ(payload.size(), 62u);
    EXPECT_EQ(get_le16(&payload[18]), 0x2345);
    EXPECT_EQ(payload[20], 0x04);
    EXPECT_EQ(payload[29], 0x28);
}

TEST(RequestsWithoutLink, AreWithdrawnAndLeaveNoCommandIdentifierTaken) {
    FakePlatform platform;
    vuno_instance *instance = platform.createInstance();
    auto drive = allocate<vuno_identifier>();
    for (int attempt = 0; attempt < 40; ++attempt) {
        ASSERT_EQ(vuno_remove_drive(instance, drive.get(), ignoreCompletion, nullptr),
                  VUNO_STATUS_HOST_NOT_CONNECTED)
            << "attempt " << attempt;
    }
    EXPECT_TRUE(platform.sent.empty());
}

TEST(PayloadWriter, RefusesWritesPastTheEndAndEverythingAfterThem) {
    uint8_t buffer[8];
    std::memset(buffer, 0xCC, sizeof buffer);
    payload_writer writer;
    payload_writer_init(&writer, buffer, 6);

    payload_put_le32(&writer, 0x04030201);
    EXPECT_FALSE(payload_writer_complete(&writer)) << "two bytes still free";
    payload_put_le32(&writer, 0x08070605);
    payload_put_u8(&writer, 0x09);
    EXPECT_FALSE(payload_writer_complete(&writer));
    EXPECT_EQ(Bytes(buffer, buffer + 8), Bytes({1, 2, 3, 4, 0xCC, 0xCC, 0xCC, 0xCC}));

    payload_writer_init(&writer, buffer, 6);
    payload_put_le16(&writer, 0x0B0A);
    payload_put_bytes(&writer, kA.data(), 4);
    EXPECT_TRUE(payload_writer_complete(&writer));
    EXPECT_EQ(Bytes(buffer, buffer + 6), Bytes({0x0A, 0x0B, 0xA0, 0xA1, 0xA2, 0xA3}));
}

} // namespace
