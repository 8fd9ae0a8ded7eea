#include "hostkit/TransferCount.h"

#include <algorithm>

namespace hostkit {

TransferCount::TransferCount(Direction direction, long long total)
    : direction_(direction), total_(std::max(total, 0LL)) {}

bool TransferCount::Take(int nResult, int nPercent) {
    if (final_.Take(nResult, nPercent)) return false;
    ++reports_;
    last_percent_ = nPercent;
    if (direction_ == Direction::kUpload) {
        // First report: the upload was initiated; then one per part, then 95
        // once every part is stored.
        if (nPercent == 95 && reports_ > 1) {
            bytes_ = total_;
        } else if (reports_ > 1) {
            ++steps_;
            bytes_ = std::min(total_, steps_ * kOssPartSize);
        }
    } else {
        ++steps_;
        bytes_ = std::min(total_, steps_ * kOssRangeSize);
    }
    return true;
}

TransferEnd TransferCount::End(bool returned) const {
    if (!final_.came || final_.result != 0) return TransferEnd::kFailed;
    if (direction_ == Direction::kUpload)
        return returned ? TransferEnd::kCompleted : TransferEnd::kStopped;
    if (!returned) return TransferEnd::kFailed;
    if (steps_ == 0) return total_ == 0 ? TransferEnd::kCompleted : TransferEnd::kStopped;
    return last_percent_ == 95 ? TransferEnd::kCompleted : TransferEnd::kStopped;
}

}  // namespace hostkit
