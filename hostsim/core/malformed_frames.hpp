// Frames that the BMC must refuse, by name, for fault injection: one kind
// for each check the BMC makes on what arrives from the host. Some kinds
// need a valid Data Frame [0] in front of the faulty frame and therefore
// consist of two frames.
#pragma once

#include "bytes.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace vuno::hostsim {

// The frames of one kind, in order; nothing for an unknown name.
std::optional<std::vector<Bytes>> MalformedFrames(std::string_view kind);
std::vector<std::string_view> MalformedFrameKinds();

} // namespace vuno::hostsim
