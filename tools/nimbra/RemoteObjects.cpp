#include "RemoteObjects.h"

#include "Callbacks.h"
#include "Log.h"
#include "Names.h"
#include "Status.h"

namespace cli {

Lookup FindObject(IOssManager& manager, const std::string& key) {
    std::string folder, name;
    SplitKey(key, folder, name);
    bool stop = false;
    Lookup lookup;
    ListCallback callback([&](const std::vector<ListEntry>& page) {
        for (const ListEntry& entry : page) {
            if (entry.folder || entry.name != name) continue;
            lookup.state = Lookup::kFound;
            lookup.size = entry.size;
            __atomic_store_n(&stop, true, __ATOMIC_SEQ_CST);
            return;
        }
    });
    ForgetLibraryLines();
    const bool ok = manager.ListRemotePath(folder.c_str(), &callback, &stop);
    if (lookup.state == Lookup::kFound) return lookup;
    if (ok) {
        lookup.state = Lookup::kMissing;
    } else {
        lookup.status = FailCall("cannot look up " + key,
                                 callback.outcome().ended ? callback.outcome().result : 0);
    }
    return lookup;
}

int FetchRecords(IOssManager& manager, const std::string& user, std::vector<_ST_UserInfo>& records,
                 bool quiet) {
    RecordCallback callback;
    ForgetLibraryLines();
    if (!manager.GetUserUploadInfo(QueryEscape(user).c_str(), &callback))
        return quiet ? kExitFailed : FailCall("cannot read the backup records of " + user);
    records = callback.records();
    return kExitOk;
}

}  // namespace cli
