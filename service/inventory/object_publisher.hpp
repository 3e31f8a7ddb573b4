// Keeps a subtree of D-Bus objects equal to a wanted set: objects come and
// go with InterfacesAdded and InterfacesRemoved from the object manager at
// the subtree's root, and changed properties emit PropertiesChanged.
#pragma once

#include "host_storage.hpp"

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>

#include <map>
#include <memory>
#include <string>

namespace vuno::inventory {

class ObjectPublisher {
  public:
    // Installs the object manager at `root`.
    ObjectPublisher(sdbus::IConnection &connection, const std::string &root);
    ObjectPublisher(const ObjectPublisher &) = delete;
    ObjectPublisher &operator=(const ObjectPublisher &) = delete;

    // Throws sdbus::Error when the bus refuses; what was done stays done.
    void Apply(const ObjectSet &wanted);

  private:
    struct Published {
        Interfaces interfaces;
        std::unique_ptr<sdbus::IObject> object;
    };

    void Publish(const std::string &path, const Interfaces &interfaces);
    static void Update(Published &published, const Interfaces &interfaces);

    sdbus::IConnection &connection_;
    std::unique_ptr<sdbus::IObject> root_;
    std::map<std::string, std::unique_ptr<Published>> objects_;
};

} // namespace vuno::inventory
