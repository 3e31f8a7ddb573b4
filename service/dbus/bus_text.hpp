// Bytes from outside as a D-Bus string. The bus only carries valid UTF-8
// and refuses the whole message otherwise, so a single odd byte in a name
// reported by the executor would cost the caller the entire reply.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vuno::dbus {

// Well-formed UTF-8 sequences are kept as they are; every other byte is
// replaced by U+FFFD. Zero bytes are the caller's business.
std::string BusText(std::span<const uint8_t> bytes);

} // namespace vuno::dbus
