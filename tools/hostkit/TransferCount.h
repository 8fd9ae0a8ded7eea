// What an upload's or a download's notifications say: the bytes moved, and
// how it ended. The library uploads in parts of 10 MiB and downloads in
// ranges of 1 MiB and reports once per part or range, so counting reports
// gives exact bytes where its percentages are rounded.
#ifndef HOSTKIT_TRANSFERCOUNT_H
#define HOSTKIT_TRANSFERCOUNT_H

#include "Nimbra/OssLimits.h"
#include "hostkit/FinalReport.h"

namespace hostkit {

enum class Direction { kUpload, kDownload };

// How a transfer call ended, from what it returned and reported.
enum class TransferEnd {
    kCompleted,  // every byte moved
    kStopped,    // a poll found the stop flag set, which the library then cleared
    kFailed,     // the final report's result (1 or -1) says why; or no final report came
};

class TransferCount {
public:
    // `total`: the file's size (upload), the object's size (download).
    TransferCount(Direction direction, long long total);

    // One notification. True when it was progress (bytes() may have moved),
    // false for the final one.
    bool Take(int nResult, int nPercent);

    long long bytes() const { return bytes_; }
    const FinalReport& final_report() const { return final_; }

    // How the call ended, given what it returned. A stopped download returns
    // true like a completed one: it is told apart by its last range, which
    // reports 95 only when it ends the object. A download that reported no
    // range completed when `total` is 0 (no range, no poll either) and was
    // stopped at its first poll otherwise.
    TransferEnd End(bool returned) const;

    // Stopped at the first poll, before any part or range moved: how a stop
    // left pending from an earlier transfer shows.
    bool StoppedAtStart(bool returned) const {
        return End(returned) == TransferEnd::kStopped && steps_ == 0;
    }

private:
    Direction direction_;
    long long total_;
    long long reports_ = 0;
    long long steps_ = 0;
    long long bytes_ = 0;
    int last_percent_ = -1;
    FinalReport final_;
};

}  // namespace hostkit

#endif  // HOSTKIT_TRANSFERCOUNT_H
