// The daemon's argument parsers with any text a caller can send: a parser
// returns a value or refuses, and a refusal becomes a reply the bus
// accepts.
#include "argument_parsing.hpp"
#include "bench.hpp"

#include <sdbus-c++/Error.h>

#include <algorithm>

using namespace vuno::fuzz;
using namespace vuno::dbus;

namespace {

// Bus strings are valid UTF-8 without zero bytes; sd-bus is the judge.
bool BusString(const std::string &text) {
    try {
        const sdbus::Variant onTheBus(text);
    } catch (const sdbus::Error &) {
        return false;
    }
    return text.find('\0') == std::string::npos;
}

void RoundTrip(const Identifier &identifier) {
    if (std::all_of(identifier.begin(), identifier.end(), [](uint8_t b) { return b == 0; })) {
        return; // shown as the empty string, which is no identifier
    }
    Require(ParseIdentifier(IdentifierToText(identifier)) == identifier,
            "an identifier reads back as written");
}

bool Printable(const VolumeName &name) {
    return std::all_of(name.begin(), name.end(),
                       [](uint8_t b) { return b == 0 || (b >= 0x20 && b < 0x7F); });
}

using Texts = std::vector<std::string>;

// Every parser, given the caller's texts and number.
void (*const kParsers[])(const Texts &, uint32_t) = {
    [](const Texts &t, uint32_t) { RoundTrip(ParseIdentifier(t[0])); },
    [](const Texts &t, uint32_t) { RoundTrip(ParseScope(t[0], t[1]).identifier); },
    [](const Texts &t, uint32_t) { RoundTrip(ParseJournalingDriveIdentifier(t[0])); },
    [](const Texts &t, uint32_t n) { RoundTrip(ParseExistingDataDrive(n & 1, t[0]).identifier); },
    [](const Texts &t, uint32_t) {
        Require(Printable(ParseVolumeName(t[0])), "a volume name is printable");
    },
    [](const Texts &t, uint32_t) { ParseRevisionText(t[0]); },
    [](const Texts &t, uint32_t) { ParseRaidLevel(t[0]); },
    [](const Texts &t, uint32_t) { ParseRaidWriteHolePolicy(t[0]); },
    [](const Texts &, uint32_t n) { ParseStripSize(n); },
    [](const Texts &t, uint32_t) { ParseVolumeCachePolicy(t[0]); },
    [](const Texts &t, uint32_t) { ParseFirmwareUpdateAction(t[0]); },
    [](const Texts &t, uint32_t) { ParseScopeType(t[0]); },
    [](const Texts &t, uint32_t) { ParseEventTypes(t); },
    [](const Texts &t, uint32_t) {
        for (const Identifier &identifier : ParseDriveIdentifiers(t)) {
            RoundTrip(identifier);
        }
    },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    const uint8_t which = input.Byte();
    const uint32_t number = input.Word();
    Texts texts(2 + input.Byte() % 4);
    for (std::string &text : texts) {
        const Bytes bytes = input.Take(input.Byte());
        text.assign(bytes.begin(), bytes.end());
        if (!BusString(text)) {
            return -1; // no caller can send it
        }
    }
    try {
        kParsers[which % std::size(kParsers)](texts, number);
    } catch (...) {
        const ResultDictionary reply = ReplyForParsingFailure(std::current_exception());
        Require(reply.count("Error") == 1, "a refusal names its error");
        try {
            const sdbus::Variant onTheBus(reply);
        } catch (const sdbus::Error &) {
            Violated("a refusal is a reply the bus accepts");
        }
    }
    return 0;
}
