// Event subscriptions and the events collected for them.
#include "result_conversion.hpp"
#include "result_fields.hpp"

namespace vuno::dbus {

namespace {

ItemDictionary EventItem(const vuno_event &event) {
    ItemDictionary item;
    item.emplace("EventType",
                 EnumerationText(kEventTypes, event.EventType, "Invalid event type: 0x"));
    item.emplace("EventIdentifier", IdentifierToText(event.EventIdentifier));
    return item;
}

ResultDictionary SubscriptionResult(const vuno_subscription &record) {
    return {{"SubscriptionId", sdbus::Variant(IdentifierToText(record.SubscriptionId))},
            {"EventQueueDepth", sdbus::Variant(record.EventQueueDepth)}};
}

ResultDictionary EventListResult(const vuno_event_list &record) {
    return ListResult(record.Count, record.Events, "Events", EventItem);
}

} // namespace

ResultDictionary ConvertSubscription(const vuno_subscription *record) {
    return ConvertPresentRecord(record, SubscriptionResult);
}

ResultDictionary ConvertEventList(const vuno_event_list *record) {
    return ConvertPresentRecord(record, EventListResult);
}

} // namespace vuno::dbus
