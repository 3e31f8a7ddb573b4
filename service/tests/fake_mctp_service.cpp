#include "fake_mctp_service.hpp"

#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>

namespace vuno::testing {
namespace {

constexpr char kService[] = "xyz.openbmc_project.MCTP";
constexpr char kPath[] = "/xyz/openbmc_project/MCTP";
constexpr char kInterface[] = "xyz.openbmc_project.mctp";
constexpr char kSignal[] = "mctpMessageReceived";

} // namespace

FakeMctpService::FakeMctpService(boost::asio::io_context &io)
    : bus_(std::make_shared<dbus::BusLoop>(io, sdbus::createSystemBusConnection(kService))) {
    object_ = sdbus::createObject(bus_->Connection(), kPath);
    object_->registerMethod("sendMessage")
        .onInterface(kInterface)
        .implementedAs([this](Reply &&reply, uint8_t eid, uint8_t request,
                              const std::vector<uint8_t> &payload) {
            SendMessage(std::move(reply), eid, request, payload);
        });
    object_->registerSignal(kSignal).onInterface(kInterface).withParameters<std::vector<uint8_t>>();
    object_->finishRegistration();
    bus_->Start();
}

void FakeMctpService::AnswerWith(int32_t status, std::vector<uint8_t> response) {
    status_ = status;
    response_ = std::move(response);
    error_.reset();
}

void FakeMctpService::FailWith(std::string errorName) {
    error_ = std::move(errorName);
}

void FakeMctpService::SendMessage(Reply &&reply, uint8_t eid, uint8_t request,
                                  const std::vector<uint8_t> &payload) {
    sends_.push_back({eid, request, payload});
    if (holding_) {
        held_.push_back(std::move(reply));
        return;
    }
    Answer(reply);
}

void FakeMctpService::Answer(const Reply &reply) const {
    if (error_) {
        reply.returnError(sdbus::Error(*error_, "refused by the test"));
    } else {
        reply.returnResults({status_, response_});
    }
}

void FakeMctpService::Release() {
    holding_ = false;
    for (const Reply &reply : held_) {
        Answer(reply);
    }
    held_.clear();
    bus_->Rearm();
}

sdbus::Signal FakeMctpService::NewSignal() {
    return object_->createSignal(kInterface, kSignal);
}

void FakeMctpService::Emit(sdbus::Signal &signal) {
    object_->emitSignal(signal);
    bus_->Rearm();
}

void FakeMctpService::EmitReceived(const std::vector<uint8_t> &message) {
    auto signal = NewSignal();
    signal << message;
    Emit(signal);
}

void FakeMctpService::EmitReceivedWithoutArguments() {
    auto signal = NewSignal();
    Emit(signal);
}

void FakeMctpService::EmitReceivedWithNumber(uint32_t number) {
    auto signal = NewSignal();
    signal << number;
    Emit(signal);
}

} // namespace vuno::testing
