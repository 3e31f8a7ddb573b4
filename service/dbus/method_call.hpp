// The life of one storage method call after its arguments arrived: the
// request is issued on the loop's own stack, the library's completion
// cancels the call's wait, and the wait's handler sends the reply from the
// loop, never from inside the library.
#pragma once

#include "completion.hpp"
#include "result_dictionary.hpp"

#include <boost/asio/io_context.hpp>

#include <functional>
#include <list>
#include <memory>

namespace vuno::dbus {

// Issues the call's request with the given context; returns the library
// status and throws when the arguments are refused.
using RequestIssuer = std::function<int(CompletionContext &context)>;
// Sends the call's one reply.
using ReplySender = std::function<void(const ResultDictionary &reply)>;

class PendingCall;

// Every method call of one io_context from its start to its reply.
class MethodCalls : public boost::asio::io_context::service {
  public:
    static boost::asio::io_context::id id;

    explicit MethodCalls(boost::asio::io_context &io) : service(io) {}

    // Takes one call to its reply: every outcome, a refusal of the
    // arguments included, is a reply, sent from a later turn of the loop
    // (at once only when the call cannot even be taken on).
    void Handle(const RequestIssuer &issue, const ReplySender &reply) noexcept;
    // Ends the wait of every call in progress; none of them is answered
    // any more. A call whose completion is still owed keeps its context
    // until this service goes with its io_context, as the library may still
    // write into it.
    void StopAll();
    // Calls not answered yet, the stopped ones included.
    size_t Count() const { return calls_.size(); }

  private:
    friend class PendingCall;

    void shutdown() override;
    std::shared_ptr<PendingCall> Track(const ReplySender &reply);
    void Forget(const std::list<std::shared_ptr<PendingCall>>::iterator &entry);

    std::list<std::shared_ptr<PendingCall>> calls_;
};

// Ends the method calls in progress on `io`, before the library goes.
void StopMethodCalls(boost::asio::io_context &io);

} // namespace vuno::dbus
