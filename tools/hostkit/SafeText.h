// Texts that came from a server (keys, record fields, error messages), made
// safe to show.
#ifndef HOSTKIT_SAFETEXT_H
#define HOSTKIT_SAFETEXT_H

#include <string>

namespace hostkit {

// `text` as it can be shown safely: C0 and C1 control characters, DEL and
// bytes that are not UTF-8 become \xNN (C1 ones \u0080 to \u009F), the
// direction overrides and isolates \u202A to \u202E and \u2066 to \u2069,
// and a backslash \\. Otherwise a name from a server could clear a terminal,
// retitle it, or reorder what a label shows.
std::string SafeText(const std::string& text);

}  // namespace hostkit

#endif  // HOSTKIT_SAFETEXT_H
