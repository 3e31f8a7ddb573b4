#include "commands.hpp"

#include <algorithm>
#include <cctype>
#include <map>

namespace vunoctl {
namespace {

using Kind = Param::Kind;

const std::vector<std::string> kOnOff = {"on", "off"};
const std::vector<std::string> kRaidLevels = {"0", "1", "5", "10"};
const std::vector<std::string> kWriteHolePolicies = {"Off", "Distributed", "Journaling Drive"};
const std::vector<std::string> kCachePolicies = {"Disabled", "Write Through", "Write Back"};
const std::vector<std::string> kEventTypes = {
    "Drive inserted",
    "Drive removed",
    "Drive failed",
    "Volume added",
    "Volume rebuild started",
    "Volume rebuild completed",
    "Volume verify started",
    "Volume verify completed",
    "Volume verify and fix started",
    "Volume verify and fix completed",
    "Volume migrate started",
    "Volume migrate completed",
    "Volume initialize started",
    "Volume initialize completed",
    "Volume degraded",
    "Volume failed",
    "Volume removed",
};
const std::vector<std::string> kScopeNouns = {"controller", "array", "volume", "drive"};

Param Word(std::string name, std::string help, std::vector<std::string> choices = {}) {
    return {Kind::Positional, std::move(name), std::move(help), "", std::move(choices)};
}
Param Words(std::string name, std::string help, bool required,
            std::vector<std::string> choices = {}) {
    return {Kind::Rest, std::move(name), std::move(help), "", std::move(choices), required};
}
Param Option(std::string name, std::string help, std::string fallback,
             std::vector<std::string> choices = {}) {
    const bool required = fallback.empty();
    return {Kind::Option,        std::move(name),    std::move(help),
            std::move(fallback), std::move(choices), required};
}
Param Flag(std::string name, std::string help) {
    return {Kind::Flag, std::move(name), std::move(help), "", {}};
}
// `own` is the scope type of the noun's items ("" for none).
Param Scope(std::string own) {
    return {Kind::Scope, std::move(own), "", "", {}};
}
Param PresenceOf(size_t source) {
    return {Kind::PresenceOf, "", "", "", {}, false, source};
}
Param Id(const std::string &what) {
    return Word("ID", what + " identifier");
}

// One verb per storage method.
const std::vector<Verb> kVerbs = {
    {"drive", "list", "GetDriveInformation", "Show drives", {Scope("Drive")}},
    {"drive", "ids", "GetDriveIdentifiers", "List drive identifiers", {Scope("Drive")}},
    {"drive", "spare", "MarkDriveAsSpare", "Make a drive a spare", {Id("drive")}},
    {"drive", "unspare", "UnmarkSpareDrive", "Make a spare an ordinary drive", {Id("drive")}},
    {"drive", "mark-normal", "MarkDriveAsNormal", "Return a drive to normal", {Id("drive")}},
    {"drive",
     "clear-metadata",
     "ClearDriveMetadata",
     "Wipe a drive's RAID metadata",
     {Id("drive")}},
    {"drive",
     "write-cache",
     "SetVolatileWriteCacheOnDrive",
     "Turn a drive's volatile write cache on or off",
     {Id("drive"), Word("STATE", "on or off", kOnOff)}},
    {"drive",
     "reset-smart",
     "ResetSmartEventOnDrive",
     "Clear a drive's SMART event",
     {Id("drive")}},
    {"drive", "locate", "ActivateDriveLed", "Light a drive's locate LED", {Id("drive")}},
    {"drive", "remove", "RemoveDrive", "Prepare a drive for removal", {Id("drive")}},

    {"volume", "list", "GetVolumeInformation", "Show volumes", {Scope("Volume")}},
    {"volume", "ids", "GetVolumeIdentifiers", "List volume identifiers", {Scope("Volume")}},
    {"volume",
     "create",
     "CreateVolume",
     "Create a volume on member drives",
     {Word("NAME", "volume name, at most 16 characters"),
      Option("--strip-size", "strip size in KiB", "64"),
      Option("--level", "RAID level", "", kRaidLevels),
      Option("--size", "size, for example 100G or 1.5TB (default: all the drives' space)", "0"),
      Option("--existing-data-drive", "keep the data of this member drive", "-"), PresenceOf(4),
      Option("--write-hole", "RAID write hole policy", "Off", kWriteHolePolicies),
      Option("--journal-drive", "journaling drive identifier", "-"),
      Words("DRIVE", "member drive identifiers", true)}},
    {"volume", "delete", "DeleteVolume", "Delete a volume", {Id("volume")}},
    {"volume",
     "rename",
     "RenameVolume",
     "Rename a volume",
     {Id("volume"), Word("NAME", "new name, at most 16 characters")}},
    {"volume",
     "rebuild",
     "RebuildVolume",
     "Rebuild a volume onto drives",
     {Id("volume"), Words("DRIVE", "drive identifiers", true)}},
    {"volume",
     "expand",
     "ExpandVolume",
     "Grow a volume",
     {Id("volume"), Word("SIZE", "new size, for example 2T")}},
    {"volume",
     "migrate",
     "ChangeRaidLevel",
     "Change a volume's RAID level",
     {Id("volume"), Option("--strip-size", "strip size in KiB", "64"),
      Option("--level", "RAID level", "", kRaidLevels), Words("DRIVE", "drives to add", false)}},
    {"volume", "mark-normal", "MarkVolumeAsNormal", "Return a volume to normal", {Id("volume")}},
    {"volume",
     "verify",
     "VerifyVolume",
     "Start verifying a volume",
     {Id("volume"), Flag("--repair", "repair what verification finds")}},
    {"volume",
     "cancel-verify",
     "CancelVolumeVerification",
     "Stop verifying a volume",
     {Id("volume")}},
    {"volume", "initialize", "InitializeVolume", "Initialize a volume", {Id("volume")}},
    {"volume",
     "cache-policy",
     "SetVolumeCachePolicy",
     "Set a volume's cache policy",
     {Id("volume"), Word("POLICY", "cache policy", kCachePolicies)}},
    {"volume",
     "write-hole",
     "SetRAIDWriteHolePolicy",
     "Set a volume's RAID write hole policy",
     {Id("volume"), Word("POLICY", "RAID write hole policy", kWriteHolePolicies),
      Option("--journal-drive", "journaling drive identifier", "-")}},

    {"array", "list", "GetArrayInformation", "Show arrays", {Scope("Array")}},
    {"array", "ids", "GetArrayIdentifiers", "List array identifiers", {Scope("Array")}},
    {"array",
     "add-drives",
     "AddDrivesToArray",
     "Add drives to an array",
     {Id("array"), Words("DRIVE", "drive identifiers", true)}},
    {"array",
     "write-cache",
     "SetVolatileWriteCacheOnArray",
     "Turn the volatile write cache of an array's drives on or off",
     {Id("array"), Word("STATE", "on or off", kOnOff)}},

    {"controller", "list", "GetControllerInformation", "Show controllers", {Scope("Controller")}},
    {"controller",
     "ids",
     "GetControllerIdentifiers",
     "List controller identifiers",
     {Scope("Controller")}},
    {"controller",
     "rohi",
     "SetROHIPolicy",
     "Turn RAID-on-hot-insert on or off",
     {Id("controller"), Word("STATE", "on or off", kOnOff)}},
    {"controller",
     "patrol-read",
     "SetReadPatrolPolicy",
     "Turn patrol read on or off",
     {Id("controller"), Word("STATE", "on or off", kOnOff)}},

    {"capabilities",
     "raid",
     "GetControllerRaidCapabilities",
     "RAID levels and strip sizes a controller supports",
     {Id("controller")}},
    {"capabilities",
     "migration",
     "GetVolumeMigrationCapabilities",
     "RAID levels a volume can migrate to",
     {Id("volume")}},

    {"firmware", "slots", "GetFirmwareSlotInformation", "Show the firmware slots", {}},
    {"firmware",
     "send",
     "SendFirmwareToSlot",
     "Send a firmware image into a slot",
     {Option("--slot", "slot number", ""),
      Option("--revision", "revision text, at most 8 characters", ""),
      Word("FILE", "image file, read by the daemon")}},
    {"firmware",
     "update",
     "UpdateDriveFirmware",
     "Update a drive's firmware from a slot",
     {Option("--slot", "slot number", ""), Id("drive"),
      Option("--when", "when the new firmware takes over", "OnReset", {"OnReset", "Immediate"})}},

    {"executor", "info", "GetExecutorInformation", "Versions of the host's RAID executor", {}},

    {"event",
     "subscribe",
     "CreateEventSubscription",
     "Subscribe to events (all types when none is named)",
     {Scope(""), Words("TYPE", "event types", false, kEventTypes)}},
    {"event",
     "unsubscribe",
     "CancelEventSubscription",
     "Cancel a subscription",
     {Word("SUBSCRIPTION", "subscription identifier")}},
    {"event",
     "get",
     "GetEvents",
     "Wait for the events of a subscription",
     {Word("SUBSCRIPTION", "subscription identifier"),
      Option("--limit", "value passed to the host's executor unchanged", "0")}},
};

const std::map<std::string, std::string> kNouns = {
    {"drive", "Physical drives"},
    {"volume", "RAID volumes"},
    {"array", "Arrays of drives"},
    {"controller", "Storage controllers"},
    {"capabilities", "What controllers and volumes support"},
    {"firmware", "Firmware slots and drive firmware updates"},
    {"event", "Event subscriptions"},
    {"executor", "The host's RAID application"},
};

// "Write Back", "write-back" and "WRITE_BACK" are the same word.
std::string Normalised(std::string text) {
    std::string result;
    for (const char c : text) {
        if (c != ' ' && c != '-' && c != '_') {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return result;
}

std::string Capitalised(std::string word) {
    word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return word;
}

// Every noun with its verbs, for the top-level help.
std::string Overview() {
    std::string text = "Commands (vunoctl NOUN --help for details):\n";
    for (const auto &[noun, help] : kNouns) {
        std::string verbs;
        for (const Verb &verb : kVerbs) {
            verbs += verb.noun == noun ? " " + verb.verb : "";
        }
        verbs += noun == "event" ? " watch" : "";
        text += "  " + noun + std::string(14 - noun.size(), ' ') + verbs.substr(1) + "\n";
    }
    return text + "  call          METHOD [ARGUMENTS...]\n";
}

} // namespace

const std::vector<Verb> &Verbs() {
    return kVerbs;
}

CommandLine::CommandLine() : app_("Manage the host's storage through the Vuno daemon.", "vunoctl") {
    app_.fallthrough();
    app_.require_subcommand(1);
    app_.add_flag("--json", json_, "print the daemon's reply as JSON");
    app_.add_option("--timeout", timeoutSeconds_, "seconds to wait for the daemon's answer")
        ->check(CLI::Range(0.001, 1e9));
    for (const auto &[name, help] : kNouns) {
        CLI::App *noun = app_.add_subcommand(name, help);
        noun->require_subcommand(1);
        for (const Verb &verb : kVerbs) {
            if (verb.noun == name) {
                AddVerb(*noun, verb);
            }
        }
        if (name == "event") {
            AddWatch(*noun);
        }
    }
    AddCall();
    app_.footer(Overview());
}

void CommandLine::AddVerb(CLI::App &noun, const Verb &verb) {
    CLI::App *command = noun.add_subcommand(verb.verb, verb.help + " (" + verb.method + ")");
    std::deque<Value> &values = values_.emplace_back(verb.params.size());
    for (size_t i = 0; i < verb.params.size(); ++i) {
        AddParam(*command, verb.params[i], values[i]);
    }
    command->callback([this, &verb, &values] { Finish(verb, values); });
}

void CommandLine::AddParam(CLI::App &command, const Param &param, Value &value) {
    CLI::Option *option = nullptr;
    switch (param.kind) {
    case Kind::Positional:
        option = command.add_option(param.name, value.text, param.help)->required();
        break;
    case Kind::Rest:
        option = command.add_option(param.name, value.items, param.help)->required(param.required);
        break;
    case Kind::Option:
        // "-" stands for an empty text, which the daemon reads as "none".
        value.text = param.fallback == "-" ? "" : param.fallback;
        option = command.add_option(param.name, value.text, param.help)->required(param.required);
        if (!value.text.empty()) {
            option->default_str(value.text);
        }
        break;
    case Kind::Flag:
        command.add_flag(param.name, value.given, param.help);
        return;
    case Kind::Scope:
        AddScope(command, param, value);
        return;
    case Kind::PresenceOf:
        return;
    }
    if (!param.choices.empty()) {
        option->transform(CLI::IsMember(param.choices, Normalised));
    }
}

void CommandLine::AddScope(CLI::App &command, const Param &param, Value &value) {
    std::vector<CLI::Option *> options;
    const auto add = [&](const std::string &flag, const std::string &type, bool own) {
        options.push_back(command.add_option_function<std::string>(
            flag,
            [&value, type, own](const std::string &id) {
                value.scopeType = type;
                value.items = {id};
                value.ownId = own;
            },
            own ? "only this item" : "only those of this " + Normalised(type)));
    };
    if (!param.name.empty()) {
        add("--id", param.name, true);
    }
    for (const std::string &noun : kScopeNouns) {
        if (Capitalised(noun) != param.name) {
            add("--" + noun, Capitalised(noun), false);
        }
    }
    for (CLI::Option *option : options) {
        for (CLI::Option *other : options) {
            if (other != option) {
                option->excludes(other);
            }
        }
    }
}

void CommandLine::AddWatch(CLI::App &noun) {
    static const Verb kWatch = {
        "event",
        "watch",
        "CreateEventSubscription",
        "Print events as they arrive until Ctrl-C",
        {Scope(""), Words("TYPE", "event types (default: all)", false, kEventTypes)},
    };
    AddVerb(noun, kWatch);
}

void CommandLine::AddCall() {
    CLI::App *call = app_.add_subcommand("call", "Call any storage method by name");
    std::vector<std::string> names;
    for (const Method &known : StorageMethods()) {
        names.emplace_back(known.name);
    }
    call->add_option("METHOD", callMethod_, "method name")->required()->check(CLI::IsMember(names));
    call->add_option("ARGUMENTS", callWords_, "arguments, in the order of the method's signature");
    call->callback([this] {
        Invocation invocation;
        invocation.method = callMethod_;
        invocation.arguments = ArgumentsBySignature(FindMethod(callMethod_)->signature, callWords_);
        invocation_ = std::move(invocation);
    });
}

void CommandLine::Finish(const Verb &verb, const std::deque<Value> &values) {
    Invocation invocation;
    invocation.method = verb.method;
    invocation.watch = verb.verb == "watch";
    for (size_t i = 0; i < verb.params.size(); ++i) {
        const Param &param = verb.params[i];
        const Value &value = values[i];
        switch (param.kind) {
        case Kind::Scope:
            invocation.arguments.push_back({value.scopeType});
            invocation.arguments.push_back({value.items.empty() ? kZeroId : value.items[0]});
            invocation.details = value.ownId;
            break;
        case Kind::Rest:
            invocation.arguments.push_back(value.items);
            break;
        case Kind::Flag:
            invocation.arguments.push_back({value.given ? "true" : "false"});
            break;
        case Kind::PresenceOf:
            invocation.arguments.push_back({values[param.source].text.empty() ? "false" : "true"});
            break;
        default:
            invocation.arguments.push_back({value.text});
        }
    }
    // The executor is not bound to read an empty list as "every type".
    if (verb.method == "CreateEventSubscription" && invocation.arguments.back().empty()) {
        invocation.arguments.back() = kEventTypes;
    }
    invocation_ = std::move(invocation);
}

Invocation CommandLine::Parse(int argc, const char *const *argv) {
    app_.parse(argc, argv);
    if (!invocation_) {
        throw UsageError("no command given");
    }
    invocation_->json = json_;
    if (timeoutSeconds_ > 0) {
        invocation_->timeout =
            std::chrono::microseconds(static_cast<int64_t>(timeoutSeconds_ * 1e6));
    }
    return *invocation_;
}

} // namespace vunoctl
