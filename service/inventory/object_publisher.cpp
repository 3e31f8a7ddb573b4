#include "object_publisher.hpp"

#include <sdbus-c++/Message.h>

#include <algorithm>
#include <vector>

namespace vuno::inventory {

namespace {

std::string Signature(const Value &value) {
    return std::visit(
        [](const auto &held) { return sdbus::signature_of<std::decay_t<decltype(held)>>::str(); },
        value);
}

// The same interfaces with the same properties of the same types: only
// values differ, so PropertiesChanged can tell the change.
bool SameShape(const Interfaces &left, const Interfaces &right) {
    return std::equal(
        left.begin(), left.end(), right.begin(), right.end(), [](const auto &a, const auto &b) {
            return a.first == b.first &&
                   std::equal(a.second.begin(), a.second.end(), b.second.begin(), b.second.end(),
                              [](const auto &x, const auto &y) {
                                  return x.first == y.first && x.second.index() == y.second.index();
                              });
        });
}

std::vector<std::string> ChangedNames(const Properties &before, const Properties &after) {
    std::vector<std::string> names;
    for (const auto &[name, value] : after) {
        if (before.at(name) != value) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace

ObjectPublisher::ObjectPublisher(sdbus::IConnection &connection, const std::string &root)
    : connection_(connection), root_(sdbus::createObject(connection, root)) {
    root_->addObjectManager();
}

void ObjectPublisher::Apply(const ObjectSet &wanted) {
    for (auto entry = objects_.begin(); entry != objects_.end();) {
        const auto found = wanted.find(entry->first);
        if (found != wanted.end() && SameShape(entry->second->interfaces, found->second)) {
            ++entry;
            continue;
        }
        entry->second->object->emitInterfacesRemovedSignal();
        entry = objects_.erase(entry);
    }
    for (const auto &[path, interfaces] : wanted) {
        const auto found = objects_.find(path);
        if (found == objects_.end()) {
            Publish(path, interfaces);
        } else {
            Update(*found->second, interfaces);
        }
    }
}

void ObjectPublisher::Publish(const std::string &path, const Interfaces &interfaces) {
    auto published = std::make_unique<Published>();
    published->interfaces = interfaces;
    published->object = sdbus::createObject(connection_, path);
    Published *target = published.get();
    for (const auto &[interface, properties] : interfaces) {
        // An interface without properties is still announced.
        published->object->setInterfaceFlags(interface, sdbus::Flags{});
        for (const auto &[name, value] : properties) {
            published->object->registerProperty(
                interface, name, Signature(value),
                [target, interface, name](sdbus::PropertyGetReply &reply) {
                    std::visit([&reply](const auto &held) { reply << held; },
                               target->interfaces.at(interface).at(name));
                });
        }
    }
    published->object->finishRegistration();
    published->object->emitInterfacesAddedSignal();
    objects_.emplace(path, std::move(published));
}

void ObjectPublisher::Update(Published &published, const Interfaces &interfaces) {
    const Interfaces before = std::exchange(published.interfaces, interfaces);
    for (const auto &[interface, properties] : interfaces) {
        const std::vector<std::string> names = ChangedNames(before.at(interface), properties);
        if (!names.empty()) {
            published.object->emitPropertiesChangedSignal(interface, names);
        }
    }
}

} // namespace vuno::inventory
