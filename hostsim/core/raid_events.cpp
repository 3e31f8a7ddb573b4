// Event subscriptions and their queues, and the batches that announce
// queued events once an operation is complete.
#include "raid_model_internal.hpp"

namespace vuno::hostsim {

using namespace raid;

RaidModel::Batch::Batch(RaidModel &model) : model_(model) {
    ++model_.batchDepth_;
}

RaidModel::Batch::~Batch() {
    if (--model_.batchDepth_ == 0) {
        model_.AnnounceQueued();
    }
}

void RaidModel::AnnounceQueued() {
    const std::set<Identifier> queued = std::exchange(queuedFor_, {});
    for (const Identifier &subscription : queued) {
        if (eventsQueued_ && HasSubscription(subscription)) {
            eventsQueued_(subscription);
        }
    }
}

RaidModel::Subscription *RaidModel::MutableSubscription(const Identifier &id) {
    return FindById(subscriptions_, id);
}

bool RaidModel::HasSubscription(const Identifier &id) const {
    return const_cast<RaidModel *>(this)->MutableSubscription(id) != nullptr;
}

SsiStatus RaidModel::Subscribe(const Scope &scope, const std::vector<EventType> &types,
                               Identifier &created) {
    Selection unused;
    if (const SsiStatus status = Select(scope, unused); status != SsiStatus::Success) {
        return status;
    }
    if (subscriptions_.size() >= kMaxSubscriptions) {
        return SsiStatus::SsiBusy;
    }
    Subscription subscription;
    subscription.id = NewIdentifier();
    subscription.scope = scope;
    subscription.types.insert(types.begin(), types.end());
    subscriptions_.push_back(std::move(subscription));
    created = subscriptions_.back().id;
    return SsiStatus::Success;
}

SsiStatus RaidModel::Unsubscribe(const Identifier &id) {
    if (!HasSubscription(id)) {
        return SsiStatus::InvalidSubscription;
    }
    std::erase_if(subscriptions_, [&id](const Subscription &other) { return other.id == id; });
    return SsiStatus::Success;
}

std::vector<Event> RaidModel::TakeEvents(const Identifier &id, uint32_t limit) {
    std::vector<Event> taken;
    Subscription *subscription = MutableSubscription(id);
    if (subscription == nullptr) {
        return taken;
    }
    std::deque<Event> &queue = subscription->queue;
    const size_t count = limit == 0 ? queue.size() : std::min<size_t>(limit, queue.size());
    taken.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
    return taken;
}

size_t RaidModel::QueuedEvents(const Identifier &id) const {
    const auto *subscription = const_cast<RaidModel *>(this)->MutableSubscription(id);
    return subscription == nullptr ? 0 : subscription->queue.size();
}

void RaidModel::ClearSubscriptions() {
    subscriptions_.clear();
    queuedFor_.clear();
}

bool RaidModel::Covers(const Scope &scope, const Identifier &object) const {
    if (scope.type == ScopeType::Global) {
        return true;
    }
    Selection selection;
    if (Select(scope, selection) != SsiStatus::Success) {
        return false;
    }
    const auto is = [&object](const auto *item) { return item->id == object; };
    return std::any_of(selection.drives.begin(), selection.drives.end(), is) ||
           std::any_of(selection.volumes.begin(), selection.volumes.end(), is);
}

void RaidModel::RaiseEvent(EventType type, const Identifier &object) {
    const Batch batch(*this);
    for (Subscription &subscription : subscriptions_) {
        if (!subscription.types.empty() && !subscription.types.contains(type)) {
            continue;
        }
        if (!Covers(subscription.scope, object)) {
            continue;
        }
        // A full queue keeps the newest events: they describe the present.
        if (subscription.queue.size() >= kEventQueueDepth) {
            subscription.queue.pop_front();
        }
        subscription.queue.push_back({type, object});
        queuedFor_.insert(subscription.id);
    }
}

} // namespace vuno::hostsim
