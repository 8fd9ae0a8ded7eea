#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Format.h"

namespace cli {
namespace {

constexpr double kRateWindowSeconds = 3.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

int PercentOf(const ProgressSnapshot& s) {
    if (s.total <= 0) return 100;
    const long long bytes = std::min(std::max(s.bytes, 0LL), s.total);
    return static_cast<int>(bytes * 100 / s.total);
}

std::string TimeLeft(const ProgressSnapshot& s) {
    if (s.paused) return s.keys ? "paused, r resumes" : "paused";
    if (s.bytes >= s.total) return "done";
    if (s.rate <= 0) return "--:-- left";
    return FormatDuration(static_cast<double>(s.total - s.bytes) / s.rate) + " left";
}

int TerminalColumns(FILE* out) {
    winsize size{};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
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
    const int percent = PercentOf(s);
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
    std::string line = s.verb + ": " + std::to_string(PercentOf(s)) + "% (" + FormatBytes(s.bytes) +
                       " of " + FormatBytes(s.total);
    if (!s.paused) line += ", " + FormatRate(s.rate);
    return line + ", " + TimeLeft(s) + ")";
}

ProgressDisplay::ProgressDisplay(std::string verb, long long total, ProgressMode mode, FILE* out,
                                 NowFunction now)
    : verb_(std::move(verb)),
      total_(std::max(total, 0LL)),
      mode_(mode),
      out_(out),
      now_(std::move(now)),
      start_(now_()) {
    samples_.push_back({0.0, 0});
}

ProgressDisplay::~ProgressDisplay() {
    Finish();
}

void ProgressDisplay::ShowKeys(bool keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_ = keys;
    if (keys && mode_ != ProgressMode::kOff) {
        std::fprintf(out_, "keys: p pause, r resume, s stop\n");
        std::fflush(out_);
    }
}

void ProgressDisplay::Update(long long bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    bytes_ = std::min(std::max(bytes, bytes_), total_);
    const double active = ActiveSecondsLocked(now_());
    samples_.push_back({active, bytes_});
    // Keep one sample older than the window as its anchor.
    while (samples_.size() > 2 && active - samples_[1].active > kRateWindowSeconds) {
        samples_.pop_front();
    }
    DrawLocked(bytes_ >= total_);
}

void ProgressDisplay::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || paused_ == paused) return;
    const Clock::time_point now = now_();
    if (paused) {
        paused_since_ = now;
    } else {
        paused_total_ += now - paused_since_;
    }
    paused_ = paused;
    if (mode_ == ProgressMode::kLines) {
        std::fprintf(out_, "%s: %s\n", verb_.c_str(),
                     paused ? "paused (press r to resume, s to stop)" : "resumed");
        std::fflush(out_);
    }
    DrawLocked(true);
}

void ProgressDisplay::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == ProgressMode::kOff) return;
    ClearBarLocked();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
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
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    finished_ = true;
}

double ProgressDisplay::ActiveSeconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ActiveSecondsLocked(now_());
}

ProgressSnapshot ProgressDisplay::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return SnapshotLocked(now_());
}

double ProgressDisplay::ActiveSecondsLocked(Clock::time_point now) const {
    Clock::duration paused = paused_total_;
    if (paused_) paused += now - paused_since_;
    return std::chrono::duration<double>(now - start_ - paused).count();
}

ProgressSnapshot ProgressDisplay::SnapshotLocked(Clock::time_point now) const {
    ProgressSnapshot s;
    s.verb = verb_;
    s.bytes = bytes_;
    s.total = total_;
    s.paused = paused_;
    s.keys = keys_;
    // Recent rate: from the window's anchor to now, so a stall decays it
    // (a pause does not: its time is not counted).
    const double active = ActiveSecondsLocked(now);
    const Sample& anchor = samples_.front();
    double seconds = active - anchor.active;
    long long moved = bytes_ - anchor.bytes;
    if (seconds < 0.2) {
        seconds = active;
        moved = bytes_;
    }
    s.rate = seconds > 0 ? static_cast<double>(moved) / seconds : 0;
    return s;
}

void ProgressDisplay::DrawLocked(bool force) {
    const Clock::time_point now = now_();
    const ProgressSnapshot s = SnapshotLocked(now);
    if (mode_ == ProgressMode::kBar) {
        if (!force && bar_drawn_ && now - last_draw_ < kRedrawInterval) return;
        last_draw_ = now;
        std::fprintf(out_, "\r%s\x1b[K", ProgressBarLine(s, TerminalColumns(out_)).c_str());
        std::fflush(out_);
        bar_drawn_ = true;
    } else if (mode_ == ProgressMode::kLines) {
        const int tenth = PercentOf(s) / 10;
        if (tenth <= last_tenth_) return;
        last_tenth_ = tenth;
        std::fprintf(out_, "%s\n", ProgressPlainLine(s).c_str());
        std::fflush(out_);
    }
}

void ProgressDisplay::ClearBarLocked() {
    if (mode_ == ProgressMode::kBar && bar_drawn_ && !finished_) {
        std::fputs("\r\x1b[K", out_);
    }
}

}  // namespace cli
