// How many client calls wait for the host right now, so that work of the
// daemon's own can give way to them. Held GetEvents calls are not counted:
// they may wait for hours and would otherwise hold everything else back.
#pragma once

#include <boost/asio/execution_context.hpp>

#include <cstddef>
#include <memory>

namespace vuno::dbus {

class ClientLoad : public boost::asio::execution_context::service {
  public:
    inline static boost::asio::execution_context::id id;

    explicit ClientLoad(boost::asio::execution_context &context)
        : service(context), waiting_(std::make_shared<size_t>(0)) {}

    // Counts one call until the returned token is released. The token
    // outlives this service safely.
    std::shared_ptr<void> Track() {
        ++*waiting_;
        return std::shared_ptr<void>(nullptr, [waiting = waiting_](void *) { --*waiting; });
    }
    size_t Waiting() const { return *waiting_; }

  private:
    void shutdown() override {}

    std::shared_ptr<size_t> waiting_;
};

} // namespace vuno::dbus
