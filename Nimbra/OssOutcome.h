// How each step of a store operation ends, and how an operation tells the
// host. A step (a download chunk, a listing page, an upload part, a single
// request) either lets its operation go on or ends it with the result the
// host hears with percentage 100 and the value the operation returns.
#ifndef NIMBRA_OSSOUTCOME_H
#define NIMBRA_OSSOUTCOME_H

#include "Nimbra/Nimbra.h"

struct _ST_OssOutcome {
    bool bEnded;   // false: the operation goes on with its next step
    int nResult;   // once ended: 0, 1 (network failure) or -1 (other failure)
    bool bReturn;  // once ended: the operation's return value
};

// The step succeeded; the operation goes on.
inline _ST_OssOutcome OssGoOn() {
    return {false, 0, false};
}
// The operation is complete.
inline _ST_OssOutcome OssDone() {
    return {true, 0, true};
}
// The operation failed with nResult (1 or -1).
inline _ST_OssOutcome OssFailed(int nResult) {
    return {true, nResult, false};
}
// The operation ended on a stop request, returning bReturn.
inline _ST_OssOutcome OssStopped(bool bReturn) {
    return {true, 0, bReturn};
}

// OnProgress(nResult, nPercent, pData) when a callback is given.
void Report(IOssCallback* pCallback, int nResult, int nPercent, void* pData = nullptr);
// Sends the final report (outcome.nResult, 100) and returns outcome.bReturn.
// Called after the operation's session is gone, so the host hears of the end
// only once everything is released.
bool Finish(IOssCallback* pCallback, const _ST_OssOutcome& outcome);

#endif  // NIMBRA_OSSOUTCOME_H
