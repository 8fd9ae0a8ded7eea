// Transfer progress on stderr: a bar redrawn in place on a terminal, plain
// lines at every tenth otherwise.
#ifndef NIMBRA_CLI_PROGRESSDISPLAY_H
#define NIMBRA_CLI_PROGRESSDISPLAY_H

#include <mutex>
#include <string>

#include "hostkit/ProgressMeter.h"

namespace cli {

enum class ProgressMode { kBar, kLines };

// kBar when stderr is a terminal (and TERM is not "dumb"), else kLines.
ProgressMode ChooseProgressMode();

struct ProgressSnapshot : hostkit::ProgressReading {
    std::string verb;   // "upload", "download"
    bool keys = false;  // the p/r/s keys work (named while paused)
};

// One bar line shorter than `columns`, e.g.
// "upload [#####.....]  52%  33.0 MiB/64.0 MiB  120.3 MiB/s  0:01 left";
// where it does not fit, the bar goes first, then the speed, the total, the
// time left.
std::string ProgressBarLine(const ProgressSnapshot& s, int columns);
// "upload: 52% (33.0 MiB of 64.0 MiB, 120.3 MiB/s, 0:01 left)".
std::string ProgressPlainLine(const ProgressSnapshot& s);

// Thread-safe: the transfer's notifications update it on the runner's
// thread, the control thread marks pauses and ticks it so the bar keeps
// moving. Speed and time left count only the time the transfer was not
// paused (hostkit::ProgressMeter).
class ProgressDisplay {
public:
    using Clock = hostkit::ProgressMeter::Clock;

    ProgressDisplay(std::string verb, long long total, ProgressMode mode);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void ShowKeys(bool keys);
    void Update(long long bytes);
    void SetPaused(bool paused);
    void Note(const std::string& text);  // a message line above the bar
    void Tick();                         // periodic redraw
    void Finish();                       // ends the bar line; idempotent

    // Seconds since the start, paused time left out.
    double ActiveSeconds() const;

private:
    ProgressSnapshot SnapshotLocked() const;
    void DrawLocked(bool force);
    void ClearBarLocked();

    mutable std::mutex mutex_;
    std::string verb_;
    ProgressMode mode_;
    hostkit::ProgressMeter meter_;
    bool keys_ = false;
    bool finished_ = false;
    bool bar_drawn_ = false;
    int last_tenth_ = -1;
    Clock::time_point last_draw_{};
};

}  // namespace cli

#endif  // NIMBRA_CLI_PROGRESSDISPLAY_H
