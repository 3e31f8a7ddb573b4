// The simulator's inventory file: any text is either an inventory or an
// error, and an inventory is written back in a form that reads back the
// same.
#include "bench.hpp"
#include "inventory_file.hpp"

#include <string_view>

using namespace vuno::fuzz;
using namespace vuno::hostsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const InventoryLoad load = ParseInventory({reinterpret_cast<const char *>(data), size});
    Require(load.inventory.has_value() || !load.error.empty(), "a refusal says why");
    if (!load.inventory) {
        return 0;
    }
    Clock clock;
    const RaidModel model(clock, *load.inventory);
    const std::string written = WriteInventory(model);
    const InventoryLoad reread = ParseInventory(written);
    Require(reread.inventory.has_value(), "what was accepted is written back readable");
    const RaidModel copy(clock, *reread.inventory);
    Require(WriteInventory(copy) == written, "writing back is stable");
    return 0;
}
