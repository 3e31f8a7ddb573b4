// Drives the daemon from one process that holds all its calls in flight on
// one connection, so that the figures are the daemon's and not the
// client's. Each measure is also taken with org.freedesktop.DBus.Peer.Ping
// on the same object: the floor of the client and the bus themselves.
//
//   bench_client latency COUNT GAP_MS    sequential calls, GAP_MS apart
//   bench_client throughput IN_FLIGHT TOTAL
//   bench_client firmware IMAGE_PATH     one SendFirmwareToSlot
//
// The storage calls are made while watching the MCTP traffic as a bus
// monitor: how long the simulated ME takes to answer sendMessage, and how
// long the host takes to send the frames that a frame of the daemon
// prompted. Results are printed
// as "name key=value ..." lines.
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kService = "xyz.openbmc_project.Vuno";
constexpr const char *kObject = "/xyz/openbmc_project/Vuno";
constexpr const char *kStorage = "xyz.openbmc_project.vuno.pelk";
constexpr uint64_t kCallTimeoutUsec = 300'000'000;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void Check(int result, const char *what) {
    if (result < 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(-result));
    }
}

sd_bus *OpenBus(bool monitor) {
    const char *address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address == nullptr) {
        throw std::runtime_error("DBUS_SYSTEM_BUS_ADDRESS is not set");
    }
    sd_bus *bus = nullptr;
    Check(sd_bus_new(&bus), "sd_bus_new");
    Check(sd_bus_set_address(bus, address), "sd_bus_set_address");
    Check(sd_bus_set_bus_client(bus, 1), "sd_bus_set_bus_client");
    Check(sd_bus_set_monitor(bus, monitor ? 1 : 0), "sd_bus_set_monitor");
    Check(sd_bus_start(bus), "sd_bus_start");
    return bus;
}

// Empty when answered with a dictionary that holds no "Error" entry;
// otherwise the error's name, or what was wrong with the reply.
std::string FailureOf(sd_bus_message *reply) {
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    if (error != nullptr) {
        return error->name;
    }
    if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) {
        return "not a dictionary";
    }
    const char *key = nullptr;
    while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        if (sd_bus_message_read(reply, "s", &key) < 0) {
            return "unreadable";
        }
        const char *name = nullptr;
        if (std::strcmp(key, "Error") == 0) {
            return sd_bus_message_read(reply, "v", "s", &name) >= 0 ? name : "Error";
        }
        if (sd_bus_message_skip(reply, "v") < 0 || sd_bus_message_exit_container(reply) < 0) {
            return "unreadable";
        }
    }
    return {};
}

// One kind of call, made again and again.
struct CallShape {
    const char *interface;
    const char *member;
    std::function<int(sd_bus_message *)> append = [](sd_bus_message *) { return 0; };
    // A Ping answers nothing: any method return counts.
    bool expectsDictionary = true;
};

CallShape Ping() {
    return {"org.freedesktop.DBus.Peer", "Ping", [](sd_bus_message *) { return 0; }, false};
}

CallShape ExecutorInformation() {
    return {kStorage, "GetExecutorInformation"};
}

struct Outcome {
    Clock::duration elapsed;
    // Empty for a successful call.
    std::string failure;
};

// Failed calls by the name of their error.
class Failures {
  public:
    void Count(const Outcome &outcome) {
        if (!outcome.failure.empty()) {
            ++byName_[outcome.failure];
            ++total_;
        }
    }
    int Total() const { return total_; }
    // " failed=N errors=Name:n,..."
    std::string Text() const {
        std::string text = " failed=" + std::to_string(total_);
        const char *separator = " errors=";
        for (const auto &[name, count] : byName_) {
            text += separator + name + ":" + std::to_string(count);
            separator = ",";
        }
        return text;
    }

  private:
    std::map<std::string, int> byName_;
    int total_ = 0;
};

// The MCTP exchanges seen by the monitor, for the simulator's share of a
// call's time.
class RelayWatch {
  public:
    void Take(sd_bus_message *message, Clock::time_point now);
    void Print() const;

  private:
    void TakeSignal(sd_bus_message *message, Clock::time_point now);

    std::map<std::pair<std::string, uint64_t>, Clock::time_point> calls_;
    std::vector<double> meAnswers_;
    std::vector<double> hostAnswers_;
    Clock::time_point lastFrameOut_{};
};

// Runs one or two connections until a condition holds or a deadline passes.
class Client {
  public:
    Client() : bus_(OpenBus(false)) {}
    ~Client() {
        sd_bus_flush_close_unref(bus_);
        if (monitor_ != nullptr) {
            sd_bus_flush_close_unref(monitor_);
        }
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void WatchRelay(RelayWatch &watch);
    // Starts a call; `done` receives its outcome from Run().
    void Start(const CallShape &shape, std::function<void(Outcome)> done);
    // False when the deadline passed first.
    bool Run(const std::function<bool()> &finished, Clock::time_point deadline);

  private:
    struct Pending {
        Client *client;
        Clock::time_point start;
        bool expectsDictionary;
        std::function<void(Outcome)> done;
        sd_bus_slot *slot = nullptr;
    };
    static int OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *);
    void ProcessAll();
    void Wait(Clock::time_point deadline);

