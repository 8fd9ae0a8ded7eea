// Looking one object up in the store.
#ifndef NIMBRA_CLI_REMOTEOBJECTS_H
#define NIMBRA_CLI_REMOTEOBJECTS_H

#include <string>

#include "Names.h"
#include "Nimbra/Nimbra.h"

namespace cli {

struct Lookup {
    enum State { kFound, kMissing, kFailed } state = kFailed;
    long long size = 0;
    int result = -1;           // when kFailed: 1 network, -1 other
    bool credentials = false;  // when kFailed: no notification, the credentials were refused
};

// Lists the key's folder until the object turns up.
Lookup FindObject(IOssManager& manager, const std::string& key);

// Reports a failed library call that sent no final notification: the
// credentials request failed (refused, answered with an error, not JSON).
int FailCredentials(const std::string& what);

}  // namespace cli

#endif  // NIMBRA_CLI_REMOTEOBJECTS_H
