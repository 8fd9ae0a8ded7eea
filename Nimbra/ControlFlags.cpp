#include "Nimbra/ControlFlags.h"

#include <chrono>

std::atomic<bool> gbIsNeedPause{false};
std::atomic<bool> gbIsNeedStopEx{false};

namespace {

using Clock = std::chrono::steady_clock;

// Steady-clock milliseconds of the RequestStop that set the stop flag.
std::atomic<long long> g_llStopRequestedMs{0};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

}  // namespace

void RequestStop() {
    // A stop already pending keeps its time: asking again does not defer it.
    if (!gbIsNeedStopEx.load()) g_llStopRequestedMs.store(NowMs());
    gbIsNeedStopEx.store(true);
}

bool StopIsOverdue() {
    return gbIsNeedStopEx.load() && NowMs() - g_llStopRequestedMs.load() >= kStopGraceMs;
}

void ConsumeStop() {
    gbIsNeedPause = false;
    gbIsNeedStopEx = false;
}
