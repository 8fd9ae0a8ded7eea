// Verifies version 1 signatures of store requests against the credentials the
// web API issued: key id, security token, expiry, clock skew, signature, and
// the one bucket a credential is good for.
#ifndef TOOLS_DEVSERVER_AUTH_H
#define TOOLS_DEVSERVER_AUTH_H

#include <string>
#include <utility>
#include <vector>

#include "Database.h"
#include "RequestText.h"

namespace devserver {

struct AuthRequest {
    std::string method;
    KeyValues headers;  // as received
    std::string bucket;
    std::string key;
    KeyValues query;  // decoded, in order
};

struct AuthResult {
    bool ok = true;
    int status = 200;
    std::string code, message;
    KeyValues extra;  // additional elements of the error document
};

class Authenticator {
public:
    Authenticator(Database& db, std::string bucket, bool allow_anonymous)
        : db_(db), bucket_(std::move(bucket)), allow_anonymous_(allow_anonymous) {}

    AuthResult Check(const AuthRequest& r, long long now_seconds) const;
    // Whether a verified request may also touch `bucket` (copy sources).
    bool MayAccess(const std::string& bucket) const {
        return allow_anonymous_ || bucket == bucket_;
    }

private:
    Database& db_;
    std::string bucket_;
    bool allow_anonymous_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_AUTH_H
