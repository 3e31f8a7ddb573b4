// Long-running peers for tests: a private D-Bus daemon of type system and
// child processes whose output is captured. Every wait is bounded, and
// only processes started here are signalled, by pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vuno::testing {

using namespace std::chrono_literals;

class ChildProcess {
  public:
    // Starts argv[0] with the given arguments; stdout and stderr are
    // captured together. extraEnv holds "NAME=value" entries.
    explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv = {});
    ~ChildProcess(); // SIGTERM, then SIGKILL if it has not ended in 5 s
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t Pid() const { return pid_; }
    // Everything the process has written so far.
    std::string Output();
    // Waits until the output contains `needle` (from byte `from` on);
    // returns the offset just behind it, or nothing on time-out or exit.
    std::optional<size_t> WaitForOutput(const std::string &needle,
                                        std::chrono::milliseconds timeout, size_t from = 0);
    size_t CountInOutput(const std::string &needle);
    void Signal(int signal);
    // The exit status (or 128 + signal), or nothing if still running.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    // Waits until the output has been read to its end (every writer closed
    // it); false on time-out.
    bool WaitForOutputEnd(std::chrono::milliseconds timeout);

  private:
    // A thread keeps reading so that a chatty child never blocks on a full
    // pipe while the test is busy elsewhere.
    void ReadOutput();

    pid_t pid_ = -1;
    int outputFd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool outputEnded_ = false;
    std::thread reader_;
    std::optional<int> exitStatus_;
};

// A fresh folder in /tmp whose name starts with `prefix`, removed with
// everything in it.
struct TemporaryFolder {
    explicit TemporaryFolder(const std::string &prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    std::filesystem::path path;
};

// Which policy for vunod the private bus applies: the one the build ships,
// or the same with the members of TestGroup() allowed to call.
enum class VunoPolicy { Shipped, WithTestGroup };
const char *TestGroup();

// A dbus-daemon of type system on a socket in a fresh temporary folder that
// every user can reach, with the default policy of a stock system bus plus
// the policy files of vunod and the simulator. Constructing it points
// DBUS_SYSTEM_BUS_ADDRESS of this process (and of children started
// afterwards) at it.
class PrivateBus {
  public:
    explicit PrivateBus(VunoPolicy policy = VunoPolicy::Shipped);
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    const std::string &Address() const { return address_; }

  private:
    TemporaryFolder folder_;
    std::string address_;
    std::optional<ChildProcess> daemon_;
};

struct CommandResult {
    int exitStatus = -1;
    std::string output; // stdout and stderr together
};

// Runs a command to completion, killing it after `timeout`.
CommandResult RunCommand(std::vector<std::string> argv, std::chrono::milliseconds timeout = 30s);

// Path of a program built beside the tests (from the environment variable
// named, which meson sets), for example VUNOD_PATH.
std::string BuiltProgram(const char *variable);

} // namespace vuno::testing
