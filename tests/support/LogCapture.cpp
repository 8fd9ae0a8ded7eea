#include "tests/support/LogCapture.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "Contracts/LogHandler.h"

namespace {
std::mutex g_mutex;
std::vector<testlog::Entry>& Entries() {
    static std::vector<testlog::Entry> entries;
    return entries;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) void LogHandlerA(const char* function,
                                                                   const char* file, int line,
                                                                   int level, const char* format,
                                                                   ...) {
    testlog::Entry e;
    e.function = function ? function : "";
    e.file = file ? file : "";
    e.line = line;
    e.level = level;
    e.format = format ? format : "";
    if (format) {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        int n = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n > 0) {
            std::string text(static_cast<size_t>(n) + 1, '\0');
            vsnprintf(&text[0], text.size(), format, args);
            text.resize(static_cast<size_t>(n));
            e.message = std::move(text);
        }
        va_end(args);
    }
    if (std::getenv("NIMBRA_TEST_LOG")) {
        fprintf(stderr, "[log] %s %s:%d %s\n", e.function.c_str(), e.file.c_str(), e.line,
                e.message.c_str());
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    Entries().push_back(std::move(e));
}

namespace testlog {

void Clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Entries().clear();
}

std::vector<Entry> Snapshot() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Entries();
}

std::vector<std::string> Messages(const std::string& function) {
    std::vector<std::string> out;
    for (const Entry& e : Snapshot()) {
        if (function.empty() || e.function == function) out.push_back(e.message);
    }
    return out;
}

}  // namespace testlog
