#include "options.hpp"

#include "inventory_file.hpp"

#include <charconv>
#include <cstdint>

namespace vuno::hostsim {
namespace {

// Decimal, or hexadecimal with a 0x prefix; the whole text must be a
// number that fits in 32 bits.
std::optional<uint32_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

Options ParseOptions(const std::vector<std::string_view> &args) {
    Options options;
    bool liveGiven = false;
    auto fail = [&options](std::string message) {
        options.error = std::move(message);
        return options;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg == "--no-heartbeats") {
            options.settings.heartbeats.enabled = false;
            continue;
        }
        if (arg != "--live-vmd" && arg != "--heartbeat-period-ms" && arg != "--inventory") {
            return fail("unknown option " + std::string(arg));
        }
        if (i + 1 == args.size()) {
            return fail(std::string(arg) + " needs a value");
        }
        const std::string_view text = args[++i];
        if (arg == "--inventory") {
            InventoryLoad load = LoadInventoryFile(std::string(text));
            if (!load.inventory) {
                return fail(load.error);
            }
            options.settings.inventory = std::move(load.inventory);
            continue;
        }
        const auto value = ParseNumber(text);
        if (arg == "--live-vmd") {
            if (!value) {
                return fail("not a VMD location value: " + std::string(text));
            }
            if (!liveGiven) {
                options.settings.liveLocations.clear();
                liveGiven = true;
            }
            options.settings.liveLocations.insert(*value);
            continue;
        }
        if (!value || *value == 0 || Duration(*value) > kMaxHeartbeatPeriod) {
            return fail("heartbeat period must be 1 to " +
                        std::to_string(kMaxHeartbeatPeriod.count()) + " ms: " + std::string(text));
        }
        options.settings.heartbeats.period = Duration(*value);
    }
    return options;
}

std::string Usage(std::string_view program) {
    return "Usage: " + std::string(program) +
           " [options]\n"
           "Simulates the platform MCTP service, the ME and the host application on the\n"
           "system bus.\n"
           "  --live-vmd 0xVALUE         a VMD location value with a live host behind it;\n"
           "                             repeatable, replaces the default 0x05000000\n"
           "  --heartbeat-period-ms N    heartbeat period of the host application (default "
           "2000)\n"
           "  --no-heartbeats            start with heartbeats stopped\n"
           "  --inventory FILE           the host's storage, described in FILE\n"
           "  --help                     show this text\n";
}

} // namespace vuno::hostsim
