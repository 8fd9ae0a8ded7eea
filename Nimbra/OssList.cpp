// Object listing: one level below a prefix, 500 keys a page, objects as file
// entries and common prefixes as folder entries, each page handed to the
// host before the next is requested. The host may stop it through its own
// bool.
#include <string>
#include <vector>

#include "Nimbra/OssContext.h"
#include "Nimbra/OssListEntry.h"
#include "Nimbra/OssOperate.h"
#include "Nimbra/OssOutcome.h"

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

// Requests one page into a child pool, builds its entries and hands them to
// the host. Moves the marker on: strMarker holds it and the parameters point
// at it, so the markers of a long listing do not pile up in the operation's
// pool. Goes on while the store says more pages follow.
_ST_OssOutcome ListPage(const COssSession& session, const aos_string_t& bucket,
                        oss_list_object_params_t* pParams, std::string& strMarker,
                        const std::string& strPrefix, IOssCallback* pCallback, const bool* pbStop) {
    COssChildPool page(session);
    if (!page.IsValid()) return OssFailed(-1);
    aos_status_t* pStatus = oss_list_object(page.Options(), &bucket, pParams, nullptr);
    if (!StatusOk(pStatus)) return OssFailed(TransferResultOf(StatusCode(pStatus)));

    std::vector<_ST_RemotePathInfo> vecPage;
    oss_list_object_content_t* pObject;
    aos_list_for_each_entry(oss_list_object_content_t, pObject, &pParams->object_list, node) {
        if (StopRequested(pbStop)) return OssStopped(true);
        // The folder's own marker object gives no entry.
        if (aos_string_equals(&pObject->key, strPrefix.c_str())) continue;
        vecPage.push_back(ListFileEntry(strPrefix, Text(pObject->key), Text(pObject->size),
                                        Text(pObject->last_modified)));
    }
    oss_list_object_common_prefix_t* pCommon;
    aos_list_for_each_entry(oss_list_object_common_prefix_t, pCommon, &pParams->common_prefix_list,
                            node) {
        if (StopRequested(pbStop)) return OssStopped(true);
        _ST_RemotePathInfo info;
        if (ListFolderEntry(strPrefix, Text(pCommon->prefix), info)) vecPage.push_back(info);
    }
    Report(pCallback, 0, 0, &vecPage);

    std::string strNext = Text(pParams->next_marker);
    aos_str_null(&pParams->next_marker);
    aos_list_init(&pParams->object_list);
    aos_list_init(&pParams->common_prefix_list);
    if (pParams->truncated != 1) return OssDone();
    // Keys come in byte order, so each page's marker lies beyond the last;
    // one that does not (a store that goes back or repeats itself) would
    // make the listing endless.
    if (strNext.compare(strMarker) <= 0) return OssFailed(-1);
    strMarker.swap(strNext);
    aos_str_set(&pParams->marker, strMarker.c_str());
    return OssGoOn();
}

_ST_OssOutcome List(const char* szEndPoint, const char* szAccessKeyId,
                    const char* szAccessKeySecret, const char* szBucketName,
                    const char* szSecurityToken, const char* szPrefix, IOssCallback* pCallback,
                    const bool* pbStop) {
    COssSession session(szEndPoint, szAccessKeyId, szAccessKeySecret, szSecurityToken);
    if (!session.IsOpen()) return OssFailed(-1);
    const aos_string_t bucket = OssString(szBucketName);
    const std::string strPrefix = szPrefix ? szPrefix : "";

    oss_list_object_params_t* pParams = oss_create_list_object_params(session.Pool());
    // "/" lists the bucket's top level.
    aos_str_set(&pParams->prefix, strPrefix == "/" ? "" : strPrefix.c_str());
    std::string strMarker;
    aos_str_set(&pParams->marker, strMarker.c_str());
    aos_str_set(&pParams->delimiter, "/");
    pParams->max_ret = kPageKeys;

    while (!StopRequested(pbStop)) {
        const _ST_OssOutcome page =
            ListPage(session, bucket, pParams, strMarker, strPrefix, pCallback, pbStop);
        if (page.bEnded) return page;
    }
    return OssStopped(true);
}

}  // namespace

bool ListObject(const char* szEndPoint, const char* szAccessKeyId, const char* szAccessKeySecret,
                const char* szBucketName, const char* szSecurityToken, const char* szPrefix,
                IOssCallback* pCallback, bool* pbStop) {
    return Finish(pCallback, List(szEndPoint, szAccessKeyId, szAccessKeySecret, szBucketName,
                                  szSecurityToken, szPrefix, pCallback, pbStop));
}
