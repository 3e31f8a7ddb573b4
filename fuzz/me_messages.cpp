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
        const uint8_t tag = kind == 0 ? input.Byte() : 0;
        const int mctpStatus = kind < 2 && input.Byte() == 0xFF;
        switch (kind) {
        case 0:
        case 1:
            bench.FromMe(kind == 0, tag, mctpStatus, input.Chunk());
            break;
        case 2:
            bench.Tick();
            break;
        case 3:
            bench.Process();
            break;
        case 4: {
            const uint8_t which = input.Byte();
            bench.Submit(which, input.Word());
            break;
        }
        case 5:
            bench.Cooperate();
            break;
        case 6:
            bench.Heartbeat(input.Word());
            break;
        default:
            bench.ConnectWhenDown();
            break;
        }
    }
    bench.Finish();
    return 0;
}