    sd_bus *bus_;
    sd_bus *monitor_ = nullptr;
    RelayWatch *watch_ = nullptr;
};

void Client::WatchRelay(RelayWatch &watch) {
    monitor_ = OpenBus(true);
    sd_bus_message *become = nullptr;
    Check(sd_bus_message_new_method_call(monitor_, &become, "org.freedesktop.DBus",
                                         "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                                         "BecomeMonitor"),
          "BecomeMonitor");
    Check(sd_bus_message_append(become, "asu", 4,
                                "type='method_call',interface='xyz.openbmc_project.mctp'",
                                "type='method_return'", "type='error'",
                                "type='signal',member='mctpMessageReceived'", 0u),
          "BecomeMonitor arguments");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result = sd_bus_call(monitor_, become, 0, &error, nullptr);
    sd_bus_message_unref(become);
    sd_bus_error_free(&error);
    Check(result, "BecomeMonitor");
    watch_ = &watch;
}

void Client::Start(const CallShape &shape, std::function<void(Outcome)> done) {
    sd_bus_message *call = nullptr;
    Check(sd_bus_message_new_method_call(bus_, &call, kService, kObject, shape.interface,
                                         shape.member),
          "new call");
    Check(shape.append(call), "call arguments");
    auto *pending = new Pending{this, Clock::now(), shape.expectsDictionary, std::move(done)};
    const int result =
        sd_bus_call_async(bus_, &pending->slot, call, OnReply, pending, kCallTimeoutUsec);
    sd_bus_message_unref(call);
    if (result < 0) {
        delete pending;
        Check(result, "sd_bus_call_async");
    }
}

int Client::OnReply(sd_bus_message *reply, void *userdata, sd_bus_error *) {
    auto *pending = static_cast<Pending *>(userdata);
    const Clock::duration elapsed = Clock::now() - pending->start;
    std::string failure;
    if (pending->expectsDictionary) {
        failure = FailureOf(reply);
    } else if (const sd_bus_error *error = sd_bus_message_get_error(reply)) {
        failure = error->name;
    }
    sd_bus_slot_unref(pending->slot);
    auto done = std::move(pending->done);
    delete pending;
    done({elapsed, failure});
    return 1;
}

void Client::ProcessAll() {
    while (true) {
        const int result = sd_bus_process(bus_, nullptr);
        Check(result, "sd_bus_process");
        if (result == 0) {
            break;
        }
    }
    while (monitor_ != nullptr) {
        sd_bus_message *message = nullptr;
        const int result = sd_bus_process(monitor_, &message);
        Check(result, "sd_bus_process (monitor)");
        if (message != nullptr) {
            watch_->Take(message, Clock::now());
            sd_bus_message_unref(message);
        }
        if (result == 0) {
            break;
        }
    }
}

void Client::Wait(Clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (sd_bus *bus : {bus_, monitor_}) {
        if (bus != nullptr) {
            fds.push_back({sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0});
        }
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, left.count())));
}

bool Client::Run(const std::function<bool()> &finished, Clock::time_point deadline) {
    while (true) {
        ProcessAll();
        if (finished()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        Wait(deadline);
    }
}

// Frame-level view of an MCTP message: the vendor header (5 bytes), then a
// BMC-ME Transfer Data request (command 1, 4-byte length) with one Service
// Protocol frame. A heartbeat is a 5-byte control frame starting with 0.
bool IsHeartbeat(const uint8_t *data, size_t size) {
    return size == 15 && data[5] == 1 && data[10] == 0;
}

void RelayWatch::Take(sd_bus_message *message, Clock::time_point now) {
    uint8_t type = 0;
    sd_bus_message_get_type(message, &type);
    const char *sender = sd_bus_message_get_sender(message);
    const char *destination = sd_bus_message_get_destination(message);
    if (type == SD_BUS_MESSAGE_METHOD_CALL && sender != nullptr) {
        uint64_t cookie = 0;
        sd_bus_message_get_cookie(message, &cookie);
        calls_[{sender, cookie}] = now;
        uint8_t endpoint = 0;
        uint8_t request = 0;
        if (sd_bus_message_read(message, "yy", &endpoint, &request) >= 0 && request != 0) {
            lastFrameOut_ = now;
        }
        return;
    }
    if (type == SD_BUS_MESSAGE_SIGNAL) {
        TakeSignal(message, now);
        return;
    }
    uint64_t replyTo = 0;
    if (destination == nullptr || sd_bus_message_get_reply_cookie(message, &replyTo) < 0) {
        return;
    }
    const auto call = calls_.find({destination, replyTo});
    if (call != calls_.end()) {
        meAnswers_.push_back(Milliseconds(now - call->second));
        calls_.erase(call);
    }
}

void RelayWatch::TakeSignal(sd_bus_message *message, Clock::time_point now) {
    const void *data = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(message, 'y', &data, &size) < 0 ||
        IsHeartbeat(static_cast<const uint8_t *>(data), size) ||
        lastFrameOut_ == Clock::time_point{}) {
        return;
    }
    hostAnswers_.push_back(Milliseconds(now - lastFrameOut_));
}

