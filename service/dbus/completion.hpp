// How the outcome of one request reaches its method call: the library's
// completion callback stores a result dictionary in the call's context,
// marks it done and wakes the call, which replies from a later turn of the
// loop.
#pragma once

#include "result_dictionary.hpp"

#include <vuno.h>

#include <cstdint>
#include <exception>
#include <functional>

namespace vuno::dbus {

// One per method call, given to the library as the request's user context.
struct CompletionContext {
    // Set last, once `result` (or `failure`) holds the outcome.
    bool done = false;
    ResultDictionary result;
    // What went wrong while the outcome was being built, for the reply to
    // report once it runs where exceptions may be handled.
    std::exception_ptr failure;
    // Called once done is set, while the library may still be on the
    // stack: it may only arrange for the call to go on from the loop.
    std::function<void()> wake;
};

// A response record converter with the record's type erased.
using RecordConverter = ResultDictionary (*)(const void *record);

// Fills `context` from a completion in this order: a pending status, a
// library failure, an executor failure, then the converted record. Writes
// the interface's log lines. Never throws; sets done, then wakes the call.
void CompleteRequest(CompletionContext &context, uint32_t status, uint32_t ssiStatus,
                     const void *record, RecordConverter convert) noexcept;

// The result of a request operation that did not leave its request pending.
ResultDictionary ReplyForSendStatus(int status);

// The reply of a call whose outcome could not be stored as a dictionary.
ResultDictionary ReplyForStoredFailure(std::exception_ptr failure);

// Actions answer success with an empty dictionary; they have no record.
ResultDictionary ConvertNothing(const void *record);

namespace detail {

template <typename Converter> struct ConvertedRecord;
template <typename Record> struct ConvertedRecord<ResultDictionary (*)(const Record *)> {
    using Type = Record;
};

template <auto Convert> ResultDictionary ConvertErased(const void *record) {
    using Record = typename ConvertedRecord<decltype(Convert)>::Type;
    return Convert(static_cast<const Record *>(record));
}

} // namespace detail

// The completion callback of a request whose record `Convert` turns into
// the result; the user context is the call's CompletionContext.
template <auto Convert>
void OnRequestCompleted(uint32_t status, uint32_t ssiStatus, const void *record,
                        void *userContext) noexcept {
    CompleteRequest(*static_cast<CompletionContext *>(userContext), status, ssiStatus, record,
                    &detail::ConvertErased<Convert>);
}

} // namespace vuno::dbus
