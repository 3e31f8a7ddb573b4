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
        const uint8_t kind = input.Byte() % 8;
        if (kind >= 3) {
            bench.Step(kind - 3, input);
        } else if (kind == 2) {
            bench.HostFrame({0x02, input.Byte()});
        } else if (kind == 1) {
            bench.HostMessage(input.Chunk());
        } else {
            bench.HostFrame(input.Chunk());
        }
    }
    bench.Finish();
    return 0;
}
