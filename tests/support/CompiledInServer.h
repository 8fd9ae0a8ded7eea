// A development server where the library looks for one: the compiled-in
// web API and store ports and bucket.
#ifndef TESTS_SUPPORT_COMPILEDINSERVER_H
#define TESTS_SUPPORT_COMPILEDINSERVER_H

#include "tests/support/CompiledIn.h"
#include "tests/support/DevServer.h"

namespace compiled_in {

// Starts the server (owned by the caller); null when the compiled-in
// addresses are not on 127.0.0.1, so the tests that need it can skip.
inline DevServer* StartServer() {
    if (ApiPort() == 0 || StorePort() == 0) return nullptr;
    DevServerOptions opts;
    opts.api_port = ApiPort();
    opts.store_port = StorePort();
    opts.bucket = Bucket();
    return new DevServer(opts);
}

}  // namespace compiled_in

#endif  // TESTS_SUPPORT_COMPILEDINSERVER_H
