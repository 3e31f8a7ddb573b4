// The storage interface's methods: for each its name, its arguments, the
// request it makes and how its result is converted.
#pragma once

#include "completion.hpp"

#include <sdbus-c++/Message.h>
#include <vuno.h>

#include <string>
#include <vector>

namespace vuno::dbus {

struct StorageMethod {
    const char *name;
    // D-Bus signature of the arguments and their names, which introspection
    // shows; every method answers a{sv}.
    std::string inputSignature;
    std::vector<std::string> inputNames;
    // Reads the arguments of `call`, builds the request and hands it to the
    // library with `context` as the user context of its completion.
    // Returns the library status; throws when an argument is refused, in
    // which case nothing was sent.
    int (*issue)(sdbus::MethodCall &call, vuno_instance *instance, CompletionContext &context);
};

// In the order in which they are registered.
const std::vector<StorageMethod> &StorageMethods();

} // namespace vuno::dbus
