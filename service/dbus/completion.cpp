#include "completion.hpp"

#include "status_mapping.hpp"

#include <iostream>
#include <new>
#include <string>

namespace vuno::dbus {

namespace {

std::string ErrorName(const ResultDictionary &error) {
    return error.at(kErrorKey).get<std::string>();
}

ResultDictionary OutcomeOf(uint32_t status, uint32_t ssiStatus, const void *record,
                           RecordConverter convert) {
    if (status == VUNO_STATUS_COMMAND_PENDING) {
        std::cout << "Internal error, received status pending in callback function" << std::endl;
        std::cout << "Error in callback function, VUNO status: VunoInternalError" << std::endl;
        return VunoInternalError();
    }
    if (status != VUNO_STATUS_SUCCESS) {
        ResultDictionary error = MapLibraryStatus(status);
        std::cout << "Error in callback function, VUNO status: " << ErrorName(error) << std::endl;
        return error;
    }
    if (ssiStatus != 0) {
        ResultDictionary error = MapSsiStatus(ssiStatus);
        std::cout << "Error in callback function, SSI status: " << ErrorName(error) << std::endl;
        return error;
    }
    return convert(record);
}

} // namespace

void CompleteRequest(CompletionContext &context, uint32_t status, uint32_t ssiStatus,
                     const void *record, RecordConverter convert) noexcept {
    // The library called us: nothing may unwind into it.
    try {
        context.result = OutcomeOf(status, ssiStatus, record, convert);
    } catch (...) {
        context.result.clear();
        context.failure = std::current_exception();
    }
    context.done = true;
    if (context.wake) {
        context.wake();
    }
}

ResultDictionary ReplyForSendStatus(int status) {
    // Every operation of the family answers asynchronously, so success here
    // means the library is confused.
    ResultDictionary error = status == VUNO_STATUS_SUCCESS
                                 ? VunoInternalError()
                                 : MapLibraryStatus(static_cast<uint32_t>(status));
    std::cout << "Error during sending request, status: " << ErrorName(error) << std::endl;
    return error;
}

ResultDictionary ReplyForStoredFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc &) {
        std::cout << "Out of memory" << std::endl;
        return NotEnoughMemoryError();
    } catch (...) {
        return VunoInternalError();
    }
}

ResultDictionary ConvertNothing(const void *) {
    return {};
}

} // namespace vuno::dbus
