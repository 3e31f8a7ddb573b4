// The daemon's storage methods as the client sees them: their argument
// signatures, how long a client waits for each, and the conversion of
// command-line texts into typed D-Bus arguments.
#pragma once

#include <sdbus-c++/Message.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vunoctl {

inline constexpr char kService[] = "xyz.openbmc_project.Vuno";
inline constexpr char kObjectPath[] = "/xyz/openbmc_project/Vuno";
inline constexpr char kStorageInterface[] = "xyz.openbmc_project.vuno.pelk";
inline constexpr char kTransmissionInterface[] = "xyz.openbmc_project.vuno.Transmission";
inline constexpr char kZeroId[] = "00000000-0000-0000-0000-000000000000";

struct Method {
    std::string_view name;
    std::string_view signature;
};

// All storage methods, in the daemon's order.
const std::vector<Method> &StorageMethods();
// The method of that name, or nullptr.
const Method *FindMethod(std::string_view name);

// A command line the user got wrong: exit status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The texts of one argument: one for a basic type, any number for an array.
using ArgumentTexts = std::vector<std::string>;

// The signature split into its complete types ("sas" gives "s", "as").
std::vector<std::string> SplitSignature(std::string_view signature);

// Reads a command line's words by the signature: one word per basic type,
// the remaining words for an array (which the daemon only has last).
// Throws UsageError when words are missing or left over.
std::vector<ArgumentTexts> ArgumentsBySignature(std::string_view signature,
                                                const std::vector<std::string> &words);

// Appends the arguments to the call, each converted to its type; numbers
// must fit their type, 't' takes byte units (10G, 1.5TB, 512MiB), 'b'
// takes true/false, on/off, yes/no or 1/0. Throws UsageError.
void AppendArguments(sdbus::MethodCall &call, std::string_view signature,
                     const std::vector<ArgumentTexts> &arguments);

// Bytes in a size text such as 4096, 10G, 1.5TB or 512MiB.
uint64_t ParseSize(const std::string &text);

// Size of the file at `path` in bytes, 0 when it cannot be read.
uint64_t FileSize(const std::string &path);

// How long the client waits for a call: long enough for the library to give
// up on the host first, and for a firmware image, for its transfer over the
// link too. A held GetEvents waits without end.
std::chrono::microseconds DefaultTimeout(std::string_view method,
                                         const std::vector<ArgumentTexts> &arguments);

} // namespace vunoctl
