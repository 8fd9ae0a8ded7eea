// The two process-wide transfer control flags. The manager sets them; the
// download and the multipart upload poll them (CheckPauseAndStop) and clear
// them when a stop ends a transfer. Plain lock-free booleans; the time of a
// stop is kept beside its flag, so that a range or part under way can be
// abandoned when it outlasts the stop by too much.
#ifndef NIMBRA_CONTROLFLAGS_H
#define NIMBRA_CONTROLFLAGS_H

#include <atomic>

extern std::atomic<bool> gbIsNeedPause;   // the running transfer waits
extern std::atomic<bool> gbIsNeedStopEx;  // the running, or else the next, transfer stops

static_assert(std::atomic<bool>::is_always_lock_free, "control flags must be lock-free");

// How long a range or part under way may still run after a stop before it
// is abandoned. The store layer's hook looks about once a second while no
// bytes flow, so a stop ends a transfer within two seconds.
constexpr long long kStopGraceMs = 1000;

// Sets the stop flag, noting when it was first set.
void RequestStop();
// True once the stop flag has been set for kStopGraceMs or longer (at once
// when it was set without RequestStop).
bool StopIsOverdue();

// Ends a transfer on a stop: clears the pause and the stop flag.
void ConsumeStop();

#endif  // NIMBRA_CONTROLFLAGS_H
