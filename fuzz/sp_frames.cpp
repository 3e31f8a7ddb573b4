// Service Protocol frames from the host while requests are in flight: raw
// frames, whole messages of one or several Data Frames with a valid CRC,
// Status Frames and heartbeats, with a cooperative ME.
#include "bench.hpp"

using namespace vuno::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    Bench bench;
    bench.ConnectCooperatively();
    for (int op = 0; op < 512 && !input.Empty(); ++op) {
        switch (input.Byte() % 8) {
        case 0:
            bench.HostFrame(input.Chunk());
            break;
        case 1:
            bench.HostMessage(input.Chunk());
            break;
        case 2:
            bench.HostFrame({0x02, input.Byte()});
            break;
        case 3:
            bench.Tick();
            break;
        case 4:
            bench.Process();
            break;
        case 5: {
            const uint8_t which = input.Byte();
            bench.Submit(which, input.Word());
            break;
        }
        case 6:
            bench.Cooperate();
            break;
        default:
            bench.Heartbeat(input.Word());
            break;
        }
    }
    bench.Finish();
    return 0;
}
