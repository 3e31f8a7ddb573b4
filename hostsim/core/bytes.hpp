#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vuno::hostsim {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

} // namespace vuno::hostsim