struct Summary {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> samples) {
    if (samples.empty()) {
        return {};
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&samples](double fraction) {
        const size_t index = static_cast<size_t>(fraction * static_cast<double>(samples.size()));
        return samples[std::min(samples.size() - 1, index)];
    };
    return {at(0.5), at(0.95), samples.back()};
}

void PrintSummary(const char *name, const std::vector<double> &samples, const char *extra = "") {
    const Summary summary = Summarise(samples);
    std::printf("%s count=%zu median_ms=%.2f p95_ms=%.2f max_ms=%.2f%s\n", name, samples.size(),
                summary.median, summary.p95, summary.max, extra);
}

void RelayWatch::Print() const {
    PrintSummary("me_answer", meAnswers_);
    PrintSummary("host_answer", hostAnswers_);
}

// COUNT calls one after the other, each GAP after the previous answer.
std::vector<double> Sequential(Client &client, const CallShape &shape, int count,
                               Clock::duration gap, Failures &failed) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        bool answered = false;
        client.Start(shape, [&](Outcome outcome) {
            samples.push_back(Milliseconds(outcome.elapsed));
            failed.Count(outcome);
            answered = true;
        });
        if (!client.Run([&] { return answered; }, Clock::now() + std::chrono::seconds(300))) {
            throw std::runtime_error("a call was not answered");
        }
        client.Run([] { return false; }, Clock::now() + gap);
    }
    return samples;
}

int Latency(int count, int gapMs) {
    Client client;
    const auto gap = std::chrono::milliseconds(gapMs);
    Failures pingFailures;
    PrintSummary("ping", Sequential(client, Ping(), count, gap, pingFailures),
                 pingFailures.Text().c_str());
    RelayWatch watch;
    client.WatchRelay(watch);
    Failures failed;
    const auto calls = Sequential(client, ExecutorInformation(), count, gap, failed);
    PrintSummary("call", calls, failed.Text().c_str());
    watch.Print();
    return 0;
}

// Keeps `inFlight` calls outstanding until `total` have been answered.
void Concurrent(const char *name, const CallShape &shape, int inFlight, int total,
                bool watchRelay) {
    Client client;
    RelayWatch watch;
    if (watchRelay) {
        client.WatchRelay(watch);
    }
    int started = 0;
    int answered = 0;
    Failures failed;
    std::function<void()> startOne = [&] {
        ++started;
        client.Start(shape, [&](Outcome outcome) {
            ++answered;
            failed.Count(outcome);
            if (started < total) {
                startOne();
            }
        });
    };
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < std::min(inFlight, total); ++i) {
        startOne();
    }
    if (!client.Run([&] { return answered == total; }, begin + std::chrono::seconds(600))) {
        throw std::runtime_error("calls were not answered in time");
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("%s calls_per_s=%.2f answered=%d seconds=%.2f%s\n", name, total / seconds, answered,
                seconds, failed.Text().c_str());
    if (watchRelay) {
        watch.Print();
    }
}

int Throughput(int inFlight, int total) {
    Concurrent("ping", Ping(), inFlight, total, false);
    Concurrent("call", ExecutorInformation(), inFlight, total, true);
    return 0;
}

int Firmware(const std::string &image) {
    Client client;
    Failures failed;
    PrintSummary("ping", Sequential(client, Ping(), 20, {}, failed));
    CallShape send{kStorage, "SendFirmwareToSlot", [&image](sd_bus_message *call) {
                       return sd_bus_message_append(call, "qss", uint16_t{2}, "bench1",
                                                    image.c_str());
                   }};
    const auto samples = Sequential(client, send, 1, {}, failed);
    std::printf("firmware seconds=%.3f%s\n", samples.at(0) / 1000, failed.Text().c_str());
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: bench_client latency COUNT GAP_MS | throughput IN_FLIGHT TOTAL"
                         " | firmware IMAGE_PATH\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "latency") {
            return Latency(std::stoi(args[1]), std::stoi(args[2]));
        }
        if (args.size() == 3 && args[0] == "throughput") {
            return Throughput(std::stoi(args[1]), std::stoi(args[2]));
        }
        if (args.size() == 2 && args[0] == "firmware") {
            return Firmware(args[1]);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_client: %s\n", error.what());
        return 1;
    }
    return Usage();
}
