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
        switch (input.Byte() % 8) {
        case 0:
            bench.FromMe(true, input.Byte(), input.Byte() == 0xFF, input.Chunk());
            break;
        case 1:
            bench.FromMe(false, 0, input.Byte() == 0xFF, input.Chunk());
            break;
        case 2:
            bench.Tick();
            break;
        case 3:
            bench.Process();
            break;
        case 4:
            bench.Submit(input.Byte(), input.Word());
            break;
        case 5:
            bench.Cooperate();
            break;
        case 6:
            bench.Heartbeat(input.Word());
            break;
        default:
            bench.Connect();
            break;
        }
    }
    bench.Finish();
    return 0;
}
