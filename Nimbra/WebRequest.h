// CWebRequest: one HTTP request to the web API over a libcurl easy handle.
//
// Typical use: construct on the stack, AddHeader one or more whole header
// lines, DoGet or DoPost, then read GetResultText (on true) or IsNetError (on
// false). The object owns its easy handle from construction until CloseConn or
// destruction.
//
// A second request through the same object starts from whatever the first
// left: the easy handle is never reset (options set by the first request and
// cookies it received stay), the header lines added earlier are sent again
// together with any added since, and the response header text and header
// store keep what earlier requests stored and collect the new lines after it.
// The result text, status code, result code and the stop and network-error
// flags are replaced by every request that reaches the transfer. Only the
// handle's pointers into a POST body are dropped after each transfer, because
// that body belongs to the caller and is gone once DoPost returns.
#ifndef NIMBRA_WEBREQUEST_H
#define NIMBRA_WEBREQUEST_H

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// libcurl write callback for the in-memory body: appends the bytes (NUL bytes
// included) to the std::stringstream that pStream points to. Returns the byte
// count, or 0 when the bytes cannot be stored or would take the body past
// 4 MiB, which ends the transfer with a write error.
size_t write_data(char* pData, size_t nSize, size_t nCount, void* pStream);

// libcurl transfer-information callback. pClient is the address of the
// request's std::atomic<bool> stop flag; returns -1 once it is set, which
// aborts the transfer, and 0 otherwise. The counts are ignored.
int ProgressFunctionCallback(void* pClient, curl_off_t llDlTotal, curl_off_t llDlNow,
                             curl_off_t llUlTotal, curl_off_t llUlNow);

class CWebRequest {
public:
    // strCaFile empty: the peer is not verified. Otherwise every request
    // verifies the peer's certificate against that CA file (PEM) alone and
    // its name, and refuses a redirect that leaves the requested https host
    // and port (a failed request, logged).
    explicit CWebRequest(std::string strCaFile = std::string());
    ~CWebRequest();
    CWebRequest(const CWebRequest&) = delete;
    CWebRequest& operator=(const CWebRequest&) = delete;

    // Appends one whole header line ("Name: value"); sent unchanged.
    CWebRequest& AddHeader(std::string strHeader);

    bool DoGet(const std::string& strUrl);
    // The body is handed to libcurl without a copy; it is only read during the
    // call.
    bool DoPost(const std::string& strUrl, const std::string& strBody);
    // Sends one request and classifies the outcome; true only for a completed
    // transfer with status 200 or 201.
    bool SendUrl(bool bPost, const std::string& strUrl, const std::string& strBody);

    // The body of later requests goes to pFp instead of the result text. The
    // caller keeps ownership; the stream is flushed after every chunk, and a
    // chunk that cannot be fully written ends the transfer with a write error.
    void SetWriteFp(FILE* pFp);
    // Opens strPath ("rb") as the POST body source, streamed chunked. Call at
    // most once per object. False, and no source, when it cannot be opened.
    bool SetUploadAddress(const std::string& strPath);
    // POSTs without the content-encoding, cipher-list and verbose options.
    void SetSimplify();
    // Accepted for interface compatibility; no request uses a proxy.
    void SetProxy(std::string strProxy);
    // Aborts the running transfer (CURLE_ABORTED_BY_CALLBACK). Callable from
    // any thread; a stop made before a request is forgotten when it starts.
    void Stop();
    // Closes the upload source and the easy handle; later requests fail.
    void CloseConn();

    int GetStatusCode() const;
    int GetCurlCode() const;
    bool IsNetError() const;
    std::string GetResultText() const;
    std::string GetResponseHeader() const;
    std::multimap<std::string, std::string> GetResponseHeaders() const;
    // Value of the first stored field named exactly strName ("" when none),
    // with its leading blank and trailing CR LF.
    std::string SearchResponseHeader(std::string strName) const;
    // Values of all fields named exactly strName, in arrival order.
    std::vector<std::string> SearchResponseHeaders(std::string strName) const;

    // libcurl callbacks; pUserp is the request object (ReadFunctionCallback:
    // the upload stream).
    static size_t WriteFunctionCallback(char* pData, size_t nSize, size_t nCount, void* pUserp);
    static size_t WriteHeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUserp);
    static size_t ReadFunctionCallback(char* pBuffer, size_t nSize, size_t nCount, void* pUserp);
    size_t OnWriteFunction(const char* pData, size_t nSize, size_t nCount);
    // Stores one response header line: the raw text, and "Name: value" lines
    // also as a field (name before the first ':', value everything after it).
    // Takes every byte (lines past 4 MiB of header text are not kept), except
    // that with a CA file it refuses a redirect that leaves the requested
    // https origin, which ends the transfer.
    size_t OnWriteHeader(const char* pData, size_t nSize, size_t nCount);

private:
    void SetVerification();
    // Whether a redirect answer's Location may be followed.
    bool RedirectAllowed(const std::string& strLocation) const;
    void SetRequestOptions(bool bPost, const std::string& strUrl, const std::string& strBody,
                           curl_slist* pHeaderList, void* pBodyStream);

    std::vector<std::string> m_vecHeaders;
    int32_t m_nStatusCode;
    int32_t m_nCurlCode;
    std::string m_strResult;
    std::string m_strResponseHeader;
    FILE* m_pUploadFp;
    FILE* m_pWriteFp;
    CURL* m_pCurl;
    std::atomic<bool> m_bStop;
    bool m_bExtendedPost;
    bool m_bNetError;
    std::multimap<std::string, std::string> m_mapResponseHeaders;
    std::string m_strCaFile;
    std::string m_strUrl;     // as requested, for the redirect check
    int m_nHeaderStatus = 0;  // of the answer whose header lines arrive
};

#endif  // NIMBRA_WEBREQUEST_H
