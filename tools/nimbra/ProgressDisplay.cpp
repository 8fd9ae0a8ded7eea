#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
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
    std::string tail = std::string(head) + "  " + FormatBytes(s.bytes) + "/" +
                       FormatBytes(s.total) + "  " + (s.paused ? "" : FormatRate(s.rate) + "  ") +
                       TimeLeft(s);
    // "<verb> [bar] <tail>", the bar taking what is left of the line.
    const int room = columns - 1 - static_cast<int>(s.verb.size() + tail.size()) - 4;
    const int width = std::min(room, 40);
    if (width < 10) return s.verb + " " + tail;
    const int filled = width * percent / 100;
    return s.verb + " [" + std::string(filled, '#') + std::string(width - filled, '.') + "] " +
           tail;
}

std::string ProgressPlainLine(const ProgressSnapshot& s) {
    std::string line = s.verb + ": " + std::to_string(PercentOf(s)) + "% (" + FormatBytes(s.bytes) +
                       " of " + FormatBytes(s.total);
    if (!s.paused) line += ", " + FormatRate(s.rate);
    return line + ", " + TimeLeft(s) + ")";
}

ProgressDisplay::ProgressDisplay(std::string verb, long long total, ProgressMode mode, FILE* out)
    : verb_(std::move(verb)),
      total_(std::max(total, 0LL)),
      mode_(mode),
      out_(out),
      start_(Clock::now()) {
    samples_.push_back({start_, 0});
}

ProgressDisplay::~ProgressDisplay() {
    Finish();
}

void ProgressDisplay::ShowKeys(bool keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_ = keys;
    if (keys && mode_ != ProgressMode::kOff) {
        std::fprintf(out_, "keys: p pause, r resume, s stop (Ctrl-C stops too)\n");
        std::fflush(out_);
    }
}

void ProgressDisplay::Update(long long bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    bytes_ = std::min(std::max(bytes, bytes_), total_);
    const Clock::time_point now = Clock::now();
    samples_.push_back({now, bytes_});
    // Keep one sample older than the window as its anchor.
    while (samples_.size() > 2 &&
           std::chrono::duration<double>(now - samples_[1].time).count() > kRateWindowSeconds) {
        samples_.pop_front();
    }
    DrawLocked(bytes_ >= total_);
}

void ProgressDisplay::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || paused_ == paused) return;
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

double ProgressDisplay::ElapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

ProgressSnapshot ProgressDisplay::SnapshotLocked(Clock::time_point now) const {
    ProgressSnapshot s;
    s.verb = verb_;
    s.bytes = bytes_;
    s.total = total_;
    s.paused = paused_;
    s.keys = keys_;
    // Recent rate: from the window's anchor to now, so a stall decays it.
    const Sample& anchor = samples_.front();
    double seconds = std::chrono::duration<double>(now - anchor.time).count();
    long long moved = bytes_ - anchor.bytes;
    if (seconds < 0.2) {
        seconds = std::chrono::duration<double>(now - start_).count();
        moved = bytes_;
    }
    s.rate = seconds > 0 ? static_cast<double>(moved) / seconds : 0;
    return s;
}

void ProgressDisplay::DrawLocked(bool force) {
    const Clock::time_point now = Clock::now();
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
