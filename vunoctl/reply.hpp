// The daemon's reply dictionary (a{sv}) as JSON: keys unchanged, numbers
// as numbers, nested item dictionaries as objects.
#pragma once

#include <nlohmann/json.hpp>
#include <sdbus-c++/Message.h>

namespace vunoctl {

using Json = nlohmann::json;

// Reads an a{sv} reply. A value of a type the daemon never sends becomes
// null rather than failing the whole reply. Throws sdbus::Error when the
// reply is no dictionary.
Json ReplyToJson(sdbus::MethodReply &reply);

// The error name of an error dictionary, or "" for a result.
std::string ErrorName(const Json &reply);

} // namespace vunoctl
