#include "request_processing.hpp"

namespace vuno {

void RequestProcessing::Start() {
    boost::asio::spawn(io_, [this](boost::asio::yield_context yield) { ProcessRequests(yield); });
}

void RequestProcessing::ProcessRequests(boost::asio::yield_context yield) {
    while (!timer_.Stopped()) {
        vuno_process_requests(instance_);
        timer_.Wait(kPeriod, yield);
    }
}

} // namespace vuno
