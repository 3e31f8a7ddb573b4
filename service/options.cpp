#include "options.hpp"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <string>

namespace vuno {

namespace {

constexpr char kVersion[] = "0.0.1";

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal.
uint16_t ParseVendorId(const std::string &text) {
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const char *first = text.data() + (hex ? 2 : 0);
    const char *last = text.data() + text.size();
    uint16_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (first == last || error != std::errc() || end != last) {
        throw CLI::ValidationError("--me-vendor-id",
                                   "'" + text + "' is not a 16-bit number such as 0x1A2B");
    }
    return value;
}

std::string HexText(uint16_t value) {
    char text[sizeof "0xFFFF"];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string AbsolutePath(const std::string &text) {
    if (!std::filesystem::path(text).is_absolute()) {
        return "'" + text + "' is not an absolute path";
    }
    return {};
}

} // namespace

CommandLine ParseCommandLine(int argc, const char *const *argv, uint16_t defaultMeVendorId) {
    CLI::App app("Out-of-band management of the host's software RAID over D-Bus.", "vunod");
    app.set_version_flag("--version", kVersion);

    Options options{.meVendorId = defaultMeVendorId,
                    .firmwareFolder = std::nullopt,
                    .inventoryMirror = false,
                    .journalExport = std::nullopt};
    app.add_option_function<std::string>(
           "--me-vendor-id",
           [&options](const std::string &text) { options.meVendorId = ParseVendorId(text); },
           "PCI vendor ID that the platform's ME expects in MCTP messages")
        ->type_name("ID")
        ->default_str(HexText(defaultMeVendorId));
    app.add_option_function<std::string>(
           "--firmware-dir", [&options](const std::string &text) { options.firmwareFolder = text; },
           "Accept firmware images only from regular files under DIR (links resolved)")
        ->type_name("DIR")
        ->check(AbsolutePath);
    app.add_flag("--inventory-mirror", options.inventoryMirror,
                 "Publish the host's storage in the inventory and its events in the event log "
                 "(costs one of the host's command identifiers and held GetEvents)");
    app.add_option_function<std::string>(
           "--journal-export",
           [&options](const std::string &text) { options.journalExport = text; },
           "Append event log entries to FILE in the journal's export format instead of "
           "sending them to the journal")
        ->type_name("FILE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        return app.exit(error) == 0 ? 0 : kUsageExitStatus;
    }
    return options;
}

} // namespace vuno
