#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Format.h"

namespace cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string TimeLeft(const ProgressSnapshot& s) {
    if (s.paused) return s.keys ? "paused, r resumes" : "paused";
    if (s.bytes >= s.total) return "done";
    if (s.seconds_left < 0) return "--:-- left";
    return FormatDuration(s.seconds_left) + " left";
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!line.empty()) line += "  ";
        line += part;
    }
    return line;
}

}  // namespace

ProgressMode ChooseProgressMode() {
    const char* term = std::getenv("TERM");
    if (isatty(STDERR_FILENO) && !(term != nullptr && std::strcmp(term, "dumb") == 0))
        return ProgressMode::kBar;
    return ProgressMode::kLines;
}

std::string ProgressBarLine(const ProgressSnapshot& s, int columns) {
    const int percent = s.percent;
    char head[16];
    std::snprintf(head, sizeof head, "%3d%%", percent);
    const std::string rate = s.paused ? "" : FormatRate(s.rate);
    const std::string left = TimeLeft(s);
    const std::vector<std::vector<std::string>> tails = {
        {head, FormatBytes(s.bytes) + "/" + FormatBytes(s.total), rate, left},
        {head, FormatBytes(s.bytes) + "/" + FormatBytes(s.total), left},
        {head, FormatBytes(s.bytes), left},
        {head, left},
        {head}};
    const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    // "<verb> [bar] <tail>", the bar taking what is left of the line.
    const std::string tail = Join(tails[0]);
    const long width =
        std::min(40L, static_cast<long>(room) - static_cast<long>(s.verb.size() + tail.size()) - 4);
    if (width >= 10) {
        const long filled = width * percent / 100;
        return s.verb + " [" + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
               tail;
    }
    for (const auto& parts : tails) {
        const std::string line = s.verb + " " + Join(parts);
        if (line.size() <= room) return line;
    }
    return (s.verb + " " + head).substr(0, room);
}

std::string ProgressPlainLine(const ProgressSnapshot& s) {
    std::string line = s.verb + ": " + std::to_string(s.percent) + "% (" + FormatBytes(s.bytes) +
                       " of " + FormatBytes(s.total);
    if (!s.paused) line += ", " + FormatRate(s.rate);
    return line + ", " + TimeLeft(s) + ")";
}

ProgressDisplay::ProgressDisplay(std::string verb, long long total, ProgressMode mode)
    : verb_(std::move(verb)), mode_(mode), meter_(total) {}

ProgressDisplay::~ProgressDisplay() {
    Finish();
}

void ProgressDisplay::ShowKeys(bool keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_ = keys;
    if (keys) {
        std::fprintf(stderr, "keys: p pause, r resume, s stop\n");
        std::fflush(stderr);
    }
}

void ProgressDisplay::Update(long long bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    meter_.Update(bytes);
    const hostkit::ProgressReading r = meter_.Read();
    DrawLocked(r.bytes >= r.total);
}

void ProgressDisplay::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || meter_.Read().paused == paused) return;
    meter_.SetPaused(paused);
    if (mode_ == ProgressMode::kLines) {
        std::fprintf(stderr, "%s: %s\n", verb_.c_str(),
                     paused ? "paused (press r to resume, s to stop)" : "resumed");
        std::fflush(stderr);
    }
    DrawLocked(true);
}

void ProgressDisplay::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBarLocked();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (!finished_) DrawLocked(true);
}

void ProgressDisplay::Tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_ && mode_ == ProgressMode::kBar) DrawLocked(false);
}

void ProgressDisplay::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    if (mode_ == ProgressMode::kBar && bar_drawn_) {
        DrawLocked(true);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    finished_ = true;
}

double ProgressDisplay::ActiveSeconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return meter_.ActiveSeconds();
}

ProgressSnapshot ProgressDisplay::SnapshotLocked() const {
    ProgressSnapshot s;
    static_cast<hostkit::ProgressReading&>(s) = meter_.Read();
    s.verb = verb_;
    s.keys = keys_;
    return s;
}

void ProgressDisplay::DrawLocked(bool force) {
    const Clock::time_point now = Clock::now();
    const ProgressSnapshot s = SnapshotLocked();
    if (mode_ == ProgressMode::kBar) {
        if (!force && bar_drawn_ && now - last_draw_ < kRedrawInterval) return;
        last_draw_ = now;
        std::fprintf(stderr, "\r%s\x1b[K", ProgressBarLine(s, TerminalColumns()).c_str());
        std::fflush(stderr);
        bar_drawn_ = true;
    } else {
        const int tenth = s.percent / 10;
        if (tenth <= last_tenth_) return;
        last_tenth_ = tenth;
        std::fprintf(stderr, "%s\n", ProgressPlainLine(s).c_str());
        std::fflush(stderr);
    }
}

void ProgressDisplay::ClearBarLocked() {
    if (mode_ == ProgressMode::kBar && bar_drawn_ && !finished_) {
        std::fputs("\r\x1b[K", stderr);
    }
}

}  // namespace cli
