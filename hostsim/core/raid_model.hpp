// The storage behind the simulated host's RAID software: controllers,
// drives, arrays, volumes and firmware slots, and the executor's event
// subscriptions with their queues. Every operation checks its request as
// the host's executor would; it either changes the model consistently or
// changes nothing and reports the SSI status of the refusal.
//
// Rules the model keeps:
// - A drive belongs to at most one array (its `arrayId`); a drive in an
//   array has usage Array Member, a journaling drive usage Journaling.
// - A volume lives in one array and uses some of the array's drives (its
//   member slots, in order). A slot whose drive is gone, failed or no
//   longer in the volume's array is a missing member; a rebuild puts a new
//   drive into it. Each present member gives the volume `extent` bytes; a
//   drive's free space is its size less those extents.
// - Every array holds at least one volume: deleting an array's last volume
//   returns its drives to pass-through.
// - Sizes are bytes. Long operations (initialise, rebuild, verify,
//   migrate) end after a fixed simulated time, or at once when that time
//   is zero; each raises its started and completed events.
#pragma once

#include "clock.hpp"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vuno::hostsim {

using Identifier = std::array<uint8_t, 16>;
inline constexpr Identifier kNoIdentifier{};

inline bool IsZero(const Identifier &id) {
    return id == kNoIdentifier;
}

// A fixed identifier that looks random, derived from a seed.
Identifier MakeIdentifier(uint64_t seed);

enum class SsiStatus : uint16_t {
    Success = 0,
    InvalidCommandCode = 1,
    InvalidFieldInCommand = 2,
    RequestDataLengthInvalid = 4,
    SsiBusy = 6,
    SsiCommandNotSupported = 7,
    InvalidStripSize = 256,
    InvalidVolumeName = 257,
    InvalidSize = 258,
    InvalidRaidLevel = 259,
    InvalidScope = 260,
    UnsupportedRaidLevel = 261,
    DriveTooSmall = 262,
    InvalidNumberOfDrives = 263,
    InvalidDrive = 264,
    InvalidVolume = 265,
    InvalidArray = 266,
    InvalidController = 267,
    InvalidMemberDrive = 268,
    InvalidExistingDataDrive = 269,
    InvalidJournalingDrive = 270,
    LogicalBlockSizeMismatch = 271,
    InvalidFirmwareImage = 272,
    FirmwareUpdateRequiresReset = 273,
    FirmwareUpdateProhibited = 274,
    InvalidFirmwareSlot = 275,
    InvalidVolumeState = 276,
    InvalidEventType = 277,
    InvalidRAIDWriteHolePolicy = 278,
    InvalidVolumeCachePolicy = 279,
    InvalidSubscription = 281,
    InconsistentRAIDWriteHolePolicy = 282,
};

// Wire codes of the enumerations.
enum class RaidLevel : uint8_t { Unknown = 0, Raid0 = 1, Raid1 = 2, Raid10 = 3, Raid5 = 4 };
enum class DriveStatus : uint8_t {
    Unknown = 0,
    Offline = 1,
    Missing = 2,
    Failed = 3,
    SmartEvent = 4,
    Incompatible = 5,
    Normal = 6,
    Locked = 7,
    Unsupported = 8,
};
enum class DriveUsage : uint8_t {
    Unknown = 0,
    ArrayMember = 1,
    PassThrough = 2,
    OfflineArrayMember = 3,
    Spare = 4,
    Journaling = 5,
};
enum class DriveType : uint8_t { SataOptical = 0, Sata = 1, NonVmd = 2, Vmd = 3 };
enum class VolumeState : uint8_t {
    Unknown = 0,
    Normal = 1,
    Degraded = 2,
    Failed = 3,
    Initializing = 4,
    Rebuilding = 5,
    Verifying = 6,
    VerifyingAndRepair = 7,
    Migration = 8,
    Locked = 9,
};
enum class CachePolicy : uint8_t { Unknown = 0, Disabled = 1, WriteThrough = 2, WriteBack = 3 };
enum class WriteHolePolicy : uint8_t { Off = 0, Distributed = 1, JournalingDrive = 2 };
enum class ControllerType : uint8_t { Ahci = 0, Nvme = 1, Vmd = 2 };
enum class ControllerMode : uint8_t { Ahci = 0, Raid = 1 };
enum class ScopeType : uint8_t { Global = 0, Controller = 1, Array = 2, Volume = 3, Drive = 4 };
enum class FirmwareAction : uint8_t { OnReset = 0, Immediate = 1 };
enum class EventType : uint8_t {
    DriveInserted = 0,
    DriveRemoved = 1,
    DriveFailed = 2,
    VolumeAdded = 128,
    VolumeRebuildStarted = 129,
    VolumeRebuildCompleted = 130,
    VolumeVerifyStarted = 131,
    VolumeVerifyCompleted = 132,
    VolumeVerifyAndFixStarted = 133,
    VolumeVerifyAndFixCompleted = 134,
    VolumeMigrateStarted = 135,
    VolumeMigrateCompleted = 136,
    VolumeInitializeStarted = 137,
    VolumeInitializeCompleted = 138,
    VolumeDegraded = 139,
    VolumeFailed = 140,
    VolumeRemoved = 141,
};

