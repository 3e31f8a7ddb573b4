#include "request_processing.hpp"

#include "steady_wait.hpp"

namespace vuno {

void RequestProcessing::Start() {
    boost::asio::spawn(io_, [this](boost::asio::yield_context yield) { ProcessRequests(yield); });
}

void RequestProcessing::ProcessRequests(boost::asio::yield_context yield) {
    while (!stopped_) {
        vuno_process_requests(instance_);
        const auto nextStep = DeadlineAfter(kPeriod);
        if (!vuno_has_pending_work(instance_)) {
            sleeping_ = true;
            WaitUntil(std::chrono::steady_clock::time_point::max(), yield);
            sleeping_ = false;
        }
        WaitUntil(nextStep, yield);
    }
}

void RequestProcessing::WaitUntil(std::chrono::steady_clock::time_point deadline,
                                  boost::asio::yield_context yield) {
    if (stopped_) {
        return;
    }
    boost::system::error_code ignored;
    timer_.expires_at(deadline);
    timer_.async_wait(yield[ignored]);
}

void RequestProcessing::WakeIfWorkPending() {
    if (sleeping_ && vuno_has_pending_work(instance_)) {
        sleeping_ = false;
        timer_.cancel();
    }
}

void RequestProcessing::Stop() {
    stopped_ = true;
    timer_.cancel();
}

void RequestProcessing::RunLoop(const std::function<void()> &afterEachHandler) {
    while (io_.run_one() > 0) {
        WakeIfWorkPending();
        if (afterEachHandler) {
            afterEachHandler();
        }
    }
}

} // namespace vuno
