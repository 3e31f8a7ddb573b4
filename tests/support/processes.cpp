#include "processes.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace vuno::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : 0ms;
}

// The stock default policy with the policy files that punch holes in it.
std::string WriteBusConfig(const std::string &folder, const std::string &vunoPolicy) {
    const std::string path = folder + "/bus.conf";
    std::ofstream config(path);
    config << "<busconfig>\n"
           << "  <include>" << VUNO_TEST_SUPPORT_DIR << "/system-bus.conf</include>\n"
           << "  <include>" << vunoPolicy << "</include>\n"
           << "  <include>" << HOSTSIM_POLICY << "</include>\n"
           << "</busconfig>\n";
    if (!config.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> extraEnv) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        for (auto &entry : extraEnv) {
            putenv(entry.data());
        }
        std::vector<char *> args;
        for (auto &arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        std::fprintf(stderr, "exec %s failed: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    close(fds[1]);
    outputFd_ = fds[0];
    reader_ = std::thread([this] { ReadOutput(); });
}

ChildProcess::~ChildProcess() {
    if (!WaitForExit(0ms)) {
        Signal(SIGTERM);
        if (!WaitForExit(5s)) {
            Signal(SIGKILL);
            WaitForExit(5s);
        }
    }
    // A grandchild may still hold the socket open: shutting our end down
    // ends the reader in any case.
    WaitForOutputEnd(1s);
    if (reader_.joinable()) {
        shutdown(outputFd_, SHUT_RD);
        reader_.join();
    }
    close(outputFd_);
}

void ChildProcess::ReadOutput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(outputFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::lock_guard lock(mutex_);
            outputEnded_ = true;
            changed_.notify_all();
            return;
        }
        std::lock_guard lock(mutex_);
        output_.append(buffer, static_cast<size_t>(n));
        changed_.notify_all();
    }
}

std::string ChildProcess::Output() {
    std::lock_guard lock(mutex_);
    return output_;
}

std::optional<size_t> ChildProcess::WaitForOutput(const std::string &needle,
                                                  std::chrono::milliseconds timeout, size_t from) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto found = output_.find(needle, std::min(from, output_.size()));
        if (found != std::string::npos) {
            return found + needle.size();
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        changed_.wait_until(lock, std::min(deadline, Clock::now() + 100ms));
        if (exitStatus_) {
            // Let the reader catch up with the last output of the child.
            changed_.wait_for(lock, 20ms);
        }
    }
}

size_t ChildProcess::CountInOutput(const std::string &needle) {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (auto at = output_.find(needle); at != std::string::npos;
         at = output_.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !exitStatus_) {
        kill(pid_, signal);
    }
}

bool ChildProcess::WaitForOutputEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return outputEnded_; });
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!exitStatus_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::min(Remaining(deadline), 10ms));
    }
    return exitStatus_;
}

const char *TestGroup() {
    return VUNO_TEST_GROUP;
}

TemporaryFolder::TemporaryFolder(const std::string &prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder in /tmp");
    }
    path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

PrivateBus::PrivateBus(VunoPolicy policy) : folder_("vuno-bus") {
    // Unprivileged callers must reach the socket.
    if (chmod(folder_.path.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot open the bus folder to everyone");
    }
    address_ = "unix:path=" + folder_.path.string() + "/system_bus_socket";
    const std::string config = WriteBusConfig(
        folder_.path, policy == VunoPolicy::Shipped ? VUNO_POLICY : VUNO_GROUP_TEST_POLICY);
    daemon_.emplace(std::vector<std::string>{"dbus-daemon", "--config-file=" + config,
                                             "--address=" + address_, "--nofork", "--nopidfile",
                                             "--print-address=1"});
    if (!daemon_->WaitForOutput(address_, 10s)) {
        throw std::runtime_error("dbus-daemon did not start: " + daemon_->Output());
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
    daemon_.reset();
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

CommandResult RunCommand(std::vector<std::string> argv, std::chrono::milliseconds timeout) {
    ChildProcess child(std::move(argv));
    CommandResult result;
    if (auto status = child.WaitForExit(timeout)) {
        result.exitStatus = *status;
        child.WaitForOutputEnd(1s);
    }
    result.output = child.Output();
    return result;
}

std::string BuiltProgram(const char *variable) {
    const char *path = std::getenv(variable);
    if (path == nullptr) {
        throw std::runtime_error(std::string("environment variable not set: ") + variable);
    }
    return path;
}

} // namespace vuno::testing
