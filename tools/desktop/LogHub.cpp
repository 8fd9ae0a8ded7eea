#include "LogHub.h"

#include <cstdarg>

#include "Contracts/LogHandler.h"
#include "hostkit/SafeText.h"

namespace desktop {

LogHub& LogHub::instance() {
    static LogHub* hub = new LogHub;  // never destroyed: the library may log until the end
    return *hub;
}

void LogHub::add(const hostkit::LogCall& call) {
    m_recent.Add(call);
    emit lineLogged(QString::fromStdString(hostkit::SafeText(hostkit::LogCallText(call))));
}

}  // namespace desktop

extern "C" __attribute__((visibility("default"))) void LogHandlerA(const char* function,
                                                                   const char* file, int line,
                                                                   int level, const char* format,
                                                                   ...) {
    va_list args;
    va_start(args, format);
    desktop::LogHub::instance().add(
        hostkit::ReadLogCall(function, file, line, level, format, args));
    va_end(args);
}
