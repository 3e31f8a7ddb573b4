// The library against the simulated host's storage, in one process: real
// storage commands go out as SSI requests, the host's executor carries
// them out on its RAID model, and the answers come back decoded.
#include "in_process_platform.hpp"
#include "inventory_file.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vuno::hostsim::testing {

std::ostream &operator<<(std::ostream &out, const Completion &completion) {
    return out << "(" << completion.status << ", " << completion.ssiStatus << ")";
}

namespace {

using std::chrono::seconds;

constexpr Completion kSuccess{0, 0};

void CopyId(uint8_t (&to)[VUNO_IDENTIFIER_SIZE], const Identifier &from) {
    std::memcpy(to, from.data(), from.size());
}

Identifier IdOf(const uint8_t (&bytes)[VUNO_IDENTIFIER_SIZE]) {
    Identifier id{};
    std::memcpy(id.data(), bytes, id.size());
    return id;
}

std::string Text(const uint8_t *bytes, size_t width) {
    return std::string(reinterpret_cast<const char *>(bytes),
                       strnlen(reinterpret_cast<const char *>(bytes), width));
}

Operation WithScope(uint32_t type, const Identifier &id,
                    int (*operation)(vuno_instance *, const vuno_scope *, vuno_completion_callback,
                                     void *)) {
    return [=](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        vuno_scope scope{type, {}};
        CopyId(scope.identifier, id);
        return operation(instance, &scope, callback, context);
    };
}

Operation OnIdentifier(const Identifier &id,
                       int (*operation)(vuno_instance *, const vuno_identifier *,
                                        vuno_completion_callback, void *)) {
    return [=](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        vuno_identifier target{};
        CopyId(target.identifier, id);
        return operation(instance, &target, callback, context);
    };
}

Operation Subscribe() {
    return [](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        vuno_create_event_subscription_args args{};
        return vuno_create_event_subscription(instance, &args, callback, context);
    };
}

Operation GetEvents(const Identifier &subscription) {
    return [=](vuno_instance *instance, vuno_completion_callback callback, void *context) {
        vuno_get_events_args args{};
        CopyId(args.subscription, subscription);
        return vuno_get_events(instance, &args, callback, context);
    };
}

std::vector<uint32_t> EventTypes(const void *record) {
    const auto &list = *static_cast<const vuno_event_list *>(record);
    std::vector<uint32_t> types;
    for (uint16_t i = 0; i < list.Count; ++i) {
        types.push_back(list.Events[i].EventType);
    }
    return types;
}

class StorageExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(platform_.Connect(), 0u); }
    void TearDown() override {
        EXPECT_EQ(platform_.LockErrors(), 0);
        EXPECT_EQ(platform_.DuplicateCompletions(), 0);
    }

    Identifier NewSubscription() {
        Identifier id{};
        EXPECT_EQ(platform_.Request(
                      Subscribe(), seconds(10),
                      [&id](const void *record) {
                          id = IdOf(static_cast<const vuno_subscription *>(record)->SubscriptionId);
                      }),
                  kSuccess);
        return id;
    }

    InProcessPlatform platform_;
};

TEST_F(StorageExchangeTest, InventoryArrivesDecoded) {
    std::vector<std::string> serials;
    uint32_t sataPort = 0xFF;
    EXPECT_EQ(platform_.Request(WithScope(0, {}, vuno_get_drive_information), seconds(10),
                                [&](const void *record) {
                                    const auto &list =
                                        *static_cast<const vuno_drive_information_list *>(record);
                                    for (uint16_t i = 0; i < list.Count; ++i) {
                                        serials.push_back(Text(list.Drives[i].Serial, 20));
                                    }
                                    sataPort = list.Drives[7].Sata.PortNumber;
                                }),
              kSuccess);
    ASSERT_EQ(serials.size(), 8u);
    EXPECT_EQ(serials[0], "SIMN16A0001842");
    EXPECT_EQ(sataPort, 1u);

    uint8_t levels = 0;
    EXPECT_EQ(platform_.Request(
                  OnIdentifier(LabelIdentifier("controller", "vmd0"),
                               vuno_get_controller_raid_capabilities),
                  seconds(10),
                  [&levels](const void *record) {
                      levels = static_cast<const vuno_raid_capability_list *>(record)->Count;
                  }),
              kSuccess);
    EXPECT_EQ(levels, 4);
}

