// One folder level of the store as the library lists it (ListRemotePath),
// page by page, and the lookup of one object through it.
#ifndef HOSTKIT_LISTING_H
#define HOSTKIT_LISTING_H

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "hostkit/FinalReport.h"

namespace hostkit {

struct ListEntry {
    bool folder = false;
    long long size = 0;
    time_t modified = 0;  // an instant (converted from the listing's form); 0 for folders
    std::string name;     // relative to the listed prefix; show it through SafeText
};

// Listing times come from the library as the store's UTC wall-clock fields
// read as local standard time (mktime with tm_isdst 0). Returns the instant
// they name.
time_t ListingTimeToEpoch(time_t listing_time);

// Hands each page of a listing to `on_page` as it arrives, its entries
// converted and owned (folders and files in the order the library gives
// them), and keeps the final report. Nothing is kept between pages.
class ListPageCallback final : public IOssCallback {
public:
    using PageHandler = std::function<void(const std::vector<ListEntry>&)>;
    explicit ListPageCallback(PageHandler on_page);

    void OnProgress(int nResult, int nPercent, void* pData) override;
    const FinalReport& final_report() const { return final_; }

private:
    PageHandler on_page_;
    std::vector<ListEntry> page_;
    FinalReport final_;
};

struct ObjectLookup {
    enum class State { kFound, kMissing, kFailed } state = State::kFailed;
    long long size = 0;  // kFound
    int result = 0;      // kFailed: the listing's final result; 0 when none came
};

// Lists the folder of `key` until the object turns up (a store operation:
// run it as a job of the TransferRunner, or when no job runs).
ObjectLookup FindObject(IOssManager& manager, const std::string& key);

}  // namespace hostkit

#endif  // HOSTKIT_LISTING_H
