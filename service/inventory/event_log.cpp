#include "event_log.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <vector>

namespace vuno::inventory {

namespace {

// syslog priorities
constexpr int kError = 3;
constexpr int kWarning = 4;
constexpr int kNotice = 5;
constexpr int kInformational = 6;

constexpr char kDriveInserted[] = "StorageDevice.1.0.DriveInserted";
constexpr char kDriveRemoved[] = "StorageDevice.1.0.DriveRemoved";
constexpr char kDriveFailure[] = "StorageDevice.1.0.DriveFailure";
constexpr char kVolumeOk[] = "StorageDevice.1.0.VolumeOK";
constexpr char kVolumeDegraded[] = "StorageDevice.1.0.VolumeDegraded";
constexpr char kVolumeFailure[] = "StorageDevice.1.0.VolumeFailure";
constexpr char kInventoryAdded[] = "OpenBMC.0.1.InventoryAdded";
constexpr char kInventoryRemoved[] = "OpenBMC.0.1.InventoryRemoved";
constexpr char kTaskStarted[] = "TaskEvent.1.0.TaskStarted";
constexpr char kTaskCompleted[] = "TaskEvent.1.0.TaskCompletedOK";

struct EventMessage {
    std::string_view type;
    std::string_view words;
    int priority;
    const char *messageId;
    // The long-running operation of a task message.
    const char *task = nullptr;
};

constexpr std::array<EventMessage, 17> kEventMessages{{
    {"Drive inserted", "was inserted", kNotice, kDriveInserted},
    {"Drive removed", "was removed", kWarning, kDriveRemoved},
    {"Drive failed", "failed", kError, kDriveFailure},
    {"Volume added", "was created", kInformational, kInventoryAdded},
    {"Volume rebuild started", "started rebuilding", kInformational, kTaskStarted, "Rebuild"},
    {"Volume rebuild completed", "finished rebuilding", kNotice, kVolumeOk},
    {"Volume verify started", "started a verification", kInformational, kTaskStarted,
     "Verification"},
    {"Volume verify completed", "finished its verification", kInformational, kTaskCompleted,
     "Verification"},
    {"Volume verify and fix started", "started a verification with repair", kInformational,
     kTaskStarted, "Verification with repair"},
    {"Volume verify and fix completed", "finished its verification with repair", kInformational,
     kTaskCompleted, "Verification with repair"},
    {"Volume migrate started", "started a migration", kInformational, kTaskStarted, "Migration"},
    {"Volume migrate completed", "finished its migration", kInformational, kTaskCompleted,
     "Migration"},
    {"Volume initialize started", "started its initialization", kInformational, kTaskStarted,
     "Initialization"},
    {"Volume initialize completed", "finished its initialization", kInformational, kTaskCompleted,
     "Initialization"},
    {"Volume degraded", "is degraded", kWarning, kVolumeDegraded},
    {"Volume failed", "failed", kError, kVolumeFailure},
    {"Volume removed", "was deleted", kInformational, kInventoryRemoved},
}};

// Names come from the host: nothing in them may break a field, nor split
// an argument list.
std::string Clean(std::string text, bool inArgumentList = false) {
    std::replace_if(
        text.begin(), text.end(),
        [inArgumentList](char c) {
            return (inArgumentList && c == ',') || std::iscntrl(static_cast<unsigned char>(c)) != 0;
        },
        ' ');
    return text;
}

std::string Join(const std::vector<std::string> &arguments) {
    std::string joined;
    for (const std::string &argument : arguments) {
        joined += (joined.empty() ? "" : ",") + Clean(argument, true);
    }
    return joined;
}

struct Subject {
    std::string words;
    std::vector<std::string> arguments;
};

Subject DriveSubject(const std::string &id, const HostStorage &storage) {
    const std::string name = ObjectName(Kind::Drive, id);
    const dbus::ItemDictionary *drive = storage.Find(Kind::Drive, id);
    std::string words = "Host drive " + name;
    if (drive != nullptr) {
        words += " (" + Field<std::string>(*drive, "Model") + ", serial " +
                 Field<std::string>(*drive, "Serial") + ")";
    }
    return {words, {name}};
}

Subject VolumeSubject(const EventMessage &message, const std::string &id,
                      const HostStorage &storage) {
    const dbus::ItemDictionary *volume = storage.Find(Kind::Volume, id);
    const std::string known = volume == nullptr ? "" : Field<std::string>(*volume, "Name");
    const std::string name = known.empty() ? ObjectName(Kind::Volume, id) : known;
    const std::string words = "Host RAID volume " + name;
    if (message.task != nullptr) {
        return {words, {std::string(message.task) + " of volume " + name}};
    }
    if (message.messageId == kInventoryAdded || message.messageId == kInventoryRemoved) {
        return {words, {"RAID", "volume " + name, id}};
    }
    const std::string controller = storage.ControllerOfArray(storage.ArrayOf(id));
    return {words, {name, controller.empty() ? "host" : ObjectName(Kind::Controller, controller)}};
}

} // namespace

JournalEntry DescribeEvent(const std::string &type, const std::string &object,
                           const HostStorage &storage) {
    const auto message = std::find_if(kEventMessages.begin(), kEventMessages.end(),
                                      [&type](const EventMessage &m) { return m.type == type; });
    // Without a message of its own an event is kept out of the Redfish log
    // rather than shown as something it is not.
    if (message == kEventMessages.end()) {
        return {{"MESSAGE", Clean("The host's RAID storage reported an event of an unknown type "
                                  "about " +
                                  object)},
                {"PRIORITY", std::to_string(kWarning)}};
    }
    const Subject subject = type.starts_with("Drive") ? DriveSubject(object, storage)
                                                      : VolumeSubject(*message, object, storage);
    return {
        {"MESSAGE", Clean(subject.words + " " + std::string(message->words) + ".")},
        {"PRIORITY", std::to_string(message->priority)},
        {"REDFISH_MESSAGE_ID", message->messageId},
        {"REDFISH_MESSAGE_ARGS", Join(subject.arguments)},
    };
}

} // namespace vuno::inventory
