#include "RemoteObjects.h"

#include "Callbacks.h"
#include "Status.h"

namespace cli {

Lookup FindObject(IOssManager& manager, const std::string& key) {
    std::string folder, name;
    SplitKey(key, folder, name);
    bool stop = false;
    ListCallback callback(&stop, name);
    const bool ok = manager.ListRemotePath(folder.c_str(), &callback, &stop);
    Lookup lookup;
    if (const ListEntry* entry = callback.found()) {
        lookup.state = Lookup::kFound;
        lookup.size = entry->size;
    } else if (ok) {
        lookup.state = Lookup::kMissing;
    } else {
        lookup.state = Lookup::kFailed;
        lookup.credentials = !callback.outcome().ended;
        lookup.result = callback.outcome().ended ? callback.outcome().result : -1;
    }
    return lookup;
}

int FailCredentials(const std::string& what) {
    // The library counts only some transport errors (not a refused
    // connection) as network failures; the rest end here too.
    return Fail(kExitFailed, what + ": no credentials from the web API", NetworkHint());
}

}  // namespace cli
