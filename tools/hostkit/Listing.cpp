#include "hostkit/Listing.h"

#include <cstring>

#include "hostkit/Names.h"

namespace hostkit {

time_t ListingTimeToEpoch(time_t listing_time) {
    // mktime with tm_isdst 0 subtracted the standard-time offset; add it back.
    tzset();
    return listing_time - timezone;
}

ListPageCallback::ListPageCallback(PageHandler on_page) : on_page_(std::move(on_page)) {}

void ListPageCallback::OnProgress(int nResult, int nPercent, void* pData) {
    if (final_.Take(nResult, nPercent) || pData == nullptr) return;
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

ObjectLookup FindObject(IOssManager& manager, const std::string& key) {
    std::string folder, name;
    SplitKey(key, folder, name);
    bool stop = false;
    ObjectLookup lookup;
    ListPageCallback callback([&](const std::vector<ListEntry>& page) {
        for (const ListEntry& entry : page) {
            if (entry.folder || entry.name != name) continue;
            lookup.state = ObjectLookup::State::kFound;
            lookup.size = entry.size;
            stop = true;  // read by the listing on this thread
            return;
        }
    });
    const bool ok = manager.ListRemotePath(folder.c_str(), &callback, &stop);
    if (lookup.state == ObjectLookup::State::kFound) return lookup;
    lookup.state = ok ? ObjectLookup::State::kMissing : ObjectLookup::State::kFailed;
    lookup.result = callback.final_report().result;
    return lookup;
}

}  // namespace hostkit
