#include "hostkit/ProgressMeter.h"

#include <algorithm>

namespace hostkit {
namespace {

constexpr double kRateWindowSeconds = 3.0;
// Below this much active time since the window's anchor, the speed is taken
// over the whole transfer instead.
constexpr double kShortestWindow = 0.2;

}  // namespace

ProgressMeter::ProgressMeter(long long total, NowFunction now)
    : now_(std::move(now)), total_(std::max(total, 0LL)), start_(now_()) {
    samples_.push_back({0.0, 0});
}

void ProgressMeter::Update(long long bytes) {
    bytes_ = std::min(std::max(bytes, bytes_), total_);
    const double active = ActiveSecondsAt(now_());
    samples_.push_back({active, bytes_});
    // Keep one sample older than the window as its anchor.
    while (samples_.size() > 2 && active - samples_[1].active > kRateWindowSeconds) {
        samples_.pop_front();
    }
}

void ProgressMeter::SetPaused(bool paused) {
    if (paused_ == paused) return;
    const Clock::time_point now = now_();
    if (paused) {
        paused_since_ = now;
    } else {
        paused_total_ += now - paused_since_;
    }
    paused_ = paused;
}

double ProgressMeter::ActiveSeconds() const {
    return ActiveSecondsAt(now_());
}

double ProgressMeter::ActiveSecondsAt(Clock::time_point now) const {
    Clock::duration paused = paused_total_;
    if (paused_) paused += now - paused_since_;
    return std::chrono::duration<double>(now - start_ - paused).count();
}

ProgressReading ProgressMeter::Read() const {
    ProgressReading r;
    r.bytes = bytes_;
    r.total = total_;
    r.percent = total_ > 0 ? static_cast<int>(bytes_ * 100 / total_) : 100;
    r.paused = paused_;
    // Recent speed: from the window's anchor to now, so a stall decays it
    // (a pause does not: its time is not counted).
    r.active_seconds = ActiveSecondsAt(now_());
    const Sample& anchor = samples_.front();
    double seconds = r.active_seconds - anchor.active;
    long long moved = bytes_ - anchor.bytes;
    if (seconds < kShortestWindow) {
        seconds = r.active_seconds;
        moved = bytes_;
    }
    r.rate = seconds > 0 ? static_cast<double>(moved) / seconds : 0;
    if (bytes_ >= total_) {
        r.seconds_left = 0;
    } else if (!paused_ && r.rate > 0) {
        r.seconds_left = static_cast<double>(total_ - bytes_) / r.rate;
    }
    return r;
}

}  // namespace hostkit
