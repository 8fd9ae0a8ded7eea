#include "Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "hostkit/LibraryLog.h"

namespace cli {
namespace {

std::mutex g_log_mutex;
std::string g_log_path;  // empty: stderr
FILE* g_log_file = nullptr;
bool g_log_open_failed = false;
hostkit::RecentLines g_recent;

std::string DefaultLogPath() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    std::string dir;
    if (cache != nullptr && cache[0] == '/') {
        dir = cache;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') return "";
        dir = std::string(home) + "/.cache";
    }
    return dir + "/nimbra/nimbra.log";
}

// mkdir -p for the directories above `path`.
void MakeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        ::mkdir(path.substr(0, pos).c_str(), 0700);
    }
}

// The stream for one line; falls back to stderr when the file cannot be opened.
FILE* Stream() {
    if (g_log_path.empty() || g_log_open_failed) return stderr;
    if (g_log_file == nullptr) {
        MakeParents(g_log_path);
        g_log_file = std::fopen(g_log_path.c_str(), "a");
        if (g_log_file == nullptr) {
            g_log_open_failed = true;
            std::fprintf(stderr, "nimbra: cannot open the log file %s; logging to stderr\n",
                         g_log_path.c_str());
            return stderr;
        }
    }
    return g_log_file;
}

// One line per call: "<local time> [L<level>] <function> <file>:<line> <message>".
void WriteLibraryLine(const hostkit::LogCall& call) {
    g_recent.Add(call);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    FILE* out = Stream();
    std::fprintf(out, "%s\n", hostkit::LogCallText(call).c_str());
    std::fflush(out);
}

}  // namespace

void ConfigureLog(bool verbose) {
    hostkit::SetLogReceiver(&WriteLibraryLine);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log_path.clear();
    if (verbose) return;
    const char* env = std::getenv("NIMBRA_LOG");
    if (env != nullptr && env[0] != '\0') {
        if (std::string(env) != "-") g_log_path = env;
        return;
    }
    g_log_path = DefaultLogPath();
}

std::string LogLocation() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log_path.empty() || g_log_open_failed ? "stderr" : g_log_path;
}

std::vector<hostkit::LibraryLine> RecentLibraryLines() {
    return g_recent.Lines();
}

void ForgetLibraryLines() {
    g_recent.Clear();
}

StderrToLog::StderrToLog() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_log_path.empty() || g_log_open_failed) return;
    MakeParents(g_log_path);
    const int fd = ::open(g_log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    if (saved_ >= 0) ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

StderrToLog::~StderrToLog() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
}

}  // namespace cli
