#include "client.hpp"

#include <sdbus-c++/Error.h>
#include <sdbus-c++/IConnection.h>

#include <iostream>
#include <map>

namespace vunoctl {
namespace {

using Clock = std::chrono::steady_clock;

bool IsOneOf(const std::string &name, std::initializer_list<const char *> names) {
    for (const char *candidate : names) {
        if (name == candidate) {
            return true;
        }
    }
    return false;
}

// sd-bus reports its own time-out and a callee that left the bus with the
// same error name; only the clock tells them apart.
std::string Describe(const sdbus::Error &error, bool timeLeft, std::chrono::microseconds timeout) {
    const std::string &name = error.getName();
    if (IsOneOf(name, {"org.freedesktop.DBus.Error.ServiceUnknown",
                       "org.freedesktop.DBus.Error.NameHasNoOwner"})) {
        return std::string("vunod is not running: nobody owns ") + kService + " on the system bus";
    }
    const bool noReply =
        IsOneOf(name, {"org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Timeout",
                       "org.freedesktop.DBus.Error.TimedOut"});
    if (noReply && !timeLeft) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
        return "no answer from vunod within " + std::to_string(seconds) +
               " s; --timeout SECONDS waits longer";
    }
    if (noReply) {
        return "vunod left the bus without answering";
    }
    return "the bus refused the call: " + name + ": " + error.getMessage();
}

} // namespace

Client::Client(boost::asio::io_context &io) : io_(io) {
    try {
        loop_ = std::make_shared<vuno::dbus::BusLoop>(io, sdbus::createSystemBusConnection());
        proxy_ = sdbus::createProxy(loop_->Connection(), kService, kObjectPath);
    } catch (const sdbus::Error &error) {
        throw BusFailure("cannot connect to the system bus: " + error.getMessage());
    }
}

Client::~Client() {
    // Pending calls go with the proxy, before the connection does.
    proxy_.reset();
    loop_->Stop();
}

void Client::WatchProgress(ProgressHandler handler) {
    proxy_->uponSignal("PropertiesChanged")
        .onInterface("org.freedesktop.DBus.Properties")
        .call([handler](const std::string &interface,
                        const std::map<std::string, sdbus::Variant> &changed,
                        const std::vector<std::string> &) {
            const auto progress = changed.find("Progress");
            if (interface != kTransmissionInterface || progress == changed.end() ||
                progress->second.peekValueType() != "(uu)") {
                return;
            }
            const auto value = progress->second.get<sdbus::Struct<uint32_t, uint32_t>>();
            handler(std::get<0>(value), std::get<1>(value));
        });
    proxy_->finishRegistration();
}

void Client::Send(const std::string &method, const std::vector<ArgumentTexts> &arguments,
                  std::chrono::microseconds timeout, ReplyHandler handler) {
    const Method *known = FindMethod(method);
    if (known == nullptr) {
        throw UsageError("unknown method " + method);
    }
    auto call = proxy_->createMethodCall(kStorageInterface, method);
    AppendArguments(call, known->signature, arguments);
    const auto deadline = Clock::now() + timeout;
    proxy_->callMethod(
        call,
        [this, handler, deadline, timeout](sdbus::MethodReply &reply, const sdbus::Error *error) {
            if (error != nullptr) {
                Fail(Describe(*error, Clock::now() < deadline, timeout));
                return;
            }
            try {
                handler(ReplyToJson(reply));
            } catch (const std::exception &failure) {
                Fail(std::string("unexpected reply from vunod: ") + failure.what());
            }
        },
        static_cast<uint64_t>(timeout.count()));
    loop_->Rearm();
}

void Client::Finish(int status) {
    if (!status_) {
        status_ = status;
    }
    io_.stop();
}

int Client::Run() {
    loop_->Start();
    io_.run();
    if (!status_) {
        std::cerr << "vunoctl: the connection to the system bus failed" << std::endl;
        return kBusProblem;
    }
    return *status_;
}

void Client::Fail(const std::string &message) {
    std::cerr << "vunoctl: " << message << std::endl;
    Finish(kBusProblem);
}

void ReportError(const Json &reply) {
    const auto message = reply.find("ErrorMessage");
    std::cerr << ErrorName(reply) << ": "
              << (message != reply.end() && message->is_string() ? message->get<std::string>() : "")
              << std::endl;
}

} // namespace vunoctl
