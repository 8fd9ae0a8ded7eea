#include "Callbacks.h"

#include <algorithm>
#include <cstring>

#include "Format.h"
#include "ProgressDisplay.h"

namespace cli {

TransferCallback::TransferCallback(Direction direction, long long total, ProgressDisplay* display)
    : direction_(direction), total_(total), display_(display) {}

void TransferCallback::OnProgress(int nResult, int nPercent, void*) {
    if (nPercent >= 100) {
        outcome_.ended = true;
        outcome_.result = nResult;
        // A complete transfer has moved every byte even when it reported no
        // part or range (an empty file).
        if (nResult == 0 && bytes_ >= total_) bytes_ = total_;
        return;
    }
    ++reports_;
    if (direction_ == Direction::kUpload) {
        // First report: the upload was initiated; then one per part, then
        // 95 once every part is stored.
        if (nPercent == 95) {
            bytes_ = total_;
        } else {
            bytes_ = std::min(total_, (reports_ - 1) * kUploadPartSize);
        }
    } else {
        bytes_ = std::min(total_, reports_ * kDownloadRangeSize);
    }
    if (display_ != nullptr) display_->Update(bytes_);
}

ListCallback::ListCallback(PageHandler on_page) : on_page_(std::move(on_page)) {}

void ListCallback::OnProgress(int nResult, int nPercent, void* pData) {
    if (nPercent >= 100) {
        outcome_.ended = true;
        outcome_.result = nResult;
        return;
    }
    if (pData == nullptr) return;
    const auto* page = static_cast<const std::vector<_ST_RemotePathInfo>*>(pData);
    page_.clear();
    for (const _ST_RemotePathInfo& info : *page) {
        ListEntry entry;
        entry.folder = info.bIsDir;
        entry.size = info.llFileSize;
        entry.modified = info.bIsDir ? 0 : ListingTimeToEpoch(info.tLastModified);
        entry.name.assign(info.szPathName, strnlen(info.szPathName, sizeof info.szPathName));
        page_.push_back(std::move(entry));
    }
    on_page_(page_);
}

void RecordCallback::OnProgress(int, int, void* pData) {
    if (pData == nullptr) return;
    records_.push_back(*static_cast<const _ST_UserInfo*>(pData));
}

}  // namespace cli
