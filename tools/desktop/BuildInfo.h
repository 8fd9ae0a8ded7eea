// What this nimbra-desktop was built against: its version and the addresses
// compiled into the library copy it links (main.cpp fills it in from that
// copy's NimbraConfig.h).
#ifndef NIMBRA_DESKTOP_BUILDINFO_H
#define NIMBRA_DESKTOP_BUILDINFO_H

#include <QString>

namespace desktop {

struct BuildInfo {
    QString version;
    QString serverUrl;
    QString endpoint;
    QString bucket;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_BUILDINFO_H
