// The web API's JSON documents: the request body the manager builds and the
// walkers over the answers it reads. They work on text alone, so they can be
// exercised without a socket.
#ifndef NIMBRA_WEBAPIJSON_H
#define NIMBRA_WEBAPIJSON_H

#include <functional>
#include <string>

#include "Nimbra/Nimbra.h"

// Credentials answer: walks the top-level members in order, exact names;
// "AccessKeyId", "AccessKeySecret", "SecurityToken" assign their string
// value (empty when not a string), the last occurrence wins, absent members
// leave the strings as they were. False only when the text is not JSON.
bool ParseStsKeyJson(const std::string& strText, std::string& strAccessKeyId,
                     std::string& strAccessKeySecret, std::string& strSecurityToken);

// Used-space answer: the first top-level "size", truncated toward zero;
// 0 when absent or not a number. False only when the text is not JSON.
bool ParseUsedSizeJson(const std::string& strText, long long& llSize);

// One page of records: "total" updates llTotal (last occurrence wins; a
// non-number counts as 0), and each element of the last "data" array that
// has an "id" (names matched ignoring case) is built into a zeroed record
// and handed to onRecord. False only when the text is not JSON.
bool ParseUserPageJson(const std::string& strText, long long& llTotal,
                       const std::function<void(const _ST_UserInfo&)>& onRecord);

// The body of "/uploadUserInfo": the record's members in their fixed order,
// as cJSON_Print formats them. nId is not sent.
std::string BuildUserInfoJson(const _ST_UserInfo& info);

#endif  // NIMBRA_WEBAPIJSON_H
