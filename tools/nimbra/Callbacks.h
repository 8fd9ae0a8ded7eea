// The IOssCallback implementations: transfer progress, listing pages and
// backup records, each remembering how its operation ended.
#ifndef NIMBRA_CLI_CALLBACKS_H
#define NIMBRA_CLI_CALLBACKS_H

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace cli {

class ProgressDisplay;

// The last notification of an operation (percentage 100), if one came.
struct Outcome {
    bool ended = false;
    int result = 0;  // 0 ended without failure, 1 network failure, -1 other failure
};

// Turns upload or download percentages into bytes for the display. The
// library uploads in parts of 10 MiB and downloads in ranges of 1 MiB and
// reports once per part or range, so counting reports gives exact bytes.
class TransferCallback final : public IOssCallback {
public:
    enum class Direction { kUpload, kDownload };
    TransferCallback(Direction direction, long long total, ProgressDisplay* display);

    void OnProgress(int nResult, int nPercent, void* pData) override;

    const Outcome& outcome() const { return outcome_; }
    long long bytes() const { return bytes_; }

    static constexpr long long kUploadPartSize = 10LL * 1024 * 1024;
    static constexpr long long kDownloadRangeSize = 1024LL * 1024;

private:
    Direction direction_;
    long long total_;
    ProgressDisplay* display_;
    long long reports_ = 0;
    long long bytes_ = 0;
    Outcome outcome_;
};

struct ListEntry {
    bool folder = false;
    long long size = 0;
    time_t modified = 0;  // an instant (already converted from the listing's form)
    std::string name;
};

// Hands each page of a listing to `on_page` as it arrives, its entries
// converted (folders and files in the order the library gives them), and
// remembers how the listing ended. Nothing is kept between pages.
class ListCallback final : public IOssCallback {
public:
    using PageHandler = std::function<void(const std::vector<ListEntry>&)>;
    explicit ListCallback(PageHandler on_page);

    void OnProgress(int nResult, int nPercent, void* pData) override;

    const Outcome& outcome() const { return outcome_; }

private:
    PageHandler on_page_;
    std::vector<ListEntry> page_;
    Outcome outcome_;
};

// Copies each delivered backup record.
class RecordCallback final : public IOssCallback {
public:
    void OnProgress(int nResult, int nPercent, void* pData) override;
    const std::vector<_ST_UserInfo>& records() const { return records_; }

private:
    std::vector<_ST_UserInfo> records_;
};

}  // namespace cli

#endif  // NIMBRA_CLI_CALLBACKS_H
