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

void Parse(uint8_t which, const std::vector<std::string> &texts, uint32_t number) {
    const std::string &text = texts[0];
    switch (which % 13) {
    case 0:
        return RoundTrip(ParseIdentifier(text));
    case 1:
        return RoundTrip(ParseScope(text, texts[1]).identifier);
    case 2:
        return RoundTrip(ParseJournalingDriveIdentifier(text));
    case 3:
        return RoundTrip(ParseExistingDataDrive(number & 1, text).identifier);
    case 4: {
        const VolumeName name = ParseVolumeName(text);
        Require(std::all_of(name.begin(), name.end(),
                            [](uint8_t b) { return b == 0 || (b >= 0x20 && b < 0x7F); }),
                "a volume name is printable");
        return;
    }
    case 5:
        ParseRevisionText(text);
        return;
    case 6:
        ParseRaidLevel(text);
        ParseRaidWriteHolePolicy(text);
        return;
    case 7:
        ParseStripSize(number);
        return;
    case 8:
        ParseVolumeCachePolicy(text);
        ParseFirmwareUpdateAction(text);
        return;
    case 9:
        ParseScopeType(text);
        return;
    case 10:
        ParseEventTypes(texts);
        return;
    default:
        for (const Identifier &identifier : ParseDriveIdentifiers(texts)) {
            RoundTrip(identifier);
        }
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    const uint8_t which = input.Byte();
    const uint32_t number = input.Word();
    std::vector<std::string> texts(2 + input.Byte() % 4);
    for (std::string &text : texts) {
        const Bytes bytes = input.Take(input.Byte());
        text.assign(bytes.begin(), bytes.end());
        if (!BusString(text)) {
            return -1; // no caller can send it
        }
    }
    try {
        Parse(which, texts, number);
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
