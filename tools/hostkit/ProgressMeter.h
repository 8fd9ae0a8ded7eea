// Progress arithmetic for one transfer: bytes, the recent speed and the time
// left, with paused time left out of both.
#ifndef HOSTKIT_PROGRESSMETER_H
#define HOSTKIT_PROGRESSMETER_H

#include <chrono>
#include <deque>
#include <functional>

namespace hostkit {

struct ProgressReading {
    long long bytes = 0;
    long long total = 0;
    int percent = 0;            // of the bytes; 100 when there is nothing to move
    double rate = 0;            // bytes per second over the last few active seconds
    double active_seconds = 0;  // since the start, paused time left out
    double seconds_left = -1;   // at that rate; -1 when unknown (no speed yet, or paused)
    bool paused = false;
};

// Feed it the bytes of each progress notification (TransferCount) and the
// host's pauses; read it whenever the display is redrawn (the speed decays
// while nothing arrives). Not thread-safe: one thread, or the caller's lock.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;
    using NowFunction = std::function<Clock::time_point()>;

    explicit ProgressMeter(long long total, NowFunction now = Clock::now);

    void Update(long long bytes);  // never moves backwards
    void SetPaused(bool paused);
    ProgressReading Read() const;
    double ActiveSeconds() const;

private:
    struct Sample {
        double active;  // active seconds when taken
        long long bytes;
    };
    double ActiveSecondsAt(Clock::time_point now) const;

    NowFunction now_;
    long long total_;
    long long bytes_ = 0;
    bool paused_ = false;
    Clock::time_point start_;
    Clock::time_point paused_since_{};
    Clock::duration paused_total_{};
    std::deque<Sample> samples_;
};

}  // namespace hostkit

#endif  // HOSTKIT_PROGRESSMETER_H
