// Object listing: one level below a prefix, 500 keys a page, objects as file
// entries and common prefixes as folder entries, each page handed to the
// host before the next is requested. The host may stop it through its own
// bool.
#include <cstring>
#include <string>
#include <vector>

#include "Nimbra/OssContext.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"

namespace {

const int kPageKeys = 500;

// The host's stop request, read afresh each time; a null pointer never stops.
bool StopRequested(const bool* pbStop) {
    return pbStop && __atomic_load_n(pbStop, __ATOMIC_RELAXED);
}

std::string Text(const aos_string_t& str) {
    return str.data && str.len > 0 ? std::string(str.data, static_cast<size_t>(str.len))
                                   : std::string();
}

bool Equals(const aos_string_t& str, const char* szText) {
    const size_t nLen = strlen(szText);
    return static_cast<size_t>(str.len) == nLen &&
           (nLen == 0 || memcmp(str.data, szText, nLen) == 0);
}

enum class EPage { Done, More, Stopped };

// Requests one page into a child pool, builds its entries and hands them to
// the host. Moves the marker on (a copy in the operation's pool).
EPage ListPage(const COssSession& session, const aos_string_t& bucket,
               oss_list_object_params_t* pParams, const std::string& strPrefix,
               IOssCallback* pCallback, const bool* pbStop, int& nResult) {
    COssChildPool page(session);
    if (!page.IsValid()) {
        nResult = -1;
        return EPage::Done;
    }
    aos_status_t* pStatus = oss_list_object(page.Options(), &bucket, pParams, nullptr);
    if (!StatusOk(pStatus)) {
        nResult = TransferResultOf(StatusCode(pStatus));
        return EPage::Done;
    }

    std::vector<_ST_RemotePathInfo> vecPage;
    oss_list_object_content_t* pObject;
    aos_list_for_each_entry(oss_list_object_content_t, pObject, &pParams->object_list, node) {
        if (StopRequested(pbStop)) return EPage::Stopped;
        // The folder's own marker object gives no entry.
        if (Equals(pObject->key, strPrefix.c_str())) continue;
        vecPage.push_back(ListFileEntry(strPrefix, Text(pObject->key), Text(pObject->size),
                                        Text(pObject->last_modified)));
    }
    oss_list_object_common_prefix_t* pCommon;
    aos_list_for_each_entry(oss_list_object_common_prefix_t, pCommon, &pParams->common_prefix_list,
                            node) {
        if (StopRequested(pbStop)) return EPage::Stopped;
        _ST_RemotePathInfo info;
        if (ListFolderEntry(strPrefix, Text(pCommon->prefix), info)) vecPage.push_back(info);
    }
    Report(pCallback, 0, 0, &vecPage);

    const aos_string_t previous = pParams->marker;
    pParams->marker.data = apr_psprintf(session.Pool(), "%.*s", pParams->next_marker.len,
                                        pParams->next_marker.data ? pParams->next_marker.data : "");
    pParams->marker.len = pParams->next_marker.len;
    aos_str_null(&pParams->next_marker);
    aos_list_init(&pParams->object_list);
    aos_list_init(&pParams->common_prefix_list);
    if (pParams->truncated != 1) return EPage::Done;
    // A store that repeats its marker would make the listing endless.
    if (previous.len == pParams->marker.len &&
        memcmp(previous.data, pParams->marker.data, static_cast<size_t>(previous.len)) == 0) {
        nResult = -1;
        return EPage::Done;
    }
    return EPage::More;
}

_ST_OssOutcome List(const char* szEndPoint, const char* szAccessKeyId,
                    const char* szAccessKeySecret, const char* szBucketName,
                    const char* szSecurityToken, const char* szPrefix, IOssCallback* pCallback,
                    const bool* pbStop) {
    COssSession session;
    if (!session.IsInitialised()) return {-1, false};
    if (!session.BuildContext(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken, true))
        return {-1, false};
    aos_string_t bucket = OssString(szBucketName);
    const std::string strPrefix = szPrefix ? szPrefix : "";

    oss_list_object_params_t* pParams = oss_create_list_object_params(session.Pool());
    // "/" lists the bucket's top level.
    aos_str_set(&pParams->prefix, strPrefix == "/" ? "" : strPrefix.c_str());
    aos_str_set(&pParams->marker, "");
    aos_str_set(&pParams->delimiter, "/");
    pParams->max_ret = kPageKeys;

    while (!StopRequested(pbStop)) {
        int nResult = 0;
        switch (ListPage(session, bucket, pParams, strPrefix, pCallback, pbStop, nResult)) {
            case EPage::More:
                continue;
            case EPage::Stopped:
                return {0, true};
            case EPage::Done:
                return {nResult, nResult == 0};
        }
    }
    return {0, true};
}

}  // namespace

bool ListObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szBucketName, const char* szSecurityToken, const char* szPrefix,
                IOssCallback* pCallback, bool* pbStop) {
    return Finish(pCallback, List(szEndPoint, szAccessKeyId, szAccessKeySecret, szBucketName,
                                  szSecurityToken, szPrefix, pCallback, pbStop));
}
