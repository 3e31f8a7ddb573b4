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

#include <sdbus-c++/Error.h>

using namespace vuno::fuzz;
namespace dbus = vuno::dbus;

namespace {

template <typename Record>
dbus::ResultDictionary As(dbus::ResultDictionary (*convert)(const Record *), const void *record) {
    return convert(static_cast<const Record *>(record));
}

dbus::ResultDictionary Convert(uint8_t code, const void *record) {
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
        return As(dbus::ConvertIdentifierList, record);
    case 4:
        return As(dbus::ConvertDriveList, record);
    case 5:
        return As(dbus::ConvertVolumeList, record);
    case 6:
        return As(dbus::ConvertMigrationCapabilities, record);
    case 7:
        return As(dbus::ConvertArrayList, record);
    case 8:
        return As(dbus::ConvertControllerList, record);
    case 9:
        return As(dbus::ConvertRaidCapabilities, record);
    case 10:
        return As(dbus::ConvertExecutorInformation, record);
    case 11:
        return As(dbus::ConvertFirmwareSlots, record);
    case 22:
        return As(dbus::ConvertNewVolumeIdentifier, record);
    case 38:
        return As(dbus::ConvertSubscription, record);
    default:
        return As(dbus::ConvertEventList, record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    const auto code = static_cast<uint8_t>(input.Byte() % 42);
    const Bytes payload = input.Rest();
    Bench bench;
    void *record = nullptr;
    const int status = ssi_decode_response(bench.Instance(), code, payload.data(),
                                           static_cast<uint32_t>(payload.size()), &record);
    Require(status == 0 || record == nullptr, "a failed decoding leaves no record");
    if (record != nullptr) {
        try {
            const sdbus::Variant onTheBus(Convert(code, record));
        } catch (const sdbus::Error &) {
            Violated("only valid UTF-8 reaches the bus");
        }
    }
    sized_free(&record);
    bench.Finish();
    return 0;
}
