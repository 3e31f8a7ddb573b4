#include "progress_object.hpp"

#include "vuno_object.hpp"

namespace vuno::dbus {

TransmissionProgress::TransmissionProgress(const std::shared_ptr<BusLoop> &bus,
                                           vuno_instance *instance)
    : bus_(bus), instance_(instance), timer_(bus->Context()) {
    object_ = sdbus::createObject(bus->Connection(), kObjectPath);
    object_->registerProperty(kProgressProperty)
        .onInterface(kTransmissionInterface)
        .withGetter([this] { return Current(); })
        .withUpdateBehavior(sdbus::Flags::EMITS_CHANGE_SIGNAL);
    object_->finishRegistration();
    object_->emitInterfacesAddedSignal({kTransmissionInterface});
}

void TransmissionProgress::WakeIfTransmitting() {
    if (!armed_ && !stopped_ && std::get<1>(Current()) != 0) {
        Arm();
    }
}

void TransmissionProgress::Stop() {
    stopped_ = true;
    timer_.cancel();
}

Progress TransmissionProgress::Current() const {
    Progress progress{0u, 0u};
    if (!stopped_) {
        vuno_transmit_progress(instance_, &std::get<0>(progress), &std::get<1>(progress));
    }
    return progress;
}

void TransmissionProgress::Arm() {
    armed_ = true;
    timer_.expires_after(kPeriod);
    timer_.async_wait([this](const boost::system::error_code &error) { Check(error); });
}

void TransmissionProgress::Check(const boost::system::error_code &error) {
    armed_ = false;
    if (error || stopped_) {
        return;
    }
    const Progress now = Current();
    const auto bus = bus_.lock();
    if (now != announced_ && bus != nullptr) {
        announced_ = now;
        object_->emitPropertiesChangedSignal(kTransmissionInterface, {kProgressProperty});
        bus->Rearm();
    }
    // Watching ends once the end of a transfer (0, 0) has been announced.
    if (std::get<1>(announced_) != 0) {
        Arm();
    }
}

} // namespace vuno::dbus
