// Replies shown to people: lists as aligned tables, single results as one
// line per entry, sizes in human units.
#pragma once

#include "reply.hpp"

#include <cstdint>
#include <ostream>
#include <string>

namespace vunoctl {

// A byte count in decimal units, for example "480.1 GB" or "1.92 TB".
std::string HumanBytes(uint64_t bytes);

// Writes a successful reply. With `details`, the items of a list are shown
// one entry per line rather than as a table row each.
void PrintResult(std::ostream &out, const Json &reply, bool details);

// The JSON document scripts read.
void PrintJson(std::ostream &out, const Json &reply);

} // namespace vunoctl
