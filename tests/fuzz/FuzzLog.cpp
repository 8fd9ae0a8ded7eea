// LogHandlerA for the fuzz targets: formats every message the way a real sink
// would, so a format that does not match its arguments shows up under the
// sanitizers, and then drops it.
#include <cstdarg>
#include <cstdio>

#include "Contracts/LogHandler.h"

extern "C" void LogHandlerA(const char* function, const char* file, int line, int level,
                            const char* format, ...) {
    (void)function;
    (void)file;
    (void)line;
    (void)level;
    if (format == nullptr) return;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
}
