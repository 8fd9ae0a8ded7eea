#include "RemoteObjects.h"

#include "Log.h"
#include "Status.h"
#include "hostkit/Records.h"

namespace cli {

Lookup FindObject(IOssManager& manager, const std::string& key) {
    ForgetLibraryLines();
    Lookup lookup;
    static_cast<hostkit::ObjectLookup&>(lookup) = hostkit::FindObject(manager, key);
    if (lookup.state == Lookup::State::kFailed)
        lookup.status = FailCall("cannot look up " + key, lookup.result);
    return lookup;
}

int FetchRecords(IOssManager& manager, const std::string& user, std::vector<_ST_UserInfo>& records,
                 bool quiet) {
    ForgetLibraryLines();
    if (!hostkit::ReadRecords(manager, user, records))
        return quiet ? kExitFailed : FailCall("cannot read the backup records of " + user);
    return kExitOk;
}

}  // namespace cli
