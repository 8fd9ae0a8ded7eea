// LogHandlerA for the fuzz targets: formats every message as a real sink
// would, so a format that does not match its arguments shows up under the
// sanitizers, and drops it.
#include <cstdarg>
#include <cstdio>

#include "Contracts/LogHandler.h"

extern "C" void LogHandlerA(const char*, const char*, int, int, const char* format, ...) {
    if (format == nullptr) return;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
}
