// The logging function libNimbra imports (LogHandlerA, the kit's: see
// hostkit/LibraryLog.h) is exported by this executable, so it takes
// precedence over the stand-in logging library: the library's lines go to a
// log file, or to stderr with --verbose.
#ifndef NIMBRA_CLI_LOG_H
#define NIMBRA_CLI_LOG_H

#include <string>
#include <vector>

#include "hostkit/Diagnosis.h"

namespace cli {

// Chooses the destination before the first library call: stderr when
// `verbose`; otherwise $NIMBRA_LOG ("-" means stderr), else
// $XDG_CACHE_HOME/nimbra/nimbra.log or ~/.cache/nimbra/nimbra.log.
// The file is opened (appending) on the first line.
void ConfigureLog(bool verbose);

// "stderr" or the path of the log file.
std::string LogLocation();

// The library's latest lines since ForgetLibraryLines (at most a dozen),
// oldest first: failure messages read the cause from them.
std::vector<hostkit::LibraryLine> RecentLibraryLines();
void ForgetLibraryLines();

// While alive, whatever is written to file descriptor 2 goes to the log file
// instead (libcurl's trace of the library's POST request, for one); does
// nothing when the log is stderr.
class StderrToLog {
public:
    StderrToLog();
    ~StderrToLog();
    StderrToLog(const StderrToLog&) = delete;
    StderrToLog& operator=(const StderrToLog&) = delete;

private:
    int saved_ = -1;
};

}  // namespace cli

#endif  // NIMBRA_CLI_LOG_H