bool IsEventType(uint8_t code);

struct Controller {
    Identifier id{};
    std::string name;
    ControllerType type = ControllerType::Vmd;
    ControllerMode mode = ControllerMode::Raid; // meaningful for AHCI only
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t subsystemId = 0;
    uint8_t hardwareRevision = 0;
    bool preosDriverLoaded = false;
    std::array<uint16_t, 4> osDriverVersion{};
    std::array<uint16_t, 4> preosDriverVersion{};
    uint16_t maxVolumesPerArray = 2;
    uint16_t maxVolumesPerController = 8;
    uint16_t maxDrivesPerController = 8;
    bool rohiEnabled = false;
    bool readPatrolEnabled = false;
};

struct Drive {
    Identifier id{};
    Identifier arrayId{};
    Identifier controllerId{};
    std::string serial;
    std::string model;
    std::string firmware;
    uint64_t size = 0;
    uint32_t logicalBlockSize = 512;
    uint32_t physicalBlockSize = 4096;
    DriveStatus status = DriveStatus::Normal;
    DriveUsage usage = DriveUsage::PassThrough;
    bool ledSupport = true;
    bool prebootVisible = true;
    bool writeCache = false;
    DriveType type = DriveType::Vmd;
    uint8_t linkRate = 0; // ATA or PCIe link rate code, by type
    // SATA
    uint8_t port = 0;
    bool solidState = true;
    bool ncq = true;
    // NVMe
    uint16_t vendorId = 0;
    bool attachedToPch = false;
    bool dualController = false;
    uint8_t dualControllerOrder = 0;
    // NVMe behind VMD
    uint16_t socket = 0;
    uint16_t vmdController = 0;
    uint16_t rootPortOffset = 0;
    uint64_t physicalSlot = 0;
};

struct Array {
    Identifier id{};
    Identifier controllerId{};
    std::string name;
    bool writeCache = false;
};

enum class JobKind { Initialize, Rebuild, Verify, VerifyAndFix, Migrate };

struct Job {
    JobKind kind = JobKind::Initialize;
    Duration start{0};
    Duration end{0};
};

struct Volume {
    Identifier id{};
    Identifier arrayId{};
    std::string name;
    RaidLevel level = RaidLevel::Raid0;
    uint64_t size = 0;
    uint64_t extent = 0; // bytes taken from each member drive
    uint16_t stripCode = 64;
    std::vector<Identifier> members; // zero: missing member
    VolumeState state = VolumeState::Normal;
    bool initialized = true;
    bool systemVolume = false;
    uint32_t verifyErrors = 0;
    uint32_t verifyBadBlocks = 0;
    CachePolicy cachePolicy = CachePolicy::WriteThrough;
    WriteHolePolicy writeHolePolicy = WriteHolePolicy::Off;
    Identifier journalingDrive{};
    std::optional<Job> job;
};

struct FirmwareSlot {
    uint16_t number = 0;
    std::string revision; // empty: nothing stored
    uint32_t imageSize = 0;
};

struct ExecutorInfo {
    uint16_t ssiMajor = 1;
    uint16_t ssiMinor = 0;
    std::string version;
};

struct Inventory {
    ExecutorInfo executor;
    uint32_t firmwareCapacity = 0; // largest image a slot takes, bytes
    std::vector<FirmwareSlot> slots;
    std::vector<Controller> controllers;
    std::vector<Drive> drives;
    std::vector<Array> arrays;
    std::vector<Volume> volumes;
};

struct RaidCapability {
    RaidLevel level = RaidLevel::Unknown;
    uint16_t minDrives = 0;
    uint16_t maxDrives = 0;
    bool evenCount = true;
    bool oddCount = true;
    uint16_t defaultStripCode = 0;
    uint16_t stripMask = 0; // bit k: a strip of 2^(k+1) KiB, i.e. code 2^k
};

struct MigrationCapability {
    RaidLevel target = RaidLevel::Unknown;
    uint8_t minAdditionalDrives = 0;
};

