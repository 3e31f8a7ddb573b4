// A whole session (initialisation, connection, single- and multi-frame
// requests and responses, a host restart, de-initialisation), run once per
// allocation the library makes in it, with that allocation failing. The
// bench holds every run to its promises; here nothing may leak either.
//
// Linked with --wrap for malloc and free, so the library's allocations
// pass through the wrappers below; operator new, which the bench uses, does
// not. calloc and realloc are wrapped too but have no wrapper: the library
// does not call them, and should it start to, the link fails instead of
// this test missing them.
#include "bench.hpp"

#include <cstdio>
#include <cstdlib>
#include <set>

using namespace vuno::fuzz;

extern "C" {
void *__real_malloc(size_t size);
void __real_free(void *block);
}

namespace {

struct Ledger {
    bool armed = false;
    long count = 0;
    long failAt = -1;
    std::set<void *> alive;

    bool Refuse() { return armed && count++ == failAt; }
    void *Track(void *block) {
        if (armed && block != nullptr) {
            alive.insert(block);
        }
        return block;
    }
} ledger;

// Identifier requests get 70 identifiers: two Data Frames.
Bytes Answer(uint8_t id, uint8_t code) {
    if (code != 0) {
        return Bench::Refusal(id, code);
    }
    Bytes identifiers{70, 0};
    identifiers.resize(2 + 70 * VUNO_IDENTIFIER_SIZE, 0xA5);
    return ssiResponse(id, 0, identifiers);
}

void Session() {
    Bench bench(true);
    if (bench.Instance() == nullptr) {
        return;
    }
    bench.answer = Answer;
    bench.ConnectCooperatively();
    bench.Submit(0, 0);    // identifiers: the answer comes in two frames
    bench.Submit(9, 2500); // a firmware image: three frames out
    bench.RunCooperatively(3);
    bench.Submit(0, 0);
    bench.Submit(9, 2500);
    bench.Process();    // one frame with the ME
    bench.Heartbeat(0); // the host application restarted
    bench.Submit(0, 0);
    bench.Finish();
}

long Run(long failAt) {
    ledger = Ledger{};
    ledger.failAt = failAt;
    ledger.armed = true;
    Session();
    ledger.armed = false;
    Require(ledger.alive.empty(), "nothing leaks");
    return ledger.count;
}

} // namespace

extern "C" {
void *__wrap_malloc(size_t size) {
    return ledger.Refuse() ? nullptr : ledger.Track(__real_malloc(size));
}

void __wrap_free(void *block) {
    ledger.alive.erase(block);
    __real_free(block);
}
}

int main() {
    const long allocations = Run(-1);
    Require(allocations > 20, "the session reaches the library's allocations");
    for (long failAt = 0; failAt < allocations; ++failAt) {
        Run(failAt);
    }
    std::printf("%ld sessions, each with another allocation failing\n", allocations);
    return 0;
}
