#include "connection.hpp"

#include <iostream>
#include <sstream>

namespace vuno {
namespace {

// The VMD devices whose mailbox register the host may be using, in the
// order they are tried. From the least significant byte: a byte passed to
// the ME unchanged, the PCIe bus, device and function.
const std::vector<uint32_t> kVmdLocations = {
    0x05000000, 0x05005000, 0x0500C200, 0x05008900, 0x05001700, 0x05001600, 0x05003000,
    0x05004A00, 0x05006400, 0x05009701, 0x0500B001, 0x0500C901, 0x0500E201,
};

std::string DescribeLocation(uint32_t location) {
    std::ostringstream text;
    text << std::hex << "0x" << ((location >> 8) & 0xFF) << " 0x" << ((location >> 16) & 0xFF)
         << " 0x" << ((location >> 24) & 0xFF);
    return text.str();
}

} // namespace

Connection::Connection(boost::asio::io_context &io, vuno_instance *instance, Library library,
                       Periods periods)
    : vmdLocations_(kVmdLocations), current_(vmdLocations_.size()), io_(io), timer_(io),
      instance_(instance), library_(std::move(library)), periods_(periods) {}

Connection::~Connection() {
    library_.deinitialize(instance_);
}

void Connection::Check() {
    boost::asio::spawn(io_, [self = shared_from_this()](boost::asio::yield_context yield) {
        self->Supervise(yield);
    });
}

void Connection::Supervise(boost::asio::yield_context yield) {
    while (!timer_.Stopped()) {
        if (!connected_ && !Attempt(yield)) {
            return;
        }
        timer_.Wait(periods_.pause, yield);
    }
}

bool Connection::Attempt(boost::asio::yield_context yield) {
    StartAttempt();
    while (!resultReceived_) {
        if (!timer_.Wait(periods_.resultPoll, yield)) {
            return false;
        }
    }
    return true;
}

void Connection::StartAttempt() {
    if (current_ >= vmdLocations_.size()) {
        current_ = 0;
    }
    const uint32_t location = vmdLocations_[current_];
    std::cout << "Trying connect to VMD: " << DescribeLocation(location) << std::endl;
    resultReceived_ = false;
    const int status =
        library_.connectToHost(instance_, location, OnConnectResult, this, OnConnectionLost, this);
    if (status == VUNO_STATUS_COMMAND_PENDING) {
        return;
    }
    // The request did not go out, so no result may ever be reported for
    // it: the status is the attempt's outcome.
    std::cout << "Cannot connect to host, error code: " << status << std::endl;
    AdvanceCandidate();
    resultReceived_ = true;
}

void Connection::OnConnectResult(uint32_t status, void *context) {
    static_cast<Connection *>(context)->HandleConnectResult(status);
}

void Connection::OnConnectionLost(uint32_t status, void *context) {
    static_cast<Connection *>(context)->HandleConnectionLost(status);
}

void Connection::HandleConnectResult(uint32_t status) {
    if (resultReceived_) {
        // A failure to send still ends in the library's response time-out,
        // after the attempt has already been given up.
        std::cout << "Ignoring late connect result, error code: " << status << std::endl;
        return;
    }
    if (status == VUNO_STATUS_SUCCESS || status == VUNO_STATUS_HOST_ALREADY_CONNECTED) {
        std::cout << "BMC to Host successfully connected." << std::endl;
        connected_ = true;
    } else {
        std::cout << "Error, Host not connected, error code: " << status
                  << ", try another VMD device BDF." << std::endl;
        AdvanceCandidate();
    }
    resultReceived_ = true;
}

void Connection::HandleConnectionLost(uint32_t status) {
    if (status != VUNO_STATUS_HOST_NOT_CONNECTED) {
        return;
    }
    std::cout << "Host connection lost." << std::endl;
    connected_ = false;
    AdvanceCandidate();
}

void Connection::AdvanceCandidate() {
    if (current_ < vmdLocations_.size()) {
        ++current_;
    }
}

} // namespace vuno
