// The daemon's side of the library's platform callbacks: log lines on
// standard output, mutexes, the periodic timer and the MCTP transport.
#pragma once

#include "vuno.h"

#include <string>
#include <string_view>

namespace vuno::platform {

// The table handed to vuno_initialize(); the user context must be the
// daemon's PlatformContext.
vuno_platform_callbacks Callbacks();

void Log(int level, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void *LockCreate();
void LockDestroy(void *lock);
int Lock(void *lock);
void Unlock(void *lock);
void *TimerCreate(void *userContext, void *argument, vuno_timer_handler handler,
                  uint32_t periodSeconds);
void TimerDestroy(void *timer);
int MctpSend(void *userContext, bool request, uint8_t tag, const uint8_t *data, uint32_t length);

// One log line, newline included: the level in brackets, the last component
// of `file` and the line in parentheses, then the message; error lines in
// bold red.
std::string LogLine(int level, std::string_view file, int line, std::string_view message);

} // namespace vuno::platform
