#include "platform_hooks.hpp"

#include "aux_timer.hpp"
#include "platform_context.hpp"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

namespace vuno::platform {
namespace {

constexpr char kBoldRed[] = "\033[1;31m";
constexpr char kColourReset[] = "\033[0m";

// The whole message, however long: measured first, then formatted.
std::string FormatMessage(const char *format, va_list args) {
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        return "(unformattable log message)";
    }
    std::string message(static_cast<size_t>(length), '\0');
    std::vsnprintf(message.data(), message.size() + 1, format, args);
    return message;
}

std::string LevelName(int level) {
    switch (level) {
    case VUNO_LOG_DEBUG:
        return "DEBUG";
    case VUNO_LOG_ERROR:
        return "ERROR";
    default:
        return "LEVEL " + std::to_string(level);
    }
}

std::string_view BaseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The library keeps a plain pointer as the timer handle; the handle owns one
// share of the timer, its running coroutine the other.
using TimerHandle = std::shared_ptr<AuxTimer>;

} // namespace

std::string LogLine(int level, std::string_view file, int line, std::string_view message) {
    const bool error = level == VUNO_LOG_ERROR;
    // Appended piece by piece: GCC 12 at -O3 warns about the temporaries
    // of chained operator+ (a false -Wrestrict).
    std::string text = error ? kBoldRed : "";
    text += '[';
    text += LevelName(level);
    text += "] (";
    text += BaseName(file);
    text += ':';
    text += std::to_string(line);
    text += "): ";
    text += message;
    if (error) {
        text += kColourReset;
    }
    text += "\n";
    return text;
}

void Log(int level, const char *file, int line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    try {
        const std::string message = format != nullptr ? FormatMessage(format, args) : "";
        std::cout << LogLine(level, file != nullptr ? file : "", line, message) << std::flush;
    } catch (const std::bad_alloc &) {
        // Logging never fails towards the library: a line that cannot be
        // built is lost.
    }
    va_end(args);
}

void *LockCreate() {
    auto *mutex = new (std::nothrow) std::mutex();
    if (mutex == nullptr) {
        return nullptr;
    }
    std::cout << "Lock " << static_cast<void *>(mutex) << " init" << std::endl;
    return mutex;
}

void LockDestroy(void *lock) {
    std::cout << "Lock " << lock << " deinit" << std::endl;
    delete static_cast<std::mutex *>(lock);
}

int Lock(void *lock) {
    if (lock == nullptr) {
        return 0;
    }
    try {
        static_cast<std::mutex *>(lock)->lock();
        return 1;
    } catch (const std::system_error &) {
        return 0;
    }
}

void Unlock(void *lock) {
    if (lock != nullptr) {
        static_cast<std::mutex *>(lock)->unlock();
    }
}

void *TimerCreate(void *userContext, void *argument, vuno_timer_handler handler,
                  uint32_t periodSeconds) {
    std::cout << "Timer create" << std::endl;
    const auto *platform = static_cast<PlatformContext *>(userContext);
    if (platform == nullptr || platform->conn == nullptr || handler == nullptr) {
        return nullptr;
    }
    try {
        auto timer = std::make_shared<AuxTimer>(platform->conn->Context(), argument, handler,
                                                std::chrono::seconds(periodSeconds));
        auto handle = std::make_unique<TimerHandle>(timer);
        timer->Start();
        return handle.release();
    } catch (const std::exception &) {
        return nullptr;
    }
}

void TimerDestroy(void *timer) {
    std::cout << "Timer cancel" << std::endl;
    const std::unique_ptr<TimerHandle> handle(static_cast<TimerHandle *>(timer));
    if (handle != nullptr) {
        (*handle)->Stop();
    }
}

int MctpSend(void *userContext, bool request, uint8_t tag, const uint8_t *data, uint32_t length) {
    auto *platform = static_cast<PlatformContext *>(userContext);
    if (platform == nullptr || (data == nullptr && length != 0)) {
        return -1;
    }
    try {
        platform->mctp.SendMctpMessage(request, tag, data, length);
        return 0;
    } catch (const std::exception &) {
        return -1; // the message could not even be copied
    }
}

vuno_platform_callbacks Callbacks() {
    return {
        .log = Log,
        .lock_create = LockCreate,
        .lock_destroy = LockDestroy,
        .lock = Lock,
        .unlock = Unlock,
        .timer_create = TimerCreate,
        .timer_destroy = TimerDestroy,
        .mctp_send = MctpSend,
    };
}

} // namespace vuno::platform
