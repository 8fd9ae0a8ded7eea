// Stand-in for the host's logging library: one line per call on stderr,
// "<local time> [L<level>] <function> <file>:<line> <message>".
#include "Contracts/LogHandler.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include <sys/time.h>

extern "C" __attribute__((visibility("default"))) void LogHandlerA(const char* function,
                                                                   const char* file, int line,
                                                                   int level, const char* format,
                                                                   ...) {
    char szMessage[4096];
    szMessage[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        vsnprintf(szMessage, sizeof szMessage, format, args);
        va_end(args);
    }
    // Messages may or may not end in a newline; print exactly one.
    std::string strMessage(szMessage);
    while (!strMessage.empty() && (strMessage.back() == '\n' || strMessage.back() == '\r')) {
        strMessage.pop_back();
    }

    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm tmLocal{};
    localtime_r(&tv.tv_sec, &tmLocal);
    char szTime[32];
    strftime(szTime, sizeof szTime, "%Y-%m-%d %H:%M:%S", &tmLocal);

    // One fprintf per line so concurrent callers do not interleave mid-line.
    fprintf(stderr, "%s.%03ld [L%d] %s %s:%d %s\n", szTime, static_cast<long>(tv.tv_usec / 1000),
            level, function ? function : "?", file ? file : "?", line, strMessage.c_str());
}
