// The library's log lines as a host receives them: libNimbra imports one
// function, LogHandlerA (Contracts/LogHandler.h), which the host's executable
// exports (ENABLE_EXPORTS). The kit defines it (LibraryLog.cpp, linked in
// once a host calls SetLogReceiver): it reads each call into a LogCall and
// hands it to the host's receiver, which sends the line where it wants it;
// RecentLines keeps the latest ones, whose causes ExplainFailure
// (Diagnosis.h) reads.
#ifndef HOSTKIT_LIBRARYLOG_H
#define HOSTKIT_LIBRARYLOG_H

#include <cstdarg>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/Diagnosis.h"

namespace hostkit {

// One call of LogHandlerA, its message formatted (at most 4 KiB, line ends
// dropped) and the time it came.
struct LogCall {
    long long millis = 0;  // since the epoch
    std::string function, file;
    int line = 0, level = 0;
    std::string message;
};

LogCall ReadLogCall(const char* function, const char* file, int line, int level, const char* format,
                    va_list args);

// Where LogHandlerA sends each call, on the thread the library logs from;
// null drops them. Set it before the first library call.
using LogReceiver = void (*)(const LogCall& call);
void SetLogReceiver(LogReceiver receiver);

// "<local time> [L<level>] <function> <file>:<line> <message>", the time as
// "2024-12-05 15:40:02.123".
std::string LogCallText(const LogCall& call);

// The latest lines (at most a dozen) since Clear, oldest first; any thread.
class RecentLines {
public:
    void Add(const LogCall& call);
    std::vector<LibraryLine> Lines() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::deque<LibraryLine> lines_;
};

}  // namespace hostkit

#endif  // HOSTKIT_LIBRARYLOG_H
