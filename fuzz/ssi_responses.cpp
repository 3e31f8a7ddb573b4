// A response to one request through the whole receive path: the request
// reaches a cooperative host, which answers it with the input, either as
// the whole SSI message or as a payload behind a well-formed header.
#include "bench.hpp"

using namespace vuno::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input input({data, size});
    const uint8_t shape = input.Byte();
    const uint8_t which = input.Byte();
    const uint32_t requestSize = input.Word();
    const Bytes rest = input.Rest();

    Bench bench;
    bench.ConnectCooperatively();
    bool answered = false;
    bench.answer = [&](uint8_t id, uint8_t code) {
        if (answered) {
            return Bench::Refusal(id, code);
        }
        answered = true;
        return shape & 1 ? rest : ssiResponse(id, 0, rest);
    };
    Require(bench.Submit(which, requestSize), "a request on a live link is accepted");
    bench.Finish();
    return 0;
}
