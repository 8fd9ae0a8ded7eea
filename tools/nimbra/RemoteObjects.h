// Looking things up through the library: one object in the store, a user's
// records at the web API (the kit's FindObject and ReadRecords), with
// failures reported (Status.h) where they occur.
#ifndef NIMBRA_CLI_REMOTEOBJECTS_H
#define NIMBRA_CLI_REMOTEOBJECTS_H

#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "hostkit/Listing.h"

namespace cli {

struct Lookup : hostkit::ObjectLookup {
    int status = 0;  // kFailed: the exit status of the failure, already reported
};

// A failure is reported as "cannot look up KEY: <cause>".
Lookup FindObject(IOssManager& manager, const std::string& key);

// Every record of `user` (a user name as typed), newest first. Returns
// kExitOk, or the status of the failure, which is reported unless `quiet`.
int FetchRecords(IOssManager& manager, const std::string& user, std::vector<_ST_UserInfo>& records,
                 bool quiet = false);

}  // namespace cli

#endif  // NIMBRA_CLI_REMOTEOBJECTS_H
