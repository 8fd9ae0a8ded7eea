// The log formats that tell why a call failed, as the library hands them to
// LogHandlerA (verbatim, with the arguments named beside each). The host
// kit's Diagnose (tools/hostkit), built with the library, names a failure's
// cause for every host by matching the rendered lines against them.
#ifndef NIMBRA_LOGTEXTS_H
#define NIMBRA_LOGTEXTS_H

// The web request, logged under this function name.
inline constexpr char kLogFunctionSendUrl[] = "SendUrl";
inline constexpr char kLogSendUrlNoHandle[] = "ERR:curl_easy_init";
inline constexpr char kLogSendUrlOk[] = "[Post]: SUCESS\n";
// libcurl's result code and the HTTP status: a transfer that ended without one...
inline constexpr char kLogSendUrlNoStatus[] = "ERR:m_nCurlCode = %d,m_nStatusCode = %d\n";
// ...and every other failure.
inline constexpr char kLogSendUrlFailed[] = "ERR:res = %d,rescode = %d\n";

// The manager's web API requests, each after the failed request's own line.
inline constexpr char kLogStsKeyFailed[] = "GetStsKey fail!";
inline constexpr char kLogInsertFailed[] = "InsertUserInfo fail!";
inline constexpr char kLogInsertSucceeded[] = "InsertUserInfo success!";
inline constexpr char kLogUsedSpaceFailed[] = "getUserSpace fail!";
inline constexpr char kLogRecordsFailed[] = "GetUserUploadSize fail!";
inline constexpr char kLogDeleteRecordsFailed[] = "deleteUser %s fail!";  // the user name

// The store's error code, logged before a failed part's line.
inline constexpr char kLogStoreErrorCode[] = "error code: %s";
// Failed store requests; the one %s of each is the store's error message.
inline constexpr char kLogInitFailed[] = "Init multipart upload failed, %s\n";
// The part's nominal end offset, the message, the status code.
inline constexpr char kLogPartFailed[] = "Multipart upload part from file failed, %lld, %s, %d\n";
inline constexpr char kLogListPartsFailed[] = "List multipart failed, %s\n";
inline constexpr char kLogCompleteFailed[] = "Complete multipart upload from file failed, %s\n";
inline constexpr char kLogMetaFailed[] = "oss_get_object_meta fail, %s";
inline constexpr char kLogRangeFailed[] = "oss_get_object_to_file fail, %s";
inline constexpr char kLogDeleteFailed[] = "delete object fail, %s";
// The store operations' lines that tell of no failure: the upload id; the
// upload id and the local path; an expired token about to be refreshed.
inline constexpr char kLogInitSucceeded[] = "Init multipart upload succeeded, upload_id:%.*s\n";
inline constexpr char kLogCompleteSucceeded[] =
    "Complete multipart upload from file succeeded, upload_id:%.*s %s\n";
inline constexpr char kLogTokenExpired[] = "sts expire , try again!";

#endif  // NIMBRA_LOGTEXTS_H
