// vunod's command line: the settings that differ between platforms, so that
// one binary serves several of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <variant>

namespace vuno {

struct Options {
    uint16_t meVendorId;
    // Set: only regular files under it are accepted as firmware images.
    std::optional<std::filesystem::path> firmwareFolder;
    // The host's storage in the BMC's inventory and event log; off, the
    // daemon sends the host nothing that a client did not ask for.
    bool inventoryMirror = false;
    // Set: event log entries go to this file, in the journal's export
    // format, instead of the journal.
    std::optional<std::filesystem::path> journalExport;
};

// What the command line asks for: run with these options, or exit at once
// with this status (after --help, --version or a refused command line,
// whose message has been written).
using CommandLine = std::variant<Options, int>;

inline constexpr int kUsageExitStatus = 2;

CommandLine ParseCommandLine(int argc, const char *const *argv, uint16_t defaultMeVendorId);

} // namespace vuno
