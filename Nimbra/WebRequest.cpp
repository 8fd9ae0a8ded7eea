#include "Nimbra/WebRequest.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <new>
#include <sstream>
#include <type_traits>
#include <utility>

#include "Contracts/LogHandler.h"
#include "KestLib/KestLib.h"
#include "Nimbra/LogTexts.h"

namespace {

constexpr const char* kLogFile = "Nimbra/WebRequest";

constexpr long kConnectTimeoutSec = 60;
constexpr long kTransferTimeoutSec = 600;
constexpr long kReceiveBufferSize = 524288;
constexpr long kMaxPostRedirects = 50;
constexpr const char* kPostAcceptEncoding = "GoogleAuth/1.4 ; gzip";
constexpr const char* kPostCipherList =
    "ECDHE+AESGCM:ECDHE+CHACHA20:DHE+AESGCM:DHE+CHACHA20:ECDH+AES:DH+AES:RSA+AESGCM:RSA+AES:!aNULL:"
    "!eNULL:!MD5:!DSS";
constexpr const char* kUserAgent = "curl/7.75.0";
// The most a request keeps of an answer's body, and of its header lines,
// counted as delivered (after content decoding). Credentials or a page of 50
// records take a few KiB; beyond this the peer is broken or hostile: a body
// ends the transfer with a write error, header lines are no longer kept.
constexpr size_t kMaxKeptBytes = 4 * 1024 * 1024;

bool FitsKept(size_t nKept, size_t nMore) {
    return nMore <= kMaxKeptBytes && nKept <= kMaxKeptBytes - nMore;
}

struct SlistDeleter {
    void operator()(curl_slist* pList) const { curl_slist_free_all(pList); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// Result codes that mean the network, not the server, failed the request.
bool IsNetworkFailure(CURLcode eCode) {
    switch (eCode) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return true;
        default:
            return false;
    }
}

// The header lines as a libcurl list, in order; null without lines. Null with
// CURLE_OUT_OF_MEMORY in eCode when a line cannot be appended.
SlistPtr BuildHeaderList(const std::vector<std::string>& vecHeaders, CURLcode& eCode) {
    SlistPtr pList;
    eCode = CURLE_OK;
    for (const std::string& strLine : vecHeaders) {
        curl_slist* pHead = curl_slist_append(pList.get(), strLine.c_str());
        if (pHead == nullptr) {
            eCode = CURLE_OUT_OF_MEMORY;
            return nullptr;
        }
        (void)pList.release();  // pHead is the same list, now one longer
        pList.reset(pHead);
    }
    return pList;
}

struct UrlDeleter {
    void operator()(CURLU* pUrl) const { curl_url_cleanup(pUrl); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// "scheme://host:port" of a parsed URL (the scheme's default port when none
// is given), lower case; "" when a part is missing.
std::string OriginOf(CURLU* pUrl) {
    std::string strOrigin;
    for (CURLUPart ePart : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char* szPart = nullptr;
        if (curl_url_get(pUrl, ePart, &szPart, CURLU_DEFAULT_PORT) != CURLUE_OK) return "";
        strOrigin += szPart;
        strOrigin += ePart == CURLUPART_SCHEME ? "://" : ePart == CURLUPART_HOST ? ":" : "";
        curl_free(szPart);
    }
    for (char& c : strOrigin) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return strOrigin;
}

}  // namespace

// The callbacks below run inside libcurl's C code, so nothing may propagate
// out of them: a failure to store data is reported as 0 bytes handled, which
// makes libcurl end the transfer with a write error.

size_t write_data(char* pData, size_t nSize, size_t nCount, void* pStream) {
    const size_t nBytes = nSize * nCount;
    try {
        auto* pBody = static_cast<std::stringstream*>(pStream);
        const std::streamoff llKept = pBody->tellp();
        if (llKept < 0 || !FitsKept(static_cast<size_t>(llKept), nBytes)) return 0;
        pBody->write(static_cast<const char*>(pData), static_cast<std::streamsize>(nBytes));
        return pBody->good() ? nBytes : 0;
    } catch (...) {
        return 0;
    }
}

int ProgressFunctionCallback(void* pClient, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(pClient)->load() ? -1 : 0;
}

// The callbacks are handed to libcurl's variadic setopt, so pin their types.
static_assert(std::is_same<decltype(&write_data), curl_write_callback>::value, "");
static_assert(std::is_same<decltype(&ProgressFunctionCallback), curl_xferinfo_callback>::value, "");
static_assert(
    std::is_same<decltype(&CWebRequest::WriteFunctionCallback), curl_write_callback>::value, "");
static_assert(std::is_same<decltype(&CWebRequest::WriteHeaderCallback), curl_write_callback>::value,
              "");
static_assert(std::is_same<decltype(&CWebRequest::ReadFunctionCallback), curl_read_callback>::value,
              "");

CWebRequest::CWebRequest(std::string strCaFile)
    : m_vecHeaders(),
      m_nStatusCode(0),
      m_nCurlCode(0),
      m_strResult(),
      m_strResponseHeader(),
      m_pUploadFp(nullptr),
      m_pWriteFp(nullptr),
      m_pCurl(nullptr),
      m_bStop(false),
      m_bExtendedPost(true),
      m_bNetError(false),
      m_mapResponseHeaders(),
      m_strCaFile(std::move(strCaFile)) {
    curl_global_init(CURL_GLOBAL_ALL);
    m_pCurl = curl_easy_init();
}

CWebRequest::~CWebRequest() {
    CloseConn();
}

CWebRequest& CWebRequest::AddHeader(std::string strHeader) {
    m_vecHeaders.push_back(std::move(strHeader));
    return *this;
}

bool CWebRequest::DoGet(const std::string& strUrl) {
    return SendUrl(false, strUrl, std::string());
}

bool CWebRequest::DoPost(const std::string& strUrl, const std::string& strBody) {
    return SendUrl(true, strUrl, strBody);
}

void CWebRequest::SetRequestOptions(bool bPost, const std::string& strUrl,
                                    const std::string& strBody, curl_slist* pHeaderList,
                                    void* pBodyStream) {
    CURL* pCurl = m_pCurl;
    curl_easy_setopt(pCurl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSec);
    curl_easy_setopt(pCurl, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaderList);
    curl_easy_setopt(pCurl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFODATA, static_cast<void*>(&m_bStop));
    curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, &ProgressFunctionCallback);
    if (m_pWriteFp != nullptr) {
        curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, static_cast<void*>(this));
        curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &CWebRequest::WriteFunctionCallback);
    } else {
        curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, &write_data);
        curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, pBodyStream);
    }
    curl_easy_setopt(pCurl, CURLOPT_TIMEOUT, kTransferTimeoutSec);
    curl_easy_setopt(pCurl, CURLOPT_HEADERDATA, static_cast<void*>(this));
    curl_easy_setopt(pCurl, CURLOPT_HEADERFUNCTION, &CWebRequest::WriteHeaderCallback);
    curl_easy_setopt(pCurl, CURLOPT_COOKIEFILE, "");
    if (!bPost) {
        curl_easy_setopt(pCurl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(pCurl, CURLOPT_POST, 1L);
        if (m_pUploadFp != nullptr) {
            // No size given: libcurl sends the stream chunked.
            curl_easy_setopt(pCurl, CURLOPT_READFUNCTION, &CWebRequest::ReadFunctionCallback);
            curl_easy_setopt(pCurl, CURLOPT_READDATA, static_cast<void*>(m_pUploadFp));
        } else {
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, strBody.c_str());
            curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE, static_cast<long>(strBody.size()));
        }
        if (m_bExtendedPost) {
            curl_easy_setopt(pCurl, CURLOPT_ACCEPT_ENCODING, kPostAcceptEncoding);
            curl_easy_setopt(pCurl, CURLOPT_SSL_CIPHER_LIST, kPostCipherList);
            curl_easy_setopt(pCurl, CURLOPT_VERBOSE, 1L);
        }
        curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(pCurl, CURLOPT_MAXREDIRS, kMaxPostRedirects);
        curl_easy_setopt(pCurl, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(pCurl, CURLOPT_SSL_ENABLE_ALPN, 0L);
        // NPN is obsolete and ignored by current libcurl; set for the peer's
        // benefit on older builds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        curl_easy_setopt(pCurl, CURLOPT_SSL_ENABLE_NPN, 0L);
#pragma GCC diagnostic pop
        curl_easy_setopt(pCurl, CURLOPT_SSL_VERIFYSTATUS, 0L);
        curl_easy_setopt(pCurl, CURLOPT_SSL_SESSIONID_CACHE, 1L);
        curl_easy_setopt(pCurl, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(pCurl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
        curl_easy_setopt(pCurl, CURLOPT_CERTINFO, 1L);
        curl_easy_setopt(pCurl, CURLOPT_HEADER, 1L);
    }
    curl_easy_setopt(pCurl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(pCurl, CURLOPT_SSL_VERIFYHOST, 1L);
    curl_easy_setopt(pCurl, CURLOPT_USERAGENT, kUserAgent);
    m_strUrl = strUrl;
    if (!m_strCaFile.empty()) SetVerification();
}

void CWebRequest::SetVerification() {
    curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(m_pCurl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(m_pCurl, CURLOPT_CAINFO, m_strCaFile.c_str());
    // The CA file alone: no system certificate directory or store.
    curl_easy_setopt(m_pCurl, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(m_pCurl, CURLOPT_SSL_OPTIONS, 0L);
    // Redirects to https only (besides the check of each Location below); the
    // option by name since libcurl 7.85, as a bit mask before.
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(m_pCurl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
#else
    curl_easy_setopt(m_pCurl, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTPS));
#endif
}

bool CWebRequest::RedirectAllowed(const std::string& strLocation) const {
    // The Location resolved against the answer's own URL must have the
    // requested URL's origin, with https.
    const char* szCurrent = nullptr;
    curl_easy_getinfo(m_pCurl, CURLINFO_EFFECTIVE_URL, &szCurrent);
    UrlPtr pTarget(curl_url()), pRequested(curl_url());
    if (!pTarget || !pRequested || szCurrent == nullptr ||
        curl_url_set(pTarget.get(), CURLUPART_URL, szCurrent, 0) != CURLUE_OK ||
        curl_url_set(pTarget.get(), CURLUPART_URL, strLocation.c_str(), 0) != CURLUE_OK ||
        curl_url_set(pRequested.get(), CURLUPART_URL, m_strUrl.c_str(), 0) != CURLUE_OK)
        return false;
    const std::string strOrigin = OriginOf(pTarget.get());
    return strOrigin.compare(0, 8, "https://") == 0 && strOrigin == OriginOf(pRequested.get());
}

bool CWebRequest::SendUrl(bool bPost, const std::string& strUrl, const std::string& strBody) {
    m_bNetError = false;
    m_bStop = false;
    if (m_pCurl == nullptr) {
        LogHandlerA(kLogFunctionSendUrl, kLogFile, __LINE__, 1, kLogSendUrlNoHandle);
        return false;
    }

    std::stringstream ssBody(std::ios::in | std::ios::out | std::ios::binary);
    CURLcode eCode = CURLE_OK;
    SlistPtr pHeaderList = BuildHeaderList(m_vecHeaders, eCode);
    long nStatus = 0;
    if (eCode == CURLE_OK) {
        SetRequestOptions(bPost, strUrl, strBody, pHeaderList.get(), &ssBody);
        eCode = curl_easy_perform(m_pCurl);
        curl_easy_getinfo(m_pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
        if (bPost && m_pUploadFp == nullptr) {
            // The handle must not keep pointing at the caller's body.
            curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
            curl_easy_setopt(m_pCurl, CURLOPT_POSTFIELDSIZE, -1L);
        }
    }
    m_nCurlCode = static_cast<int32_t>(eCode);
    m_nStatusCode = static_cast<int32_t>(nStatus);

    if (eCode == CURLE_OK && (nStatus == 200 || nStatus == 201)) {
        m_strResult = ssBody.str();
        LogHandlerA(kLogFunctionSendUrl, kLogFile, __LINE__, 1, kLogSendUrlOk);
        return true;
    }
    if (eCode == CURLE_OK && nStatus == 0) {
        m_bNetError = true;
        m_strResult.clear();
        LogHandlerA(kLogFunctionSendUrl, kLogFile, __LINE__, 1, kLogSendUrlNoStatus, m_nCurlCode,
                    m_nStatusCode);
        return false;
    }
    m_bNetError = IsNetworkFailure(eCode);
    m_strResult = ssBody.str();
    LogHandlerA(kLogFunctionSendUrl, kLogFile, __LINE__, 1, kLogSendUrlFailed, m_nCurlCode,
                m_nStatusCode);
    return false;
}

void CWebRequest::SetWriteFp(FILE* pFp) {
    m_pWriteFp = pFp;
}

bool CWebRequest::SetUploadAddress(const std::string& strPath) {
    if (m_pUploadFp != nullptr) {
        fclose(m_pUploadFp);
        m_pUploadFp = nullptr;
    }
    m_pUploadFp = KestLib::FileOpenA(strPath, "rb");
    return m_pUploadFp != nullptr;
}

void CWebRequest::SetSimplify() {
    m_bExtendedPost = false;
}

void CWebRequest::SetProxy(std::string) {}

void CWebRequest::Stop() {
    m_bStop = true;
}

void CWebRequest::CloseConn() {
    if (m_pUploadFp != nullptr) {
        fclose(m_pUploadFp);
        m_pUploadFp = nullptr;
    }
    if (m_pCurl != nullptr) {
        curl_easy_cleanup(m_pCurl);
        m_pCurl = nullptr;
    }
}

int CWebRequest::GetStatusCode() const {
    return m_nStatusCode;
}

int CWebRequest::GetCurlCode() const {
    return m_nCurlCode;
}

bool CWebRequest::IsNetError() const {
    return m_bNetError;
}

std::string CWebRequest::GetResultText() const {
    return m_strResult;
}

std::string CWebRequest::GetResponseHeader() const {
    return m_strResponseHeader;
}

std::multimap<std::string, std::string> CWebRequest::GetResponseHeaders() const {
    return m_mapResponseHeaders;
}

std::string CWebRequest::SearchResponseHeader(std::string strName) const {
    auto it = m_mapResponseHeaders.find(strName);
    return it == m_mapResponseHeaders.end() ? std::string() : it->second;
}

std::vector<std::string> CWebRequest::SearchResponseHeaders(std::string strName) const {
    std::vector<std::string> vecValues;
    auto range = m_mapResponseHeaders.equal_range(strName);
    for (auto it = range.first; it != range.second; ++it) vecValues.push_back(it->second);
    return vecValues;
}

size_t CWebRequest::WriteFunctionCallback(char* pData, size_t nSize, size_t nCount, void* pUserp) {
    return static_cast<CWebRequest*>(pUserp)->OnWriteFunction(pData, nSize, nCount);
}

size_t CWebRequest::WriteHeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUserp) {
    return static_cast<CWebRequest*>(pUserp)->OnWriteHeader(pData, nSize, nCount);
}

size_t CWebRequest::ReadFunctionCallback(char* pBuffer, size_t nSize, size_t nCount, void* pUserp) {
    return fread(pBuffer, nSize, nCount, static_cast<FILE*>(pUserp));
}

size_t CWebRequest::OnWriteFunction(const char* pData, size_t nSize, size_t nCount) {
    const size_t nBytes = nSize * nCount;
    if (m_pWriteFp != nullptr) {
        // Report only what reached the file: a short count makes libcurl end
        // the transfer with a write error rather than lose data silently.
        const size_t nWritten = fwrite(pData, 1, nBytes, m_pWriteFp);
        if (fflush(m_pWriteFp) != 0) return 0;
        return nWritten;
    }
    if (!FitsKept(m_strResult.size(), nBytes)) return 0;
    try {
        m_strResult.append(static_cast<const char*>(pData), nBytes);
        return nBytes;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

size_t CWebRequest::OnWriteHeader(const char* pData, size_t nSize, size_t nCount) {
    const size_t nBytes = nSize * nCount;
    try {
        const std::string strLine(static_cast<const char*>(pData), nBytes);
        if (strLine.compare(0, 5, "HTTP/") == 0) {
            const size_t nSpace = strLine.find(' ');
            m_nHeaderStatus = nSpace == std::string::npos ? 0 : atoi(strLine.c_str() + nSpace + 1);
        }
        if (!m_strCaFile.empty() && m_nHeaderStatus / 100 == 3 &&
            strncasecmp(strLine.c_str(), "Location:", 9) == 0) {
            const size_t nFirst = strLine.find_first_not_of(" \t", 9);
            const size_t nLast = strLine.find_last_not_of(" \t\r\n");
            const std::string strTarget =
                nFirst == std::string::npos ? "" : strLine.substr(nFirst, nLast + 1 - nFirst);
            if (!RedirectAllowed(strTarget)) {
                LogHandlerA(kLogFunctionSendUrl, kLogFile, __LINE__, 1,
                            "ERR:redirect to %s refused", strTarget.c_str());
                return 0;
            }
        }
        // Past the bound, lines are taken but not kept, so an endless header
        // or chain of redirects cannot exhaust memory (libcurl bounds one
        // line itself); apart from a refused redirect, header handling never
        // ends a transfer.
        if (!FitsKept(m_strResponseHeader.size(), nBytes)) return nBytes;
        m_strResponseHeader += strLine;
        const size_t nColon = strLine.find(':');
        if (nColon != std::string::npos) {
            // multimap inserts after existing equal keys: arrival order kept.
            m_mapResponseHeaders.emplace(strLine.substr(0, nColon), strLine.substr(nColon + 1));
        }
        return nBytes;
    } catch (const std::bad_alloc&) {
        return nBytes;
    }
}
