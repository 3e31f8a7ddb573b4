#include "method_call.hpp"

#include "argument_parsing.hpp"
#include "steady_wait.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/spawn.hpp>

#include <iostream>

namespace vuno::dbus {

class PendingCall : public std::enable_shared_from_this<PendingCall> {
  public:
    PendingCall(MethodCalls &owner, const ReplySender &reply)
        : owner_(owner), reply_(reply), timer_(owner.get_io_context()) {}

    void Issue(const RequestIssuer &issue) noexcept;
    void Await(boost::asio::yield_context yield);
    // Ends the polling; no reply will be sent.
    void Stop() noexcept;

    std::list<std::shared_ptr<PendingCall>>::iterator entry;

  private:
    // An outcome known before anything is pending: wake the coroutine
    // rather than letting it wait for a poll period.
    void ConcludeAtOnce() noexcept;
    void SendReply() noexcept;

    MethodCalls &owner_;
    ReplySender reply_;
    CompletionContext context_;
    CoroutineTimer timer_;
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
    ConcludeAtOnce();
}

void PendingCall::ConcludeAtOnce() noexcept {
    context_.done = true;
    timer_.Stop();
}

void PendingCall::Await(boost::asio::yield_context yield) {
    while (!context_.done && timer_.Wait(MethodCalls::kPollPeriod, yield)) {
    }
    if (context_.done && reply_) {
        boost::asio::post(owner_.get_io_context(),
                          [self = shared_from_this()] { self->SendReply(); });
    }
}

void PendingCall::Stop() noexcept {
    reply_ = nullptr;
    timer_.Stop();
}

void PendingCall::SendReply() noexcept {
    if (reply_) {
        if (context_.failure) {
            try {
                SendReplyOrReport(reply_, ReplyForStoredFailure(context_.failure));
            } catch (...) {
                std::cout << "Cannot send the reply of a method call" << std::endl;
            }
        } else {
            SendReplyOrReport(reply_, context_.result);
        }
    }
    owner_.Forget(entry);
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
        boost::asio::spawn(get_io_context(),
                           [call](boost::asio::yield_context yield) { call->Await(yield); });
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