std::vector<RaidCapability> RaidCapabilities(const Controller &controller);
std::optional<RaidCapability> CapabilityFor(const Controller &controller, RaidLevel level);
bool StripSupported(const RaidCapability &capability, uint16_t stripCode);
bool DriveCountFits(const RaidCapability &capability, size_t count);
// Drives' worth of data in a volume of `members` drives.
uint64_t DataDrives(RaidLevel level, size_t members);
// Bytes each member gives a volume of `size` bytes, whole strips.
uint64_t ExtentFor(uint64_t size, RaidLevel level, size_t members, uint16_t stripCode);
// What is left of a volume whose members are present or not, in order.
VolumeState HealthOf(RaidLevel level, const std::vector<bool> &present);
// 1 to 16 letters, digits, blanks, '_', '-' or '.', not starting with a blank.
bool ValidVolumeName(std::string_view name);

struct Scope {
    ScopeType type = ScopeType::Global;
    Identifier id{};
};

struct Event {
    EventType type = EventType::DriveInserted;
    Identifier object{};

    bool operator==(const Event &) const = default;
};

// What a scope covers, in inventory order. Valid until the model changes.
struct Selection {
    std::vector<const Controller *> controllers;
    std::vector<const Drive *> drives;
    std::vector<const Array *> arrays;
    std::vector<const Volume *> volumes;
};

struct JobDurations {
    Duration initialize{20000};
    Duration rebuild{30000};
    Duration verify{20000};
    Duration migrate{40000};
};

struct NewVolume {
    std::string name;
    uint16_t stripCode = 0;
    RaidLevel level = RaidLevel::Unknown;
    uint64_t size = 0; // 0: as large as the members allow
    bool existingData = false;
    WriteHolePolicy writeHolePolicy = WriteHolePolicy::Off;
    Identifier existingDataDrive{};
    Identifier journalingDrive{};
    std::vector<Identifier> members;
};

constexpr uint16_t kEventQueueDepth = 64;
constexpr size_t kMaxSubscriptions = 16;

class RaidModel {
  public:
    // Called once an operation has queued events for a subscription.
    using EventsQueued = std::function<void(const Identifier &subscription)>;

    RaidModel(const Clock &clock, Inventory inventory, JobDurations durations = {});
    RaidModel(const RaidModel &) = delete;
    RaidModel &operator=(const RaidModel &) = delete;

    // Another host's storage; subscriptions stay, as the executor does.
    void Replace(Inventory inventory);
    void SetEventsQueued(EventsQueued listener) { eventsQueued_ = std::move(listener); }

    const Inventory &Contents() const { return inventory_; }
    const Controller *FindController(const Identifier &id) const;
    const Drive *FindDrive(const Identifier &id) const;
    const Array *FindArray(const Identifier &id) const;
    const Volume *FindVolume(const Identifier &id) const;

    SsiStatus Select(const Scope &scope, Selection &out) const;
    SsiStatus ControllerCapabilities(const Identifier &controller,
                                     std::vector<RaidCapability> &out) const;
    SsiStatus MigrationCapabilities(const Identifier &volume,
                                    std::vector<MigrationCapability> &out) const;

    // Values derived from the rest of the model.
    // The member's drive is there, healthy and in the volume's array.
    bool IsPresentMember(const Volume &volume, const Identifier &drive) const;
    uint8_t ArrayOrdinal(const Volume &volume) const;
    uint64_t TotalSize(const Array &array) const;
    uint64_t FreeSize(const Array &array) const;
    uint64_t FreeSize(const Drive &drive) const;
    bool IsSystemDrive(const Drive &drive) const;
    uint32_t LogicalBlockSize(const Volume &volume) const;
    uint16_t MigrationProgress(const Volume &volume) const; // 0..65535

    // Drives.
    SsiStatus ClearMetadata(const Identifier &drive);
    SsiStatus MarkSpare(const Identifier &drive);
    SsiStatus UnmarkSpare(const Identifier &drive);
    SsiStatus MarkDriveNormal(const Identifier &drive);
    SsiStatus SetDriveWriteCache(const Identifier &drive, bool enable);
    SsiStatus ResetSmartEvent(const Identifier &drive);
    SsiStatus ActivateLed(const Identifier &drive);
    SsiStatus RemoveDrive(const Identifier &drive);
    // Things that happen to the host rather than requests to it.
    SsiStatus FailDrive(const Identifier &drive);
    SsiStatus ReinsertDrive(const Identifier &drive);

    // Volumes.
    SsiStatus CreateVolume(const NewVolume &request, Identifier &created);
    SsiStatus RebuildVolume(const Identifier &volume, const std::vector<Identifier> &drives);
    SsiStatus ExpandVolume(const Identifier &volume, uint64_t newSize);
    SsiStatus ChangeRaidLevel(const Identifier &volume, RaidLevel level, uint16_t stripCode,
                              const std::vector<Identifier> &drives);
    SsiStatus RenameVolume(const Identifier &volume, const std::string &name);
    SsiStatus MarkVolumeNormal(const Identifier &volume);
    SsiStatus VerifyVolume(const Identifier &volume, bool repair);
    SsiStatus CancelVerification(const Identifier &volume);
    SsiStatus InitializeVolume(const Identifier &volume);
    SsiStatus SetCachePolicy(const Identifier &volume, CachePolicy policy);
    SsiStatus SetWriteHolePolicy(const Identifier &volume, WriteHolePolicy policy,
                                 const Identifier &journalingDrive);
    SsiStatus DeleteVolume(const Identifier &volume);

