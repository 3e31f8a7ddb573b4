// Turns library and executor statuses into the two-entry error dictionary
// that every method answers with instead of a D-Bus error.
#pragma once

#include "result_dictionary.hpp"

#include <cstdint>
#include <string>

namespace vuno::dbus {

inline constexpr const char *kErrorKey = "Error";
inline constexpr const char *kErrorMessageKey = "ErrorMessage";

// Executor statuses that argument checks report before anything is sent.
inline constexpr uint32_t kSsiStatusInvalidStripSize = 256;
inline constexpr uint32_t kSsiStatusInvalidVolumeName = 257;

ResultDictionary MakeErrorDictionary(const std::string &name, const std::string &message);

// Total over their input: an unlisted value gives the "unknown status"
// dictionary and writes the value in hexadecimal to standard output.
ResultDictionary MapLibraryStatus(uint32_t status);
ResultDictionary MapSsiStatus(uint32_t status);

// Errors of the interface itself, not reported by the library or executor.
ResultDictionary InvalidArgumentError(const std::string &text);
ResultDictionary NotEnoughMemoryError();
ResultDictionary UnknownError();
ResultDictionary VunoInternalError();

} // namespace vuno::dbus
