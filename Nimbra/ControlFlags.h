// The two process-wide transfer control flags. The manager sets them; the
// download and the multipart upload poll them (CheckPauseAndStop) and clear
// them when a stop ends a transfer. Plain lock-free booleans: no ordering
// against other data is needed. A transfer reads them only at its polls,
// never while a range or part is under way.
#ifndef NIMBRA_CONTROLFLAGS_H
#define NIMBRA_CONTROLFLAGS_H

#include <atomic>

extern std::atomic<bool> gbIsNeedPause;   // the running transfer waits
extern std::atomic<bool> gbIsNeedStopEx;  // the running, or else the next, transfer stops

static_assert(std::atomic<bool>::is_always_lock_free, "control flags must be lock-free");

// Ends a transfer on a stop: clears the pause and the stop flag.
void ConsumeStop();

#endif  // NIMBRA_CONTROLFLAGS_H
