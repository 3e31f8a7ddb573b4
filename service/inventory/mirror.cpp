#include "mirror.hpp"

#include "argument_parsing.hpp"
#include "client_load.hpp"
#include "event_log.hpp"
#include "request_builders.hpp"
#include "result_conversion.hpp"

#include <sdbus-c++/Error.h>

#include <iostream>
#include <set>

namespace vuno::inventory {

namespace {

using dbus::ItemDictionary;
using dbus::ResultDictionary;

constexpr char kZeroIdentifier[] = "00000000-0000-0000-0000-000000000000";
// The executor's answer for a drive or volume it does not have.
constexpr uint32_t kInvalidDrive = 264;
constexpr uint32_t kInvalidVolume = 265;

template <typename Converter> struct RecordOf;
template <typename Record> struct RecordOf<ResultDictionary (*)(const Record *)> {
    using Type = Record;
};

template <auto Convert>
void OnCompleted(uint32_t status, uint32_t ssiStatus, const void *record, void *context) noexcept {
    auto &pending = *static_cast<Mirror::Pending *>(context);
    pending.outcome = Mirror::Outcome::Ended(status, ssiStatus);
    if (status == VUNO_STATUS_SUCCESS && ssiStatus == 0) {
        // The library called us: nothing may unwind into it.
        try {
            using Record = typename RecordOf<decltype(Convert)>::Type;
            pending.outcome.result = Convert(static_cast<const Record *>(record));
        } catch (...) {
            pending.outcome.status = VUNO_STATUS_NOT_ENOUGH_MEMORY;
        }
    }
    pending.done = true;
}

ResultDictionary NoResult(const void *) {
    return {};
}

// Every event type there is, so that nothing the host reports is missed.
std::vector<std::string> EveryEventType() {
    std::vector<std::string> types;
    for (const dbus::NamedCode &event : dbus::kEventTypes) {
        types.emplace_back(event.text);
    }
    return types;
}

std::string Text(const ResultDictionary &result, const std::string &key) {
    const auto found = result.find(key);
    return found == result.end() || !found->second.containsValueOfType<std::string>()
               ? ""
               : found->second.get<std::string>();
}

template <auto Operation, auto Convert>
Mirror::Issuer ScopedRead(std::string type, std::string id) {
    return [type = std::move(type), id = std::move(id)](vuno_instance *instance,
                                                        Mirror::Pending *pending) {
        const vuno_scope scope = dbus::BuildScope(type, id);
        return Operation(instance, &scope, &OnCompleted<Convert>, pending);
    };
}

Mirror::Issuer ReadOf(Kind kind, const std::string &scopeType, const std::string &id) {
    switch (kind) {
    case Kind::Controller:
        return ScopedRead<vuno_get_controller_information, dbus::ConvertControllerList>(scopeType,
                                                                                        id);
    case Kind::Drive:
        return ScopedRead<vuno_get_drive_information, dbus::ConvertDriveList>(scopeType, id);
    case Kind::Array:
        return ScopedRead<vuno_get_array_information, dbus::ConvertArrayList>(scopeType, id);
    case Kind::Volume:
        break;
    }
    return ScopedRead<vuno_get_volume_information, dbus::ConvertVolumeList>(scopeType, id);
}

} // namespace

bool Mirror::Outcome::Succeeded() const {
    return !stopped && status == VUNO_STATUS_SUCCESS && ssiStatus == 0 && !result.contains("Error");
}

Mirror::Mirror(std::shared_ptr<dbus::BusLoop> bus, vuno_instance *instance, JournalWriter journal,
               MirrorPeriods periods)
    : bus_(std::move(bus)), instance_(instance), journal_(std::move(journal)), periods_(periods),
      timer_(bus_->Context()), publisher_(bus_->Connection(), kRootPath) {}

void Mirror::Start() {
    boost::asio::spawn(bus_->Context(), [this](boost::asio::yield_context yield) { Run(yield); });
}

void Mirror::Run(boost::asio::yield_context yield) {
    while (!timer_.Stopped()) {
        Follow(yield);
        timer_.Wait(periods_.retry, yield);
    }
}

void Mirror::Follow(boost::asio::yield_context yield) {
    if (!Subscribe(yield) || !ReadAll(yield)) {
        return;
    }
    for (;;) {
        const Outcome events = Submit(
            [this](vuno_instance *instance, Pending *pending) {
                const auto arguments = dbus::BuildGetEvents(*subscription_, 0);
                return vuno_get_events(instance, arguments.get(),
                                       &OnCompleted<dbus::ConvertEventList>, pending);
            },
            yield);
        if (!events.Succeeded()) {
            return;
        }
        HandleEvents(events.result, yield);
    }
}

bool Mirror::Subscribe(boost::asio::yield_context yield) {
    // A subscription left from before a lost link would fill up unread on
    // the host.
    if (subscription_) {
        const Outcome cancelled = Submit(
            [this](vuno_instance *instance, Pending *pending) {
                const vuno_identifier subscription = dbus::BuildIdentifier(*subscription_);
                return vuno_cancel_event_subscription(instance, &subscription,
                                                      &OnCompleted<NoResult>, pending);
            },
            yield);
        if (cancelled.stopped || cancelled.status == VUNO_STATUS_HOST_NOT_CONNECTED) {
            return false;
        }
        subscription_.reset();
    }
    const Outcome created = Submit(
        [](vuno_instance *instance, Pending *pending) {
            const auto arguments =
                dbus::BuildEventSubscription("Global", kZeroIdentifier, EveryEventType());
            return vuno_create_event_subscription(instance, arguments.get(),
                                                  &OnCompleted<dbus::ConvertSubscription>, pending);
        },
        yield);
    if (!created.Succeeded()) {
        return false;
    }
    subscription_ = Text(created.result, "SubscriptionId");
    return true;
}

bool Mirror::ReadAll(boost::asio::yield_context yield) {
    for (const Kind kind : kKinds) {
        if (!Read(kind, yield)) {
            return false;
        }
    }
    storage_.SetLinkUp(true);
    Publish();
    std::cout << "Inventory mirror: the host's storage was read and published" << std::endl;
    return true;
}

bool Mirror::Read(Kind kind, boost::asio::yield_context yield) {
    const Outcome read = Submit(ReadOf(kind, "Global", kZeroIdentifier), yield);
    if (read.Succeeded()) {
        storage_.ReplaceAll(kind, read.result);
    }
    return read.Succeeded();
}

// A drive event changes that drive. A volume event changes that volume, and
// with it the arrays and the drives' membership and rebuilding, which the
// host reports only per drive: those are read again whole, once for all the
// events of one answer.
void Mirror::HandleEvents(const ResultDictionary &events, boost::asio::yield_context yield) {
    const auto found = events.find("Events");
    if (found == events.end() ||
        !found->second.containsValueOfType<std::vector<ItemDictionary>>()) {
        return;
    }
    std::set<std::string> drives;
    std::set<std::string> volumes;
    for (const ItemDictionary &event : found->second.get<std::vector<ItemDictionary>>()) {
        const std::string type = Field<std::string>(event, "EventType");
        const std::string object = Field<std::string>(event, "EventIdentifier");
        // Described before the refresh: a removed object is still known.
        journal_(DescribeEvent(type, object, storage_));
        if (object.empty()) {
            continue;
        }
        if (type.starts_with("Drive")) {
            drives.insert(object);
        } else if (type.starts_with("Volume")) {
            volumes.insert(object);
        }
    }
    for (const std::string &volume : volumes) {
        RefreshOne(Kind::Volume, volume, yield);
    }
    if (volumes.empty()) {
        for (const std::string &drive : drives) {
            RefreshOne(Kind::Drive, drive, yield);
        }
    } else {
        Read(Kind::Array, yield);
        Read(Kind::Drive, yield);
    }
    Publish();
}

void Mirror::RefreshOne(Kind kind, const std::string &id, boost::asio::yield_context yield) {
    const std::string scope = kind == Kind::Drive ? "Drive" : "Volume";
    const Outcome read = Submit(ReadOf(kind, scope, id), yield);
    const uint32_t gone = kind == Kind::Drive ? kInvalidDrive : kInvalidVolume;
    if (read.Succeeded() || (read.status == VUNO_STATUS_SUCCESS && read.ssiStatus == gone)) {
        storage_.ReplaceOne(kind, id, read.result);
    }
}

Mirror::Outcome Mirror::Submit(const Issuer &issue, boost::asio::yield_context yield) {
    if (!WaitForClients(yield)) {
        return Outcome::Stopped();
    }
    pending_ = {};
    int status = VUNO_STATUS_INVALID_PARAMETER;
    try {
        status = issue(instance_, &pending_);
    } catch (const std::exception &error) {
        std::cout << "Inventory mirror: cannot build a request: " << error.what() << std::endl;
    }
    if (status != VUNO_STATUS_COMMAND_PENDING) {
        pending_.outcome = Outcome::Ended(static_cast<uint32_t>(status));
    }
    while (status == VUNO_STATUS_COMMAND_PENDING && !pending_.done) {
        if (!timer_.Wait(periods_.poll, yield)) {
            return Outcome::Stopped();
        }
    }
    if (pending_.outcome.status == VUNO_STATUS_HOST_NOT_CONNECTED) {
        LinkLost();
    }
    return pending_.outcome;
}

bool Mirror::WaitForClients(boost::asio::yield_context yield) {
    const auto &load = boost::asio::use_service<dbus::ClientLoad>(bus_->Context());
    while (load.Waiting() > 0) {
        if (!timer_.Wait(periods_.poll, yield)) {
            return false;
        }
    }
    return !timer_.Stopped();
}

// The objects stay, not Present: a host reboot takes the link down for a
// while, and the Redfish resources keep their last known data and their
// URIs meanwhile instead of vanishing and coming back.
void Mirror::LinkLost() {
    if (!storage_.LinkUp()) {
        return;
    }
    std::cout << "Inventory mirror: the host link is down; its objects stay, not present"
              << std::endl;
    storage_.SetLinkUp(false);
    Publish();
}

void Mirror::Publish() {
    try {
        publisher_.Apply(storage_.Objects());
    } catch (const sdbus::Error &error) {
        std::cout << "Inventory mirror: cannot publish: " << error.getName() << ": "
                  << error.getMessage() << std::endl;
    }
    bus_->Rearm();
}

} // namespace vuno::inventory
