// Text forms of sizes, rates, durations and times for the command output:
// the kit's, which the other hosts show too.
#ifndef NIMBRA_CLI_FORMAT_H
#define NIMBRA_CLI_FORMAT_H

#include "hostkit/Format.h"

namespace cli {

using hostkit::FormatBytes;
using hostkit::FormatDuration;
using hostkit::FormatIsoLocal;
using hostkit::FormatLocalTime;
using hostkit::FormatRate;

}  // namespace cli

#endif  // NIMBRA_CLI_FORMAT_H
