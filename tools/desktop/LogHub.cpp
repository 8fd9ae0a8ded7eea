#include "LogHub.h"

#include "Text.h"

namespace desktop {

LogHub& LogHub::instance() {
    // Never destroyed: the library may log until the end.
    static LogHub* hub = [] {
        auto* made = new LogHub;
        hostkit::SetLogReceiver([](const hostkit::LogCall& call) { LogHub::instance().add(call); });
        return made;
    }();
    return *hub;
}

void LogHub::add(const hostkit::LogCall& call) {
    m_recent.Add(call);
    emit lineLogged(shown(hostkit::LogCallText(call)));
}

}  // namespace desktop
