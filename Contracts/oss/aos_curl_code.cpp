#include "Contracts/oss/aos_curl_code.h"

#include <stddef.h>

#include "Contracts/oss/aos_define.h"

namespace {

const struct {
    CURLcode curl;
    int code;
} kCurlCodeTable[] = {
    {CURLE_OK, AOSE_OK},
    // The name of the store (or proxy) did not resolve.
    {CURLE_COULDNT_RESOLVE_HOST, AOSE_NAME_LOOKUP_ERROR},
    {CURLE_COULDNT_RESOLVE_PROXY, AOSE_NAME_LOOKUP_ERROR},
    // No connection, or it broke before the answer was complete.
    {CURLE_COULDNT_CONNECT, AOSE_CONNECTION_FAILED},
    {CURLE_SEND_ERROR, AOSE_CONNECTION_FAILED},
    {CURLE_RECV_ERROR, AOSE_CONNECTION_FAILED},
    {CURLE_PARTIAL_FILE, AOSE_CONNECTION_FAILED},
    {CURLE_GOT_NOTHING, AOSE_CONNECTION_FAILED},
    {CURLE_SSL_CONNECT_ERROR, AOSE_CONNECTION_FAILED},
    {CURLE_HTTP2, AOSE_CONNECTION_FAILED},
    {CURLE_HTTP2_STREAM, AOSE_CONNECTION_FAILED},
#if LIBCURL_VERSION_NUM >= 0x074900  // the proxy handshake's own code, from 7.73
    {CURLE_PROXY, AOSE_CONNECTION_FAILED},
#endif
    // Too slow or no progress.
    {CURLE_OPERATION_TIMEDOUT, AOSE_REQUEST_TIMEOUT},
    // The peer could not be verified.
    {CURLE_PEER_FAILED_VERIFICATION, AOSE_FAILED_VERIFICATION},
    {CURLE_SSL_CACERT_BADFILE, AOSE_FAILED_VERIFICATION},
    {CURLE_SSL_CERTPROBLEM, AOSE_FAILED_VERIFICATION},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, AOSE_FAILED_VERIFICATION},
    {CURLE_SSL_ISSUER_ERROR, AOSE_FAILED_VERIFICATION},
    {CURLE_SSL_INVALIDCERTSTATUS, AOSE_FAILED_VERIFICATION},
    // The answer was not HTTP as the store speaks it (our URLs are always
    // http or https, so an unsupported protocol is an HTTP/0.9-like reply).
    {CURLE_WEIRD_SERVER_REPLY, AOSE_SERVICE_ERROR},
    {CURLE_UNSUPPORTED_PROTOCOL, AOSE_SERVICE_ERROR},
    {CURLE_BAD_CONTENT_ENCODING, AOSE_SERVICE_ERROR},
    // Local body source and sink.
    {CURLE_READ_ERROR, AOSE_READ_BODY_ERROR},
    {CURLE_FILE_COULDNT_READ_FILE, AOSE_OPEN_FILE_ERROR},
    {CURLE_WRITE_ERROR, AOSE_WRITE_BODY_ERROR},
    {CURLE_OUT_OF_MEMORY, AOSE_OUT_MEMORY},
    // Bad request set-up.
    {CURLE_URL_MALFORMAT, AOSE_INVALID_ARGUMENT},
    {CURLE_BAD_FUNCTION_ARGUMENT, AOSE_INVALID_ARGUMENT},
    {CURLE_FAILED_INIT, AOSE_FAILED_INITIALIZE},
};

}  // namespace

int aos_curl_code_to_status(CURLcode code) {
    for (size_t i = 0; i < sizeof(kCurlCodeTable) / sizeof(kCurlCodeTable[0]); ++i) {
        if (kCurlCodeTable[i].curl == code) return kCurlCodeTable[i].code;
    }
    return AOSE_INTERNAL_ERROR;
}
