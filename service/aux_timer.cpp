#include "aux_timer.hpp"

#include "steady_wait.hpp"

namespace vuno {

AuxTimer::AuxTimer(boost::asio::io_context &io, void *argument, vuno_timer_handler handler,
                   std::chrono::steady_clock::duration period)
    : io_(io), argument_(argument), period_(period), handler_(handler), timer_(io) {}

void AuxTimer::Start() {
    // The coroutine shares ownership, so a handler completion that is already
    // queued when Stop() runs still finds the object alive.
    boost::asio::spawn(io_, [self = shared_from_this()](boost::asio::yield_context yield) {
        self->TimerHandler(yield);
    });
}

void AuxTimer::Stop() {
    stopped_ = true;
    timer_.cancel();
}

void AuxTimer::TimerHandler(boost::asio::yield_context yield) {
    while (!stopped_) {
        handler_(argument_);
        if (stopped_ || !WaitFor(timer_, period_, yield)) {
            return;
        }
    }
}

} // namespace vuno
