#include "Auth.h"

#include <strings.h>

#include <cstdlib>
#include <ctime>

#include "Signer.h"
#include "TimeUtil.h"

namespace devserver {

namespace {

constexpr long long kMaxSkewSeconds = 15 * 60;

AuthResult Deny(int status, const std::string& code, const std::string& message) {
    AuthResult r;
    r.ok = false;
    r.status = status;
    r.code = code;
    r.message = message;
    return r;
}

}  // namespace

AuthResult Authenticator::Check(const AuthRequest& r, long long now_seconds) const {
    std::string authorization = HeaderValue(r.headers, "Authorization");
    bool url_signed = false;
    std::string key_id, signature, date;
    if (!authorization.empty()) {
        if (authorization.rfind("OSS ", 0) != 0)
            return Deny(400, "InvalidArgument", "Authorization header is invalid.");
        std::string rest = authorization.substr(4);
        size_t colon = rest.rfind(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
            return Deny(400, "InvalidArgument", "Authorization header is invalid.");
        key_id = rest.substr(0, colon);
        signature = rest.substr(colon + 1);
    } else {
        bool has_id = false, has_sig = false, has_expires = false;
        key_id = QueryValue(r.query, "OSSAccessKeyId", &has_id);
        signature = QueryValue(r.query, "Signature", &has_sig);
        date = QueryValue(r.query, "Expires", &has_expires);
        if (!has_id && !has_sig && !has_expires) {
            if (allow_anonymous_) return AuthResult();
            return Deny(403, "AccessDenied",
                        "AccessDenied: Anonymous access is forbidden for this operation.");
        }
        if (!has_id || !has_sig || !has_expires)
            return Deny(400, "InvalidArgument",
                        "OSSAccessKeyId, Signature and Expires are required together.");
        url_signed = true;
    }

    Credential cred;
    if (!db_.FindCredential(key_id, cred))
        return Deny(403, "InvalidAccessKeyId",
                    "The OSS Access Key Id you provided does not exist in our records.");
    std::string token = HeaderValue(r.headers, "x-oss-security-token");
    if (token.empty()) token = QueryValue(r.query, "security-token");
    if (token.empty() || token != cred.security_token)
        return Deny(403, "InvalidSecurityToken", "The security token you provided is invalid.");
    if (now_seconds >= cred.expires_at)
        return Deny(403, "SecurityTokenExpired", "The security token you provided has expired.");

    if (url_signed) {
        char* end = nullptr;
        long long expires = std::strtoll(date.c_str(), &end, 10);
        if (date.empty() || *end != '\0')
            return Deny(403, "AccessDenied", "Invalid Expires parameter.");
        if (expires < now_seconds) return Deny(403, "AccessDenied", "Request has expired.");
    } else {
        date = HeaderValue(r.headers, "x-oss-date");
        if (date.empty()) date = HeaderValue(r.headers, "Date");
        time_t when = 0;
        if (date.empty() || !ParseHttpDate(date, when))
            return Deny(403, "AccessDenied", "OSS authentication requires a valid Date.");
        long long skew = static_cast<long long>(when) - now_seconds;
        if (skew > kMaxSkewSeconds || skew < -kMaxSkewSeconds) {
            AuthResult res = Deny(403, "RequestTimeTooSkewed",
                                  "The difference between the request time and the current time "
                                  "is too large.");
            res.extra = {{"RequestTime", date}, {"ServerTime", HttpDate(now_seconds * 1000)}};
            return res;
        }
    }

    // Query keys used by URL signing are not part of the signed resource.
    KeyValues query;
    for (const auto& q : r.query)
        if (q.first != "OSSAccessKeyId" && q.first != "Signature" && q.first != "Expires")
            query.push_back(q);
    std::string sts = StringToSign(
        r.method, HeaderValue(r.headers, "Content-MD5"), HeaderValue(r.headers, "Content-Type"),
        date, CanonicalizedOssHeaders(r.headers), CanonicalizedResource(r.bucket, r.key, query));
    if (SignString(cred.access_key_secret, sts) != signature) {
        AuthResult res = Deny(403, "SignatureDoesNotMatch",
                              "The request signature we calculated does not match the signature "
                              "you provided. Check your key and signing method. StringToSign: " +
                                  sts);
        res.extra = {
            {"StringToSign", sts}, {"SignatureProvided", signature}, {"OSSAccessKeyId", key_id}};
        return res;
    }
    if (r.bucket != bucket_)
        return Deny(403, "AccessDenied", "The bucket you access does not belong to you.");
    return AuthResult();
}

}  // namespace devserver
