// How far the message on its way to the host has got, published beside the
// storage interface so that a client can show progress of a long transfer
// (a firmware image of megabytes) while its call is still running.
#pragma once

#include "bus_loop.hpp"
#include "vuno.h"

#include <boost/asio/steady_timer.hpp>
#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Types.h>

#include <chrono>
#include <cstdint>
#include <memory>

namespace vuno::dbus {

inline constexpr char kTransmissionInterface[] = "xyz.openbmc_project.vuno.Transmission";
inline constexpr char kProgressProperty[] = "Progress";

// (bytes sent, total bytes) of the message being transmitted; (0, 0) when
// none is.
using Progress = sdbus::Struct<uint32_t, uint32_t>;

class TransmissionProgress {
  public:
    // Changes are announced at most this often; a transfer of one frame
    // per loop step would otherwise flood every listener.
    static constexpr auto kPeriod = std::chrono::milliseconds(250);

    // Publishes the interface at kObjectPath and starts watching the
    // library; `instance` must outlive Stop().
    TransmissionProgress(const std::shared_ptr<BusLoop> &bus, vuno_instance *instance);
    TransmissionProgress(const TransmissionProgress &) = delete;
    TransmissionProgress &operator=(const TransmissionProgress &) = delete;

    // Call after anything that entered the library: starts watching when a
    // transmission has begun. While none is under way nothing is watched,
    // so an idle daemon does not wake for this.
    void WakeIfTransmitting();
    // Stops looking at the library for good; call before it goes.
    void Stop();

  private:
    Progress Current() const;
    void Arm();
    void Check(const boost::system::error_code &error);

    std::weak_ptr<BusLoop> bus_;
    vuno_instance *instance_;
    std::unique_ptr<sdbus::IObject> object_;
    boost::asio::steady_timer timer_;
    Progress announced_{0u, 0u};
    bool armed_ = false;
    bool stopped_ = false;
};

} // namespace vuno::dbus
