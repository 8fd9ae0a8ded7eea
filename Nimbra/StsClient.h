// The web API's credential endpoint: one GET of "/getStsKey" that yields an
// STS credential triple. The manager fetches credentials before every store
// operation and the multipart upload fetches them again when its token
// expires; both go through FetchStsKey with their own base URL and keep
// their own log lines.
#ifndef NIMBRA_STSCLIENT_H
#define NIMBRA_STSCLIENT_H

#include <string>

// The header line of every web API request that carries no JSON body.
extern const char g_szFormHeader[];

// One STS credential triple, as the store operations take it.
struct _ST_StsKey {
    std::string strAccessKeyId;
    std::string strAccessKeySecret;
    std::string strSecurityToken;
};

// How a credential fetch ended.
enum class EStsFetch {
    Received,       // the answer was JSON: its members are assigned
    NotJson,        // the request succeeded, the answer was no JSON
    RequestFailed,  // the request failed
    NetworkFailed,  // the request failed for a network reason
};

// GET strServerUrl + "/getStsKey" with the form header, verified against
// strCaFile unless it is empty (CWebRequest). On Received, the
// answer's "AccessKeyId", "AccessKeySecret" and "SecurityToken" members are
// assigned to the three strings (ParseStsKeyJson); a member the answer lacks
// leaves its string as it was. Nothing is logged.
EStsFetch FetchStsKey(const std::string& strServerUrl, const std::string& strCaFile,
                      std::string& strAccessKeyId, std::string& strAccessKeySecret,
                      std::string& strSecurityToken);

// True for the two outcomes whose request failed (the callers log those).
inline bool StsRequestFailed(EStsFetch eFetch) {
    return eFetch == EStsFetch::RequestFailed || eFetch == EStsFetch::NetworkFailed;
}

#endif  // NIMBRA_STSCLIENT_H
