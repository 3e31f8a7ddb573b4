#include "methods.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace vunoctl {
namespace {

using namespace std::chrono_literals;

// The library gives up on a request the host leaves unanswered after about
// 61 seconds and then answers Timeout; the client must still be listening.
constexpr auto kRequestTimeout = std::chrono::microseconds(90s);
// The link carries one frame of at most 1011 payload bytes per 10 ms step.
constexpr double kLinkBytesPerSecond = 1011.0 * 100.0;
// Retransmissions and a busy link may halve the rate.
constexpr double kLinkMargin = 2.0;
// The executor holds GetEvents until it has events, for as long as it
// likes; ten years stands for "no time-out", which sd-bus cannot express.
constexpr auto kHeldTimeout = std::chrono::microseconds(std::chrono::hours(24 * 3653));

const std::vector<Method> kMethods = {
    {"GetDriveIdentifiers", "ss"},
    {"GetDriveInformation", "ss"},
    {"GetVolumeIdentifiers", "ss"},
    {"GetVolumeInformation", "ss"},
    {"GetVolumeMigrationCapabilities", "s"},
    {"GetArrayIdentifiers", "ss"},
    {"GetArrayInformation", "ss"},
    {"GetControllerIdentifiers", "ss"},
    {"GetControllerInformation", "ss"},
    {"GetControllerRaidCapabilities", "s"},
    {"GetFirmwareSlotInformation", ""},
    {"SendFirmwareToSlot", "qss"},
    {"UpdateDriveFirmware", "qss"},
    {"GetExecutorInformation", ""},
    {"ClearDriveMetadata", "s"},
    {"MarkDriveAsSpare", "s"},
    {"UnmarkSpareDrive", "s"},
    {"MarkDriveAsNormal", "s"},
    {"SetVolatileWriteCacheOnDrive", "sb"},
    {"ResetSmartEventOnDrive", "s"},
    {"ActivateDriveLed", "s"},
    {"RemoveDrive", "s"},
    {"CreateVolume", "sustsbssas"},
    {"RebuildVolume", "sas"},
    {"ExpandVolume", "st"},
    {"ChangeRaidLevel", "susas"},
    {"RenameVolume", "ss"},
    {"MarkVolumeAsNormal", "s"},
    {"VerifyVolume", "sb"},
    {"CancelVolumeVerification", "s"},
    {"InitializeVolume", "s"},
    {"SetVolumeCachePolicy", "ss"},
    {"SetRAIDWriteHolePolicy", "sss"},
    {"DeleteVolume", "s"},
    {"AddDrivesToArray", "sas"},
    {"SetVolatileWriteCacheOnArray", "sb"},
    {"SetROHIPolicy", "sb"},
    {"SetReadPatrolPolicy", "sb"},
    {"CreateEventSubscription", "ssas"},
    {"CancelEventSubscription", "s"},
    {"GetEvents", "su"},
};

template <typename Number> Number ParseNumber(const std::string &text) {
    Number value{};
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw UsageError("not a number in range: " + text);
    }
    return value;
}

bool ParseBool(const std::string &text) {
    static const std::array<std::pair<std::string_view, bool>, 8> kWords = {{
        {"true", true},
        {"false", false},
        {"on", true},
        {"off", false},
        {"yes", true},
        {"no", false},
        {"1", true},
        {"0", false},
    }};
    const auto found = std::find_if(kWords.begin(), kWords.end(),
                                    [&text](const auto &word) { return word.first == text; });
    if (found == kWords.end()) {
        throw UsageError("not a yes/no value: " + text);
    }
    return found->second;
}

void AppendOne(sdbus::MethodCall &call, const std::string &type, const ArgumentTexts &texts) {
    if (type == "as") {
        call << texts;
        return;
    }
    const std::string &text = texts.at(0);
    switch (type.at(0)) {
    case 's':
        call << text;
        return;
    case 'b':
        call << ParseBool(text);
        return;
    case 'q':
        call << ParseNumber<uint16_t>(text);
        return;
    case 'u':
        call << ParseNumber<uint32_t>(text);
        return;
    case 't':
        call << ParseSize(text);
        return;
    default:
        throw UsageError("arguments of type " + type + " are not supported");
    }
}

