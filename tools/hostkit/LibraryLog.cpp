#include "hostkit/LibraryLog.h"

#include <sys/time.h>

#include <atomic>
#include <cstdio>

#include "Contracts/LogHandler.h"
#include "hostkit/Format.h"

namespace hostkit {
namespace {

constexpr size_t kRecentLines = 12;

std::atomic<LogReceiver> g_receiver{nullptr};

}  // namespace

void SetLogReceiver(LogReceiver receiver) {
    g_receiver = receiver;
}

LogCall ReadLogCall(const char* function, const char* file, int line, int level, const char* format,
                    va_list args) {
    timeval now{};
    gettimeofday(&now, nullptr);
    LogCall call;
    call.millis = static_cast<long long>(now.tv_sec) * 1000 + now.tv_usec / 1000;
    call.function = function != nullptr ? function : "";
    call.file = file != nullptr ? file : "";
    call.line = line;
    call.level = level;
    char message[4096];
    message[0] = '\0';
    if (format != nullptr) std::vsnprintf(message, sizeof message, format, args);
    call.message = message;
    while (!call.message.empty() && (call.message.back() == '\n' || call.message.back() == '\r'))
        call.message.pop_back();
    return call;
}

std::string LogCallText(const LogCall& call) {
    return FormatLocalMillis(call.millis) + " [L" + std::to_string(call.level) + "] " +
           (call.function.empty() ? "?" : call.function) + " " +
           (call.file.empty() ? "?" : call.file) + ":" + std::to_string(call.line) + " " +
           call.message;
}

void RecentLines::Add(const LogCall& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({call.function, call.message});
    if (lines_.size() > kRecentLines) lines_.pop_front();
}

std::vector<LibraryLine> RecentLines::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<LibraryLine>(lines_.begin(), lines_.end());
}

void RecentLines::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

}  // namespace hostkit

extern "C" __attribute__((visibility("default"))) void LogHandlerA(const char* function,
                                                                   const char* file, int line,
                                                                   int level, const char* format,
                                                                   ...) {
    const hostkit::LogReceiver receiver = hostkit::g_receiver;
    if (receiver == nullptr) return;
    va_list args;
    va_start(args, format);
    const hostkit::LogCall call = hostkit::ReadLogCall(function, file, line, level, format, args);
    va_end(args);
    receiver(call);
}
