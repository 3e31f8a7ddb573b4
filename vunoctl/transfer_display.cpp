#include "transfer_display.hpp"

#include "output.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vunoctl {
namespace {

constexpr int kBarWidth = 30;

double Seconds(TransferDisplay::Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

std::string Rate(double bytes, double seconds) {
    return HumanBytes(static_cast<uint64_t>(seconds > 0 ? bytes / seconds : 0)) + "/s";
}

} // namespace

std::string MinutesAndSeconds(double seconds) {
    const long whole = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

TransferDisplay::TransferDisplay(std::ostream &out, bool terminal, uint64_t imageBytes,
                                 Clock::time_point start)
    : out_(out), terminal_(terminal), imageBytes_(imageBytes), start_(start) {}

void TransferDisplay::Update(uint32_t sent, uint32_t total, Clock::time_point now) {
    if (!terminal_ || total == 0 || total < imageBytes_ || sent > total) {
        return;
    }
    const double done = static_cast<double>(sent) / total;
    const double elapsed = Seconds(now - start_);
    const int filled = static_cast<int>(done * kBarWidth);
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '.');
    const std::string left =
        sent > 0 ? MinutesAndSeconds(elapsed * (total - sent) / sent) + " left" : "";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(done * 100));
    out_ << "\r\033[K[" << bar << "] " << percent << "  " << HumanBytes(sent) << " of "
         << HumanBytes(total) << "  " << Rate(sent, elapsed) << "  " << left << std::flush;
    drawn_ = true;
}

void TransferDisplay::Finish(const std::string &what, Clock::time_point now) {
    const double elapsed = Seconds(now - start_);
    if (drawn_) {
        out_ << "\r\033[K";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", elapsed);
    out_ << what << ": " << HumanBytes(imageBytes_) << " in " << seconds << " ("
         << Rate(static_cast<double>(imageBytes_), elapsed) << ")" << std::endl;
}

} // namespace vunoctl
