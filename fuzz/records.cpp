// Each response decoder directly, by command code, and the service's
// conversion of what it decodes into bus values. Serialising the result as
// sd-bus does is the oracle: it refuses invalid UTF-8, which must never
// reach it.
//
// The decoder entry is the library's internal one; the other targets use
// only the public interface.
#include "bench.hpp"
#include "result_conversion.hpp"
#include "ssi.h"
#include "wire.h"

#include <sdbus-c++/Error.h>

#include <map>

using namespace vuno::fuzz;
namespace dbus = vuno::dbus;

namespace {

template <typename Record> const Record *RecordOf(dbus::ResultDictionary (*)(const Record *));

template <auto Convert> dbus::ResultDictionary As(const void *record) {
    return Convert(static_cast<decltype(RecordOf(Convert))>(record));
}

// The converter of each command code with response data; codes 0 to 3
// all answer with identifiers.
const std::map<uint8_t, dbus::ResultDictionary (*)(const void *)> kConverters{
    {0, As<dbus::ConvertIdentifierList>},   {4, As<dbus::ConvertDriveList>},
    {5, As<dbus::ConvertVolumeList>},       {6, As<dbus::ConvertMigrationCapabilities>},
    {7, As<dbus::ConvertArrayList>},        {8, As<dbus::ConvertControllerList>},
    {9, As<dbus::ConvertRaidCapabilities>}, {10, As<dbus::ConvertExecutorInformation>},
    {11, As<dbus::ConvertFirmwareSlots>},   {22, As<dbus::ConvertNewVolumeIdentifier>},
    {38, As<dbus::ConvertSubscription>},    {40, As<dbus::ConvertEventList>},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    const auto code = static_cast<uint8_t>(input.Byte() % 42);
    const Bytes payload = input.Rest();
    Bench bench;
    void *record = nullptr;
    wire_reader reader;
    wire_reader_init(&reader, payload.data(), static_cast<uint32_t>(payload.size()));
    const int status = ssi_decode_response(bench.Instance(), code, &reader, &record);
    Require(status == 0 || record == nullptr, "a failed decoding leaves no record");
    if (record != nullptr) {
        try {
            const sdbus::Variant onTheBus(kConverters.at(code < 4 ? 0 : code)(record));
        } catch (const sdbus::Error &) {
            Violated("only valid UTF-8 reaches the bus");
        }
    }
    sized_free(&record);
    bench.Finish();
    return 0;
}
