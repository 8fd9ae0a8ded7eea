// Captures every LogHandlerA call made in the test process, so tests can
// assert log lines word for word. The definition of LogHandlerA lives in
// LogCapture.cpp; test executables that dlopen libNimbra export it
// (ENABLE_EXPORTS) so the library's calls land here too.
#ifndef TESTS_SUPPORT_LOGCAPTURE_H
#define TESTS_SUPPORT_LOGCAPTURE_H

#include <string>
#include <vector>

namespace testlog {

struct Entry {
    std::string function;
    std::string file;
    int line = 0;
    int level = 0;
    std::string format;
    std::string message;  // formatted
};

void Clear();
std::vector<Entry> Snapshot();
// Entries whose function name equals `function` (all when empty).
std::vector<std::string> Messages(const std::string& function = "");

}  // namespace testlog

#endif  // TESTS_SUPPORT_LOGCAPTURE_H
