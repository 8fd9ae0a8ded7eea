#include "Nimbra/StsClient.h"

#include "Nimbra/WebApiJson.h"
#include "Nimbra/WebRequest.h"

const char g_szFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

EStsFetch FetchStsKey(const std::string& strServerUrl, const std::string& strCaFile,
                      std::string& strAccessKeyId, std::string& strAccessKeySecret,
                      std::string& strSecurityToken) {
    CWebRequest request(strCaFile);
    request.AddHeader(g_szFormHeader);
    if (!request.DoGet(strServerUrl + "/getStsKey"))
        return request.IsNetError() ? EStsFetch::NetworkFailed : EStsFetch::RequestFailed;
    if (!ParseStsKeyJson(request.GetResultText(), strAccessKeyId, strAccessKeySecret,
                         strSecurityToken))
        return EStsFetch::NotJson;
    return EStsFetch::Received;
}
