// Looking things up through the library: one object in the store, a user's
// records at the web API. Failures are reported (Status.h) where they occur.
#ifndef NIMBRA_CLI_REMOTEOBJECTS_H
#define NIMBRA_CLI_REMOTEOBJECTS_H

#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace cli {

struct Lookup {
    enum State { kFound, kMissing, kFailed } state = kFailed;
    long long size = 0;
    int status = 0;  // kFailed: the exit status of the failure, already reported
};

// Lists the key's folder until the object turns up; a failure is reported
// as "cannot look up KEY: <cause>".
Lookup FindObject(IOssManager& manager, const std::string& key);

// Every record of `user` (a user name as typed; it is percent-encoded for
// the web API's query), in the web API's order: newest first. Returns
// kExitOk, or the status of the failure, which is reported unless `quiet`.
int FetchRecords(IOssManager& manager, const std::string& user, std::vector<_ST_UserInfo>& records,
                 bool quiet = false);

}  // namespace cli

#endif  // NIMBRA_CLI_REMOTEOBJECTS_H
