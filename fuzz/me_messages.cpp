// Messages from the ME into the BMC-ME layer, raw or carrying host frames,
// interleaved with ticks, processing steps, requests and the odd
// cooperative exchange.
#include "bench.hpp"

using namespace vuno::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    Bench bench;
    if (input.Byte() & 1) {
        bench.ConnectCooperatively();
    }
    for (int op = 0; op < 512 && !input.Empty(); ++op) {
        const uint8_t kind = input.Byte() % 8;
        if (kind == 7) {
            bench.ConnectWhenDown();
        } else if (kind >= 2) {
            bench.Step(kind - 2, input);
        } else {
            const uint8_t tag = kind == 0 ? input.Byte() : 0;
            const int mctpStatus = input.Byte() == 0xFF;
            bench.FromMe(kind == 0, tag, mctpStatus, input.Chunk());
        }
    }
    bench.Finish();
    return 0;
}
