#include "method_call.hpp"

#include "argument_parsing.hpp"

#include <boost/asio/steady_timer.hpp>

#include <iostream>

namespace vuno::dbus {

class PendingCall : public std::enable_shared_from_this<PendingCall> {
  public:
    PendingCall(MethodCalls &owner, const ReplySender &reply)
        : owner_(owner), reply_(reply), wait_(owner.get_io_context()) {
        // Cancelling allocates nothing and cannot fail, so the library's
        // callback may do it; the wait's handler then runs from the loop.
        context_.wake = [this] { wait_.cancel(); };
    }

    // Starts waiting for the outcome, before anything can produce it.
    void Await();
    void Issue(const RequestIssuer &issue) noexcept;
    // No reply will be sent.
    void Stop() noexcept;

    std::list<std::shared_ptr<PendingCall>>::iterator entry;

  private:
    void Resume();
    void SendReply() noexcept;

    MethodCalls &owner_;
    ReplySender reply_;
    CompletionContext context_;
    boost::asio::steady_timer wait_;
};

namespace {

void SendReplyOrReport(const ReplySender &reply, const ResultDictionary &result) noexcept {
    try {
        reply(result);
    } catch (const std::exception &error) {
        std::cout << "Cannot send the reply of a method call: " << error.what() << std::endl;
    } catch (...) {
        std::cout << "Cannot send the reply of a method call" << std::endl;
    }
}

} // namespace

void PendingCall::Await() {
    wait_.expires_at(std::chrono::steady_clock::time_point::max());
    wait_.async_wait(
        [self = shared_from_this()](const boost::system::error_code &) { self->Resume(); });
}

void PendingCall::Issue(const RequestIssuer &issue) noexcept {
    try {
        const int status = issue(context_);
        if (status == VUNO_STATUS_COMMAND_PENDING) {
            return;
        }
        context_.result = ReplyForSendStatus(status);
    } catch (...) {
        try {
            context_.result = ReplyForParsingFailure(std::current_exception());
        } catch (...) {
            context_.failure = std::current_exception();
        }
    }
    context_.done = true;
    context_.wake();
}

void PendingCall::Resume() {
    // A stopped call keeps its context for as long as the library may
    // still write into it.
    if (context_.done && reply_) {
        SendReply();
        owner_.Forget(entry);
    }
}

void PendingCall::Stop() noexcept {
    reply_ = nullptr;
    wait_.cancel();
}

void PendingCall::SendReply() noexcept {
    if (!context_.failure) {
        SendReplyOrReport(reply_, context_.result);
        return;
    }
    try {
        SendReplyOrReport(reply_, ReplyForStoredFailure(context_.failure));
    } catch (...) {
        std::cout << "Cannot send the reply of a method call" << std::endl;
    }
}

boost::asio::io_context::id MethodCalls::id;

void MethodCalls::Handle(const RequestIssuer &issue, const ReplySender &reply) noexcept {
    std::shared_ptr<PendingCall> call;
    try {
        call = Track(reply);
    } catch (...) {
        // Nothing was sent yet, so the call can be answered here and now.
        try {
            SendReplyOrReport(reply, ReplyForParsingFailure(std::current_exception()));
        } catch (...) {
            std::cout << "Cannot send the reply of a method call" << std::endl;
        }
        return;
    }
    call->Issue(issue);
}

std::shared_ptr<PendingCall> MethodCalls::Track(const ReplySender &reply) {
    auto call = std::make_shared<PendingCall>(*this, reply);
    calls_.push_front(call);
    call->entry = calls_.begin();
    try {
        call->Await();
    } catch (...) {
        calls_.erase(call->entry);
        throw;
    }
    return call;
}

void MethodCalls::StopAll() {
    for (const auto &call : calls_) {
        call->Stop();
    }
}

void MethodCalls::shutdown() {
    StopAll();
    calls_.clear();
}

void MethodCalls::Forget(const std::list<std::shared_ptr<PendingCall>>::iterator &entry) {
    calls_.erase(entry);
}

void StopMethodCalls(boost::asio::io_context &io) {
    if (boost::asio::has_service<MethodCalls>(io)) {
        boost::asio::use_service<MethodCalls>(io).StopAll();
    }
}

} // namespace vuno::dbus
