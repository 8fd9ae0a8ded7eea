// Library strings as the window's text.
#ifndef NIMBRA_DESKTOP_TEXT_H
#define NIMBRA_DESKTOP_TEXT_H

#include <QString>
#include <string>

#include "hostkit/SafeText.h"

namespace desktop {

// Text the library composed itself (sizes, times, durations), as it is.
inline QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

// Text holding what a server or a user named (keys, record fields, file
// names, server messages), made safe to show (hostkit::SafeText).
inline QString shown(const std::string& text) {
    return qtext(hostkit::SafeText(text));
}

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_TEXT_H