// Length of the complete type at the start of `signature`.
size_t CompleteTypeLength(std::string_view signature) {
    size_t length = 0;
    while (length < signature.size() && signature[length] == 'a') {
        ++length;
    }
    if (length >= signature.size()) {
        throw UsageError("incomplete signature");
    }
    const char open = signature[length];
    if (open != '(' && open != '{') {
        return length + 1;
    }
    const char close = open == '(' ? ')' : '}';
    int depth = 0;
    for (; length < signature.size(); ++length) {
        depth += signature[length] == open;
        depth -= signature[length] == close;
        if (depth == 0) {
            return length + 1;
        }
    }
    throw UsageError("incomplete signature");
}

} // namespace

const std::vector<Method> &StorageMethods() {
    return kMethods;
}

const Method *FindMethod(std::string_view name) {
    const auto found = std::find_if(kMethods.begin(), kMethods.end(),
                                    [name](const Method &method) { return method.name == name; });
    return found == kMethods.end() ? nullptr : &*found;
}

std::vector<std::string> SplitSignature(std::string_view signature) {
    std::vector<std::string> types;
    while (!signature.empty()) {
        const size_t length = CompleteTypeLength(signature);
        types.emplace_back(signature.substr(0, length));
        signature.remove_prefix(length);
    }
    return types;
}

std::vector<ArgumentTexts> ArgumentsBySignature(std::string_view signature,
                                                const std::vector<std::string> &words) {
    std::vector<ArgumentTexts> arguments;
    auto next = words.begin();
    for (const std::string &type : SplitSignature(signature)) {
        if (type[0] == 'a') {
            arguments.emplace_back(next, words.end());
            next = words.end();
        } else if (next == words.end()) {
            throw UsageError("too few arguments for signature " + std::string(signature));
        } else {
            arguments.push_back({*next++});
        }
    }
    if (next != words.end()) {
        throw UsageError("too many arguments for signature " + std::string(signature));
    }
    return arguments;
}

void AppendArguments(sdbus::MethodCall &call, std::string_view signature,
                     const std::vector<ArgumentTexts> &arguments) {
    const std::vector<std::string> types = SplitSignature(signature);
    if (types.size() != arguments.size()) {
        throw UsageError("wrong number of arguments for signature " + std::string(signature));
    }
    for (size_t i = 0; i < types.size(); ++i) {
        AppendOne(call, types[i], arguments[i]);
    }
}

uint64_t ParseSize(const std::string &text) {
    static const std::array<std::pair<std::string_view, double>, 13> kUnits = {{
        {"", 1.0},
        {"B", 1.0},
        {"K", 1e3},
        {"KB", 1e3},
        {"M", 1e6},
        {"MB", 1e6},
        {"G", 1e9},
        {"GB", 1e9},
        {"T", 1e12},
        {"TB", 1e12},
        {"KiB", 1024.0},
        {"MiB", 1024.0 * 1024},
        {"GiB", 1024.0 * 1024 * 1024},
    }};
    const size_t unitAt = text.find_first_not_of("0123456789.");
    const std::string number = text.substr(0, unitAt);
    const std::string_view unit =
        unitAt == std::string::npos ? "" : std::string_view(text).substr(unitAt);
    if (unit.empty()) {
        return ParseNumber<uint64_t>(number);
    }
    const auto found = std::find_if(kUnits.begin(), kUnits.end(),
                                    [unit](const auto &entry) { return entry.first == unit; });
    if (found == kUnits.end()) {
        throw UsageError("unknown size unit in " + text);
    }
    const double bytes = std::round(ParseNumber<double>(number) * found->second);
    constexpr double kTwoToThe64 = 18446744073709551616.0;
    if (!(bytes >= 0.0 && bytes < kTwoToThe64)) {
        throw UsageError("size out of range: " + text);
    }
    return static_cast<uint64_t>(bytes);
}

uint64_t FileSize(const std::string &path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

std::chrono::microseconds DefaultTimeout(std::string_view method,
                                         const std::vector<ArgumentTexts> &arguments) {
    if (method == "GetEvents") {
        return kHeldTimeout;
    }
    if (method != "SendFirmwareToSlot" || arguments.size() < 3 || arguments[2].empty()) {
        return kRequestTimeout;
    }
    const double transfer =
        kLinkMargin * static_cast<double>(FileSize(arguments[2][0])) / kLinkBytesPerSecond;
    return kRequestTimeout + std::chrono::microseconds(static_cast<int64_t>(transfer * 1e6));
}

} // namespace vunoctl
