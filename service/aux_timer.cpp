#include "aux_timer.hpp"

namespace vuno {

AuxTimer::AuxTimer(boost::asio::io_context &io, void *argument, vuno_timer_handler handler,
                   std::chrono::steady_clock::duration period)
    : io_(io), argument_(argument), period_(period), handler_(handler), timer_(io) {}

void AuxTimer::Start() {
    // The coroutine shares ownership, so a wait that ends after Stop() still
    // finds the object alive.
    boost::asio::spawn(io_, [self = shared_from_this()](boost::asio::yield_context yield) {
        self->TimerHandler(yield);
    });
}

void AuxTimer::TimerHandler(boost::asio::yield_context yield) {
    while (!timer_.Stopped()) {
        handler_(argument_);
        timer_.Wait(period_, yield);
    }
}

} // namespace vuno
