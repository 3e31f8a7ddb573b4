// Command-line options of vuno-hostsim: the simulated platform's state at
// start-up.
#pragma once

#include "simulator.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vuno::hostsim {

struct Options {
    Settings settings;
    bool help = false;
    std::optional<std::string> error;
};

constexpr Duration kMaxHeartbeatPeriod{3600 * 1000};

// Arguments without the program name.
Options ParseOptions(const std::vector<std::string_view> &args);

std::string Usage(std::string_view program);

} // namespace vuno::hostsim