    // Arrays and controllers.
    SsiStatus AddDrivesToArray(const Identifier &array, const std::vector<Identifier> &drives);
    SsiStatus SetArrayWriteCache(const Identifier &array, bool enable);
    SsiStatus SetRohi(const Identifier &controller, bool enable);
    SsiStatus SetReadPatrol(const Identifier &controller, bool enable);

    // Firmware.
    SsiStatus StoreFirmware(uint16_t slot, const std::string &revision, uint32_t imageSize);
    SsiStatus UpdateDriveFirmware(uint16_t slot, const Identifier &drive, FirmwareAction action);

    // Events. An empty type list subscribes to every type.
    SsiStatus Subscribe(const Scope &scope, const std::vector<EventType> &types,
                        Identifier &created);
    SsiStatus Unsubscribe(const Identifier &subscription);
    bool HasSubscription(const Identifier &subscription) const;
    // Takes up to `limit` queued events, oldest first; 0 takes them all.
    std::vector<Event> TakeEvents(const Identifier &subscription, uint32_t limit);
    size_t QueuedEvents(const Identifier &subscription) const;
    void ClearSubscriptions();
    // Queues the event for every subscription that covers the object.
    void RaiseEvent(EventType type, const Identifier &object);

    // Ends the long operations that are due.
    std::optional<Duration> NextDeadline() const;
    void OnTime();

  private:
    struct Subscription {
        Identifier id{};
        Scope scope;
        std::set<EventType> types; // empty: all
        std::deque<Event> queue;
    };
    // Announces queued events once the outermost operation is complete,
    // so that listeners never see the model half-changed.
    class Batch {
      public:
        explicit Batch(RaidModel &model);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

      private:
        RaidModel &model_;
    };

    Controller *MutableController(const Identifier &id);
    Drive *MutableDrive(const Identifier &id);
    Array *MutableArray(const Identifier &id);
    Volume *MutableVolume(const Identifier &id);
    FirmwareSlot *MutableSlot(uint16_t number);
    Subscription *MutableSubscription(const Identifier &id);
    const Controller *ControllerOf(const Volume &volume) const;
    Identifier NewIdentifier();

    size_t MissingMembers(const Volume &volume) const;
    VolumeState Health(const Volume &volume) const;
    std::vector<MigrationCapability> MigrationTargets(const Volume &volume) const;
    bool Covers(const Scope &scope, const Identifier &object) const;

    SsiStatus CheckMembersForCreate(const NewVolume &request, const Controller *&controller,
                                    Identifier &arrayId) const;
    SsiStatus CheckWriteHole(const Volume *volume, RaidLevel level, const Controller &controller,
                             WriteHolePolicy policy, const Identifier &journalingDrive,
                             const std::vector<Identifier> &members) const;
    SsiStatus CheckVolumeLimits(const Controller &controller, const Identifier &arrayId) const;
    // Drives joining `array` (for `volume`, if any): free, healthy, on the
    // array's controller, with the array's block size.
    SsiStatus CheckNewDrives(const Array &array, const Volume *volume,
                             const std::vector<Identifier> &drives, uint32_t blockSize,
                             bool sparesToo) const;
    SsiStatus CheckExtentFits(const Volume &volume, const std::vector<Identifier> &newDrives,
                              uint64_t newExtent) const;
    SsiStatus CheckName(const std::string &name, const Identifier &renamed) const;

    Identifier CreateArray(const Controller &controller);
    void JoinArray(Drive &drive, const Identifier &arrayId);
    void ReleaseJournalingDrive(Volume &volume);
    void DissolveArray(const Identifier &arrayId);
    void AfterDriveLost(const Identifier &drive);
    void UpdateHealth(Volume &volume);
    void RebuildDegradedFromSpares();
    void RebuildFromSpares(Volume &volume);
    void StartRebuild(Volume &volume, const std::vector<Identifier> &drives);
    void StartJob(Volume &volume, JobKind kind);
    SsiStatus StartRedundancyJob(const Identifier &volume, JobKind kind);
    void FinishJob(Volume &volume);
    void AnnounceQueued();

    const Clock &clock_;
    Inventory inventory_;
    JobDurations durations_;
    std::vector<Drive> removed_;
    std::vector<Subscription> subscriptions_;
    EventsQueued eventsQueued_;
    std::set<Identifier> queuedFor_;
    int batchDepth_ = 0;
    uint64_t nextSerial_ = 1;
};

} // namespace vuno::hostsim