TEST_F(StorageExchangeTest, ACreatedVolumeIsListedWithItsLayout) {
    std::vector<uint8_t> storage(sizeof(vuno_create_volume_args) + 2 * VUNO_IDENTIFIER_SIZE);
    auto *args = reinterpret_cast<vuno_create_volume_args *>(storage.data());
    args->count = 2;
    std::memcpy(args->name, "Mirror", 6);
    args->strip_size = 32;
    args->raid_level = 2;
    CopyId(args->drives[0], LabelIdentifier("drive", "sata0"));
    CopyId(args->drives[1], LabelIdentifier("drive", "sata1"));
    Identifier created{};
    EXPECT_EQ(
        platform_.Request(
            [args](vuno_instance *instance, vuno_completion_callback callback, void *context) {
                return vuno_create_volume(instance, args, callback, context);
            },
            seconds(10),
            [&created](const void *record) {
                created = IdOf(static_cast<const vuno_volume_identifier *>(record)->VolumeId);
            }),
        kSuccess);
    ASSERT_NE(platform_.Sim().Storage().FindVolume(created), nullptr);

    vuno_volume_information volume{};
    EXPECT_EQ(platform_.Request(WithScope(3, created, vuno_get_volume_information), seconds(10),
                                [&volume](const void *record) {
                                    const auto &list =
                                        *static_cast<const vuno_volume_information_list *>(record);
                                    ASSERT_EQ(list.Count, 1);
                                    volume = list.Volumes[0];
                                }),
              kSuccess);
    EXPECT_EQ(Text(volume.Name, 16), "Mirror");
    EXPECT_EQ(volume.Level, 2u);
    EXPECT_EQ(volume.DrivesNumber, 2);
    EXPECT_EQ(volume.State, 1u);
    EXPECT_EQ(volume.StripSizeCode, 32u);
}

TEST_F(StorageExchangeTest, RefusalsArriveAsSsiStatuses) {
    EXPECT_EQ(platform_.Request(
                  OnIdentifier(LabelIdentifier("drive", "nvme0"), vuno_mark_drive_as_spare)),
              (Completion{0, 264}))
        << "an array member cannot be a spare";
    EXPECT_EQ(
        platform_.Request(OnIdentifier(LabelIdentifier("volume", "system"), vuno_delete_volume)),
        (Completion{0, 276}));
    platform_.Sim().Host().Executor().OverrideStatus(4, 6);
    EXPECT_EQ(platform_.Request(WithScope(0, {}, vuno_get_drive_information)), (Completion{0, 6}))
        << "fault injection still comes first";
}

TEST_F(StorageExchangeTest, AHeldGetEventsEndsWhenADriveFails) {
    const Identifier subscription = NewSubscription();
    std::vector<uint32_t> types;
    const auto &outcome = platform_.Start(
        GetEvents(subscription), [&types](const void *record) { types = EventTypes(record); });
    platform_.RunFor(seconds(5));
    EXPECT_FALSE(outcome) << "no event yet";

    ASSERT_EQ(platform_.Sim().Storage().FailDrive(LabelIdentifier("drive", "nvme2")),
              SsiStatus::Success);
    EXPECT_TRUE(platform_.RunUntil([&outcome] { return outcome.has_value(); }, seconds(1)));
    EXPECT_EQ(outcome, kSuccess);
    EXPECT_EQ(types, (std::vector<uint32_t>{2, 139, 129}));

    // The rebuild onto the spare ends in simulated time.
    EXPECT_EQ(platform_.Request(GetEvents(subscription), seconds(60),
                                [&types](const void *record) { types = EventTypes(record); }),
              kSuccess);
    EXPECT_EQ(types, (std::vector<uint32_t>{130}));
}

TEST_F(StorageExchangeTest, AHostRestartEndsSubscriptionsAndHeldRequests) {
    const Identifier subscription = NewSubscription();
    const auto &outcome = platform_.Start(GetEvents(subscription));
    platform_.RunFor(seconds(1));
    platform_.Sim().Host().Restart();
    EXPECT_TRUE(platform_.RunUntil([&outcome] { return outcome.has_value(); }, seconds(10)));
    EXPECT_EQ(outcome, (Completion{9, 0xFFFF}));
    EXPECT_EQ(platform_.Request(GetEvents(subscription), seconds(10)), (Completion{0, 281}));
}

} // namespace
} // namespace vuno::hostsim::testing
