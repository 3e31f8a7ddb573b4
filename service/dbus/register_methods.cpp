#include "register_methods.hpp"

#include "argument_parsing.hpp"
#include "client_load.hpp"
#include "method_call.hpp"
#include "method_table.hpp"

#include <boost/asio/io_context.hpp>
#include <sdbus-c++/Message.h>

#include <iostream>
#include <string_view>

namespace vuno::dbus {

namespace {

constexpr char kReplySignature[] = "a{sv}";
const std::vector<std::string> kReplyNames{"result"};

// Answers one call. The call is released before the loop, so that its
// message never outlives the connection it came from.
struct BusReply {
    std::weak_ptr<BusLoop> loop;
    sdbus::MethodCall call;

    void operator()(const ResultDictionary &result) const {
        if (call.doesntExpectReply()) {
            return;
        }
        auto reply = call.createReply();
        reply << result;
        reply.send();
        if (auto owner = loop.lock()) {
            owner->Rearm();
        }
    }
};

// The reply of a call counted as waiting for the host until it is released.
ReplySender CountedReply(ClientLoad &load, const StorageMethod &method, BusReply reply) {
    if (std::string_view(method.name) == "GetEvents") {
        return reply;
    }
    return [reply = std::move(reply), token = load.Track()](const ResultDictionary &result) {
        reply(result);
    };
}

void HandleCall(MethodCalls &calls, const StorageMethod &method, vuno_instance *instance,
                const std::weak_ptr<BusLoop> &loop, sdbus::MethodCall call) noexcept {
    // Only sdbus::Error may leave a method callback; nothing should.
    try {
        auto &load = boost::asio::use_service<ClientLoad>(calls.get_io_context());
        calls.Handle(
            [&method, &call, instance](CompletionContext &context) {
                return method.issue(call, instance, context);
            },
            CountedReply(load, method, BusReply{loop, call}));
    } catch (...) {
        // Only memory can have run out, before anything was sent.
        try {
            BusReply{loop, call}(ReplyForParsingFailure(std::current_exception()));
        } catch (...) {
            std::cout << "Cannot answer a call of " << method.name << std::endl;
        }
    }
}

} // namespace

void RegisterMethods(sdbus::IObject &iface, const std::shared_ptr<BusLoop> &conn,
                     vuno_instance *instance) {
    auto &calls = boost::asio::use_service<MethodCalls>(conn->Context());
    const std::weak_ptr<BusLoop> loop = conn;
    for (const StorageMethod &method : StorageMethods()) {
        iface.registerMethod(kStorageInterface, method.name, method.inputSignature,
                             method.inputNames, kReplySignature, kReplyNames,
                             [&calls, &method, instance, loop](sdbus::MethodCall call) {
                                 HandleCall(calls, method, instance, loop, std::move(call));
                             });
    }
    iface.finishRegistration();
}

} // namespace vuno::dbus
